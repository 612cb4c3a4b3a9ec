#!/usr/bin/env bash
# Builds VelmarinSetup.exe and starts it under Wine. With a display the setup runs there for
# you to use; without one it runs on a private Xvfb screen, and a screenshot of its first page
# is saved as build/screenshots/run.png.
source "$(dirname "$0")/env.sh"
ensure_packages
enter_i386_emulation "$0" "$@"
build_all
headless=0
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then headless=1; fi
ensure_display
ensure_prefix
start_wineserver
trap stop_session EXIT
if [ "$headless" = 0 ]; then
    wine "$BUILD/VelmarinSetup.exe" || true
    exit 0
fi
wine "$BUILD/VelmarinSetup.exe" &
for _ in $(seq 100); do
    xdotool search --name "岚舟浏览器 3.2 正式版 安装" >/dev/null 2>&1 && break
    sleep 0.1
done
sleep 1
mkdir -p "$BUILD/screenshots"
import -window root "$BUILD/screenshots/run.png"
echo "Screenshot of the first page: $BUILD/screenshots/run.png"
