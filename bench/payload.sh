#!/usr/bin/env bash
# The whole road with a real-sized payload: a 70 MB file set of real 32-bit Windows programs
# (the machine's own Wine DLLs, copied at benchmark time and never committed) beside the
# stand-in browser. It prints the setup's size, the payload program's unpacking with 1 and 2
# threads (time and peak memory), the payload's sizes and blocks against xz's one block and the
# NSIS peer (bench/peer.nsi), what checking the extraction against the payload manifest costs,
# and "立即安装" to the finish page, pressed at once and after the extraction, against the
# animation's 1.2 s floor. Run after tools/test.sh or tools/run.sh.
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

out="$BUILD/bench/setup-real"
build_setup_with_file_set "$set_dir" "$out"
echo "== setup $(($(stat -c %s "$out/VelmarinSetup.exe") / 1024)) KB"
for threads in 1 2 1 2; do
    unpack="$BUILD/bench/unpacked"
    rm -rf "$unpack"
    read -r took kb <<< "$(measured_run wine "$out/velmarin3zip.exe" /T=$threads "/P=$(winepath -w "$unpack")")"
    echo "extraction with $threads thread(s): $took ms, peak $kb KB"
done
# The check of the extraction the worker makes next, while the welcome page is read.
wine "$BUILD/bench/hash_bench.exe" "$(winepath -w "$out/res/payload-manifest.txt")" "$(winepath -w "$unpack")"
rm -rf "$unpack"
peer="$BUILD/bench/peer.exe"
nsis_target=""
[ "$WINDOWS_ARCH" = x86_64 ] && nsis_target=-DTARGET=amd64-unicode
makensis -V2 -DSOURCE_DIR="$set_dir" -DOUTFILE="$peer" $nsis_target "$ROOT/bench/peer.nsi"
print_payload_sizes_and_blocks "$out" "$set_dir" "$peer"
for delay in 0 4000; do
    remove_installation
    wine "$BUILD/bench/ui_bench.exe" --road "$(winepath -w "$out/VelmarinSetup.exe")" $delay
done
