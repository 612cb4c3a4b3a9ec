#!/usr/bin/env bash
# The source of the liblzma that the payload program decodes with: Debian's own source package of
# xz-utils, one pinned version. apt fetches it and checks the .dsc against the signed source
# index; dpkg-source checks the tarballs against the .dsc and applies Debian's patches.
#     xz-source.sh <folder>
# leaves the patched tree in <folder>/xz-utils-5.4.1 and keeps the fetched files beside it, so
# that a tree removed is unpacked again without the network. Nothing is fetched once it is there.
set -euo pipefail
version=5.4.1-1+deb12u1
folder=$1
tree="$folder/xz-utils-5.4.1"
stamp="$tree/.velmarin-source"
[ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version" ] && exit 0
mkdir -p "$folder"
cd "$folder"
dsc="xz-utils_$version.dsc"
if [ ! -f "$dsc" ]; then
    if ! apt-get source --download-only --only-source "xz-utils=$version" > fetch.log 2>&1; then
        grep -E '^(E|W):' fetch.log | head -n 5 >&2 || true
        echo "Could not fetch Debian's source package xz-utils $version with apt-get source. The build" \
            "needs it once: with a deb-src line for bookworm and bookworm-security (tools/env.sh adds" \
            "one) and the network; or put $dsc and the files it names into $folder" \
            "(-DVELMARIN_XZ_DIR= names another folder)." >&2
        rm -f "$dsc"
        exit 1
    fi
fi
rm -rf "$tree"
# The tarballs are checked against the .dsc; its own signature needs a keyring of the Debian
# developers that apt's check of the .dsc already makes unnecessary.
if ! dpkg-source --no-copy -x "$dsc" "$tree" > unpack.log 2>&1; then
    cat unpack.log >&2
    echo "The fetched source package xz-utils $version in $folder does not match its .dsc." >&2
    rm -rf "$tree"
    exit 1
fi
echo "$version" > "$stamp"
