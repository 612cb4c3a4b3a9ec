#!/usr/bin/env bash
# A setup built from a foreign browser file set, as a vendor builds one, and installed under Wine:
# a Velmarin.exe of another version, a skin file far deeper than the stand-in's, hundreds of
# files; and a set that lacks a file the setup always installs, which the build refuses.
#     foreign-payload.sh <source folder> <build folder> <wine-run.sh> <e2e_tests.exe> <toolchain file>
set -euo pipefail
source_dir=$1
build_dir=$2
wine_run=$3
e2e_tests=$4
toolchain=$5
work="$build_dir/foreign-payload"
rm -rf "$work"
set="$work/browser"
mkdir -p "$work"
cp -r "$build_dir/payload-files" "$set"
rm -f "$set"/velmarin-*.log
cp "$build_dir/foreign-browser/Velmarin.exe" "$set/Velmarin.exe"
deep="$set/Skin/Frost_Glass/themes/aurora-night/toolbar/hover-state/large-icons-for-high-dpi"
mkdir -p "$deep"
printf 'deep' > "$deep/navigation-back-pressed.png"
mkdir -p "$set/Skin/Frost_Glass/icons"
for i in $(seq -w 1 300); do printf 'icon %s' "$i" > "$set/Skin/Frost_Glass/icons/icon-$i.png"; done
printf 'never installed' > "$set/readme-vendor.txt"

configure() {
    (cd "$source_dir" && cmake --preset cross -B "$1" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVELMARIN_XZ_DIR="$build_dir/xz-utils" \
        -DVELMARIN_BUILD_TESTS=OFF -DVELMARIN_PAYLOAD_DIR="$2" >/dev/null)
}

# A set without PlgTabs is refused by the build's check of the file set, with the file named.
lacking="$work/lacking"
cp -r "$set" "$lacking"
rm -rf "$lacking/Extensions/PlgTabs"
if cmake -DSOURCE_DIR="$lacking" -DMANIFEST="$work/lacking-manifest.txt" -DVERSION_HEADER="$work/lacking.h" \
        -DWRESTOOL="$(command -v wrestool)" -P "$source_dir/tools/payload/manifest.cmake" > "$work/lacking.log" 2>&1; then
    echo "FAIL: a file set without PlgTabs.dll passed the build's check"
    exit 1
fi
grep -q "always installs" "$work/lacking.log" && grep -q "Extensions/PlgTabs/PlgTabs.dll" "$work/lacking.log" \
    || { echo "FAIL: no clear message for the missing file:"; cat "$work/lacking.log"; exit 1; }
echo "ok: a set that lacks PlgTabs.dll is refused by name"

configure "$work/build" "$set"
cmake --build "$work/build" --target VelmarinSetup -j"$(nproc)" > "$work/build.log" 2>&1 || { tail -30 "$work/build.log"; exit 1; }
grep -q "never installs these files" "$work/build.log" && grep -q "readme-vendor.txt" "$work/build.log" \
    || { echo "FAIL: no warning about the file nothing installs"; exit 1; }
echo "ok: the build warns about readme-vendor.txt, which nothing installs"

VELMARIN_SETUP_EXE="$work/build/VelmarinSetup.exe" VELMARIN_PAYLOAD_SET="$set" \
    "$wine_run" "$e2e_tests" --gtest_filter=CustomInstall.AForeignFileSetDecidesVersionDepthAndSize
