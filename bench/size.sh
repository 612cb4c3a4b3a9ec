#!/usr/bin/env bash
# Prints the size of VelmarinSetup.exe without its payload resource (the budget is 250 KB).
# Run after a build (tools/run.sh or tools/test.sh).
set -euo pipefail
BUILD=${1:-$(dirname "$0")/../build}
exe=$BUILD/VelmarinSetup.exe
payload=$BUILD/velmarin3zip.exe
total=$(stat -c %s "$exe")
carried=$(stat -c %s "$payload")
echo "VelmarinSetup.exe: $total bytes in all, payload $carried bytes"
echo "without the payload: $((total - carried)) bytes ($(( (total - carried + 1023) / 1024 )) KB of 250 KB)"
