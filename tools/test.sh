#!/usr/bin/env bash
# Builds the setup and runs the whole test suite under Wine, on a private Xvfb screen.
source "$(dirname "$0")/env.sh"
ensure_packages
enter_i386_emulation "$0" "$@"
build_all
ensure_display private
ensure_prefix
ensure_prefix64
start_wineserver
trap stop_session EXIT
cd "$BUILD"
ctest --output-on-failure -j1 "$@"
