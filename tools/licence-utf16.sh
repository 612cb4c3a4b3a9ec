#!/bin/sh
# Converts an agreement text (UTF-8, LF: the licence, the privacy notice) into the resource form: UTF-16LE with a byte-order
# mark and CR LF line ends.
set -e
printf '\377\376' > "$2"
sed 's/$/\r/' "$1" | iconv -f UTF-8 -t UTF-16LE >> "$2"
