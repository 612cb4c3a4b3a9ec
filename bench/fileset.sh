# Shared by the benchmarks that need a real-sized payload (sourced after tools/env.sh).

# The file set of a real-sized payload in `$1`: the stand-in browser of the last build plus 70 MB
# of real 32-bit Windows programs (the machine's own Wine DLLs, copied at benchmark time and
# never committed) in the skin folder.
make_real_sized_file_set() {
    local set_dir=$1 dlls=/usr/lib/i386-linux-gnu/wine/i386-windows total=0 dll
    rm -rf "$set_dir"
    cp -r "$BUILD/payload-files" "$set_dir"
    rm -f "$set_dir"/velmarin-*.log
    mkdir -p "$set_dir/Skin/Frost_Glass/lib"
    for dll in $(ls -S "$dlls"/*.dll); do
        [ "$total" -ge $((70 * 1024 * 1024)) ] && break
        cp "$dll" "$set_dir/Skin/Frost_Glass/lib/"
        total=$((total + $(stat -c %s "$dll")))
    done
    echo "file set: $(find "$set_dir" -type f | wc -l) files, $((total / 1024 / 1024)) MB of Windows DLLs"
}

# A setup in the build folder `$3` that packs the file set `$1` with the solid compressor `$2`.
build_setup_with_file_set() {
    local set_dir=$1 compressor=$2 out=$3
    (cd "$ROOT" && cmake --preset cross -B "$out" --no-warn-unused-cli $ARCH_ARGS -DVELMARIN_BUILD_TESTS=OFF \
        -DVELMARIN_PAYLOAD_DIR="$set_dir" -DVELMARIN_PAYLOAD_COMPRESSOR="$compressor" >/dev/null)
    # The payload's rule does not see a file of the set change: it is packed again every time.
    rm -f "$out/velmarin3zip.exe"
    cmake --build "$out" --target VelmarinSetup -j"$(nproc)" >/dev/null
}
