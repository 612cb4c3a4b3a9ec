#!/usr/bin/env bash
# Every program and DLL that ships asks for a random address (DYNAMIC_BASE, with its relocations
# kept, or the loader cannot move it) and for data never run as code (NX_COMPAT); a 64-bit one
# for addresses from the whole space too (HIGH_ENTROPY_VA). Read from each file's PE header.
#   hardening.sh <objdump> <file>...
set -euo pipefail
objdump=$1
shift
failed=0
for file in "$@"; do
    header=$("$objdump" -p "$file")
    # objdump writes "DllCharacteristics 00000140" and "Characteristics 0x30e".
    characteristics=$(awk '$1 == "DllCharacteristics" { sub(/^0x/, "", $2); print $2; exit }' <<<"$header")
    image=$(awk '$1 == "Characteristics" { sub(/^0x/, "", $2); print $2; exit }' <<<"$header")
    characteristics=$((16#${characteristics:-0}))
    image=$((16#${image:-1}))
    wanted=$((0x40 | 0x100))
    grep -q '^Magic.*020b' <<<"$header" && wanted=$((wanted | 0x20))
    missing=()
    [ $((characteristics & 0x40)) -ne 0 ] || missing+=(DYNAMIC_BASE)
    [ $((characteristics & 0x100)) -ne 0 ] || missing+=(NX_COMPAT)
    [ $((wanted & 0x20)) -eq 0 ] || [ $((characteristics & 0x20)) -ne 0 ] || missing+=(HIGH_ENTROPY_VA)
    # Relocations stripped (IMAGE_FILE_RELOCS_STRIPPED), or no table of them: the image cannot move.
    [ $((image & 0x1)) -eq 0 ] || missing+=(relocations)
    sections=$("$objdump" -h "$file")
    grep -q ' \.reloc ' <<<"$sections" || missing+=(.reloc)
    if [ ${#missing[@]} -gt 0 ]; then
        echo "$(basename "$file"): lacks ${missing[*]} (DllCharacteristics $(printf '%04x' "$characteristics"))"
        failed=1
    else
        echo "$(basename "$file"): DllCharacteristics $(printf '%04x' "$characteristics")"
    fi
done
exit $failed
