#!/usr/bin/env bash
# Packs a browser file set as the payload program's stream: the files of the list (the payload
# manifest's order) one after another, compressed as one .xz stream of independent blocks of
# <block KiB> each, x86 BCJ and LZMA2 at preset 9e, CRC64 for each block. A last block of more than
# half that size goes in two halves: it is decoded while the other threads have nothing left, and
# two threads finish it in about half the time, for one more block's start. Run as
#     pack.sh <xz> <file set> <file list> <manifest> <block KiB> <output>
# xz's multi-threaded encoder writes each block's sizes into its header, which the payload
# program checks against the stream's index, and gives the same bytes with any number of
# threads: the build machine's cores only make it sooner. A dictionary beyond a block is never
# used: it is the block's size, which is also what each decoding thread needs for it.
set -euo pipefail
xz=$1 set_dir=$2 list=$3 manifest=$4 block_kib=$5 out=$6
[[ "$block_kib" =~ ^[1-9][0-9]*$ ]] || { echo "pack.sh: the block size is a number of KiB, not '$block_kib'" >&2; exit 1; }
threads=$(nproc 2>/dev/null || echo 1)
total=$(awk '$1 == "total" { print $2; exit }' "$manifest")
[[ "$total" =~ ^[0-9]+$ ]] || { echo "pack.sh: $manifest names no total size" >&2; exit 1; }
block=$((block_kib * 1024)) full=$((total / block)) rest=$((total % block)) sizes=
for ((i = 0; i < full; ++i)); do
    sizes+=${sizes:+,}$block
done
if ((rest > block / 2)); then
    sizes+=${sizes:+,}$(((rest + 1) / 2)),$((rest / 2))
elif ((rest > 0)); then
    sizes+=${sizes:+,}$rest
fi
while IFS= read -r file; do
    cat -- "$set_dir/$file"
done < "$list" | "$xz" --format=xz --check=crc64 --x86 --lzma2="preset=9e,dict=${block_kib}KiB" \
    --block-size=$block ${sizes:+--block-list=$sizes} --threads="+$threads" --no-adjust --stdout > "$out.new"
# The stream holds exactly the manifest's bytes.
packed=$("$xz" --robot --list "$out.new" | awk '$1 == "totals" { print $5 }')
if [ "$packed" != "$total" ]; then
    echo "pack.sh: the stream holds $packed bytes, the manifest's files $total" >&2
    rm -f "$out.new"
    exit 1
fi
mv -f "$out.new" "$out"
