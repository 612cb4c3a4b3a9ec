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

# A setup in the build folder `$2` that packs the file set `$1`, with the liblzma source of the
# last build.
build_setup_with_file_set() {
    local set_dir=$1 out=$2
    (cd "$ROOT" && cmake --preset cross -B "$out" --no-warn-unused-cli $ARCH_ARGS -DVELMARIN_BUILD_TESTS=OFF \
        -DVELMARIN_XZ_DIR="$BUILD/xz-utils" -DVELMARIN_PAYLOAD_DIR="$set_dir" >/dev/null)
    # The payload's rule does not see a file of the set change: it is packed again every time.
    rm -f "$out/res/payload.xz"
    cmake --build "$out" --target VelmarinSetup block_bench -j"$(nproc)" >/dev/null
}

# The payload's sizes against xz's best of the same bytes (the files concatenated in the
# manifest's order, one block, x86 BCJ and LZMA2 at preset 9e, made once a set and kept) and
# against the NSIS installer `$3`; then each block decoded on its own (bench/block_bench.cpp).
print_payload_sizes_and_blocks() {
    local out=$1 set_dir=$2 peer=$3 stream=$1/res/payload.xz key reference
    key=$(cd "$set_dir" && xargs -d '\n' sha256sum < "$out/res/payload-files.txt" | sha256sum | cut -c1-16)
    reference="$BUILD/bench/one-block-$key.size"
    if [ ! -f "$reference" ]; then
        (cd "$set_dir" && xargs -d '\n' cat < "$out/res/payload-files.txt") |
            xz --format=xz --x86 --lzma2=preset=9e --threads=1 --stdout | wc -c > "$reference"
    fi
    local packed program one peer_size
    packed=$(stat -c %s "$stream")
    program=$(stat -c %s "$out/velmarin3zip.exe")
    one=$(cat "$reference")
    peer_size=$(stat -c %s "$peer")
    echo "== sizes: the payload's stream $packed bytes ($(xz --robot --list "$stream" | awk '$1 == "totals" { print $3 }') blocks)," \
        "the payload program $program, one block of xz --x86 --lzma2=preset=9e $one, the NSIS peer $peer_size"
    awk -v p="$packed" -v o="$one" -v n="$peer_size" -v e="$program" \
        'BEGIN { printf "stream / one block: %.3f, program / one block: %.3f, program / NSIS peer: %.3f\n", p / o, e / o, e / n }'
    echo "== each block decoded on its own, on one thread (the longest is what a core for every block takes)"
    wine "$out/bench/block_bench.exe" "$(winepath -w "$stream")"
}

# Runs a command line under Wine and prints its time in ms and the peak resident memory of the
# Windows process (Wine runs it in the process it starts) in KB; false when it did not end with 0.
measured_run() {
    local log start rc=0
    log=$(mktemp)
    start=$(date +%s%N)
    /usr/bin/time -o "$log" -f %M "$@" </dev/null >/dev/null 2>&1 || rc=$?
    echo "$((($(date +%s%N) - start) / 1000000)) $(tail -n 1 "$log")"
    rm -f "$log"
    return $rc
}
