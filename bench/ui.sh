#!/usr/bin/env bash
# Runs the user-interface timings under Wine (after tools/test.sh or tools/run.sh built them).
# It installs the stand-in browser into the prefix's Program Files, as the quick install does.
source "$(dirname "$0")/../tools/env.sh"
ensure_display
ensure_prefix
start_wineserver
trap stop_session EXIT
wine "$BUILD/bench/ui_bench.exe" "$(winepath -w "$BUILD/VelmarinSetup.exe")" "$(winepath -w "$BUILD/bench/min_dialog.exe")"
