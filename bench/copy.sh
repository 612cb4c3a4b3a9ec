#!/usr/bin/env bash
# Runs the copy-phase benchmark under Wine (after tools/test.sh or tools/run.sh built it).
source "$(dirname "$0")/../tools/env.sh"
ensure_display
ensure_prefix
wine "$BUILD/bench/copy_bench.exe"
