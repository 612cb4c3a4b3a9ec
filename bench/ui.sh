#!/usr/bin/env bash
# Runs the user-interface timings under Wine (after tools/test.sh or tools/run.sh built them).
# It installs the stand-in browser into the prefix's Program Files, as the quick install does,
# and takes it away again, before and after, so that the first page is the welcome page.
source "$(dirname "$0")/../tools/env.sh"
[ "$I386_ROUTE" = emulated ] && build_trapno_library
enter_i386_emulation "$0" "$@"
ensure_display
ensure_prefix
start_wineserver
remove_installation() {
    wine reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\Velmarin.exe' /f >/dev/null 2>&1 || true
    wine reg delete 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{7B2E91C4-3A5D-4f08-B6E2-91D4C07A5F13}' /f \
        >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX/drive_c/Program Files/Velmarin 3"
}
trap 'remove_installation; stop_session' EXIT
remove_installation
wine "$BUILD/bench/ui_bench.exe" "$(winepath -w "$BUILD/VelmarinSetup.exe")" "$(winepath -w "$BUILD/bench/min_dialog.exe")" \
    "$(winepath -w "$BUILD/bench/empty_mui2.exe")" "$(winepath -w "$BUILD/bench/min_dialog_cc6.exe")"
