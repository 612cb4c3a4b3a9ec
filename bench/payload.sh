#!/usr/bin/env bash
# The whole road with a real-sized payload: a 70 MB file set of real 32-bit Windows programs
# (the machine's own Wine DLLs, copied at benchmark time and never committed) beside the
# stand-in browser, packed once with each compressor. For each it prints the setup's size, the
# payload's extraction time, and "立即安装" to the finish page, pressed at once and after the
# extraction, against the animation's 1.2 s floor, and what checking the extraction against the
# payload manifest costs. Run after tools/test.sh or tools/run.sh.
source "$(dirname "$0")/../tools/env.sh"
source "$(dirname "$0")/fileset.sh"
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

set_dir="$BUILD/bench/real-sized-files"
make_real_sized_file_set "$set_dir"

for compressor in lzma zlib; do
    out="$BUILD/bench/setup-$compressor"
    build_setup_with_file_set "$set_dir" $compressor "$out"
    echo "== solid $compressor: setup $(($(stat -c %s "$out/VelmarinSetup.exe") / 1024)) KB"
    unpack="$BUILD/bench/unpacked-$compressor"
    rm -rf "$unpack"
    start=$(date +%s%N)
    wine "$out/velmarin3zip.exe" "/P=$(winepath -w "$unpack")" </dev/null >/dev/null 2>&1
    echo "extraction: $((($(date +%s%N) - start) / 1000000)) ms"
    # The check of the extraction the worker makes next, while the welcome page is read.
    wine "$BUILD/bench/hash_bench.exe" "$(winepath -w "$out/res/payload-manifest.txt")" "$(winepath -w "$unpack")"
    rm -rf "$unpack"
    for delay in 0 4000; do
        remove_installation
        wine "$BUILD/bench/ui_bench.exe" --road "$(winepath -w "$out/VelmarinSetup.exe")" $delay
    done
done
