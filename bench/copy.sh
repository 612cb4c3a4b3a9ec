#!/usr/bin/env bash
# Runs the copy-phase benchmark under Wine (after tools/test.sh or tools/run.sh built it).
source "$(dirname "$0")/../tools/env.sh"
[ "$I386_ROUTE" = emulated ] && build_trapno_library
enter_i386_emulation "$0" "$@"
ensure_display
ensure_prefix
wine "$BUILD/bench/copy_bench.exe"
