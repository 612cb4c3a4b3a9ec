#!/usr/bin/env bash
# Two builds of one commit, in two folders and at two times, give the same unsigned setup and
# Windows Installer package byte for byte: the build folder's own against ones built anew beside it.
#     reproducible.sh <source folder> <build folder> <toolchain file>
set -euo pipefail
source_dir=$1
build_dir=$2
toolchain=$3
other="$build_dir/reproducible/another folder"
rm -rf "$build_dir/reproducible"
mkdir -p "$other"
# liblzma's source from a folder of its own too: where it lies leaves no trace in the build.
cp -r "$build_dir/xz-utils" "$build_dir/reproducible/xz source"
(cd "$source_dir" && cmake --preset cross -B "$other" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVELMARIN_BUILD_TESTS=OFF \
    -DVELMARIN_XZ_DIR="$build_dir/reproducible/xz source" >/dev/null)
cmake --build "$other" --target VelmarinSetup VelmarinSetupMsi -j"$(nproc)" > "$build_dir/reproducible/build.log" 2>&1 \
    || { tail -30 "$build_dir/reproducible/build.log"; exit 1; }
if ! cmp -s "$build_dir/VelmarinSetup.exe" "$other/VelmarinSetup.exe"; then
    echo "FAIL: the two builds differ in $(cmp -l "$build_dir/VelmarinSetup.exe" "$other/VelmarinSetup.exe" 2>/dev/null | wc -l) bytes"
    for part in velmarin3zip.exe res/payload.xz res/payload-manifest.txt libvelmarin_lzma.a; do
        cmp -s "$build_dir/$part" "$other/$part" || echo "  $part differs"
    done
    exit 1
fi
echo "ok: two builds of this commit give the same VelmarinSetup.exe ($(sha256sum < "$other/VelmarinSetup.exe" | cut -c1-16)…)"
if ! cmp -s "$build_dir/VelmarinSetup.msi" "$other/VelmarinSetup.msi"; then
    echo "FAIL: the two packages differ in $(cmp -l "$build_dir/VelmarinSetup.msi" "$other/VelmarinSetup.msi" 2>/dev/null | wc -l) bytes"
    exit 1
fi
echo "ok: and the same VelmarinSetup.msi ($(sha256sum < "$other/VelmarinSetup.msi" | cut -c1-16)…)"
