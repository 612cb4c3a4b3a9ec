# Shared by tools/run.sh and tools/test.sh: installs what the build and the Wine runs need,
# configures and builds, and prepares a throwaway Wine prefix inside the build folder.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEDEBUG=-all
# Keep Wine from offering to download Mono or Gecko: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="

PACKAGES="cmake make g++-mingw-w64-i686-posix binutils-mingw-w64-i686 g++-mingw-w64-x86-64-posix
          binutils-mingw-w64-x86-64 googletest wine wine32:i386 wine64 nsis
          xvfb x11-utils xdotool imagemagick icoutils fonts-wqy-microhei osslsigncode openssl"

# The setup is a 32-bit program, built and tested as one in a 32-bit prefix in build/. Some
# machines' kernels run no 32-bit programs at all (Wine's 32-bit loader fails with "Exec format
# error"): there the same sources are built as 64-bit Windows programs in build-x64/ and tested
# in a 64-bit prefix, and the 32-bit setup is still built beside them. VELMARIN_WINDOWS_ARCH
# (i686 or x86_64) chooses by hand.
select_architecture() {
    local arch=${VELMARIN_WINDOWS_ARCH:-}
    if [ -z "$arch" ]; then
        arch=i686
        if [ -e /usr/lib/wine/wine ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then arch=x86_64; fi
    fi
    WINDOWS_ARCH=$arch
    ARCH_ARGS=""
    if [ "$arch" = x86_64 ]; then
        ARCH_ARGS="-DCMAKE_TOOLCHAIN_FILE=$ROOT/cmake/mingw-x86_64.cmake"
        BUILD=${VELMARIN_BUILD_DIR:-$ROOT/build-x64}
        export WINEARCH=win64
        # Debian's "wine" prefers the 32-bit loader whenever it is installed: a shim in the
        # build folder goes straight to the 64-bit one, for this script and all it starts.
        mkdir -p "$BUILD/wine-bin"
        local name
        for name in wine wine-stable; do  # winepath and the other tools call "wine-stable"
            printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' > "$BUILD/wine-bin/$name"
            chmod +x "$BUILD/wine-bin/$name"
        done
        case ":$PATH:" in *":$BUILD/wine-bin:"*) ;; *) export PATH="$BUILD/wine-bin:$PATH" ;; esac
    else
        BUILD=${VELMARIN_BUILD_DIR:-$ROOT/build}
        export WINEARCH=win32
    fi
    export WINEPREFIX="$BUILD/wineprefix"
    # A 64-bit prefix beside the 32-bit one: most users run the 32-bit setup on 64-bit Windows.
    PREFIX64="$BUILD/wineprefix64"
}
select_architecture

ensure_packages() {
    local missing=""
    for p in $PACKAGES; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
    done
    [ -z "$missing" ] && return 0
    echo "Installing:$missing"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo dpkg --add-architecture i386
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing >/dev/null
    select_architecture
}

build_all() {
    if [ "$WINDOWS_ARCH" = x86_64 ]; then
        # The shipped 32-bit setup first, in build/, then the 64-bit build that is tested.
        (cd "$ROOT" && cmake --preset cross -DVELMARIN_BUILD_TESTS=OFF ${VELMARIN_CMAKE_ARGS:-} >/dev/null)
        cmake --build "$ROOT/build" -j"$(nproc)" --target VelmarinSetup
        (cd "$ROOT" && cmake --preset cross -B "$BUILD" $ARCH_ARGS ${VELMARIN_CMAKE_ARGS:-} >/dev/null)
    else
        (cd "$ROOT" && cmake --preset cross -B "$BUILD" ${VELMARIN_CMAKE_ARGS:-} >/dev/null)
    fi
    cmake --build "$BUILD" -j"$(nproc)"
}

XVFB_PID=""
# Uses the current display, or a private Xvfb screen when there is none. With "private" it
# always starts its own screen (the tests move the pointer and must not use yours).
ensure_display() {
    if [ "${1:-}" != private ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
    local n=91
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
    echo "Xvfb did not start" >&2
    return 1
}

ensure_prefix() {
    prepare_prefix "$WINEPREFIX" "$WINEARCH"
    # Drive R: is a folder of the build that a test takes away, as a removed USB drive goes.
    mkdir -p "$BUILD/removable-drive"
    ln -sfn "$BUILD/removable-drive" "$WINEPREFIX/dosdevices/r:"
}

# Only where 32-bit programs run: the 32-bit setup on 64-bit Windows.
ensure_prefix64() {
    [ "$WINDOWS_ARCH" = i686 ] || return 0
    prepare_prefix "$PREFIX64" win64
}

prepare_prefix() {
    local prefix=$1 arch=$2 loader=wine
    [ "$arch" = win64 ] && loader=/usr/lib/wine/wine64
    (
        export WINEPREFIX="$prefix" WINEARCH="$arch"
        if [ ! -f "$prefix/system.reg" ]; then
            "$loader" wineboot -i >/dev/null 2>&1 || true
            wineserver -w
        fi
        # Wine draws the caption's minimise, maximise and close buttons with its Marlett font,
        # which it does not find where Debian installs it ("0 1 r" instead): the prefix's
        # Fonts folder gets a copy.
        local marlett=/usr/share/wine/fonts/marlett.ttf
        [ -f "$marlett" ] && cp -n "$marlett" "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
        # No window manager under Xvfb: unmanaged windows close without Wine's 2 s wait.
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
        # Chinese faces the setup asks for, mapped to the installed CJK font.
        local face
        for face in "宋体" "SimSun" "微软雅黑" "Microsoft YaHei" "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma"; do
            wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
        done
    )
}

start_wineserver() {
    # A persistent server spares every Wine process a cold start. The server itself, not
    # Debian's wrapper: the wrapper adds "-p0", which ends the server with its last client.
    local server=/usr/lib/wine/wineserver64
    [ -x "$server" ] || server=/usr/lib/wine/wineserver32
    [ -x "$server" ] || server=wineserver
    # A server left from an earlier session keeps the prefix and its own (short) persistence.
    "$server" -k </dev/null >/dev/null 2>&1 || true
    "$server" -p </dev/null >/dev/null 2>&1 || true
    if [ -d "$PREFIX64" ]; then
        WINEPREFIX="$PREFIX64" "$server" -k </dev/null >/dev/null 2>&1 || true
        WINEPREFIX="$PREFIX64" "$server" -p </dev/null >/dev/null 2>&1 || true
    fi
    # Wine's own services start with the first program and inherit its output: started here,
    # with the output going nowhere, they never hold open a pipe that CTest reads to its end.
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
    [ -d "$PREFIX64" ] && WINEPREFIX="$PREFIX64" WINEARCH=win64 wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

stop_session() {
    wineserver -k >/dev/null 2>&1 || true
    [ -d "$PREFIX64" ] && WINEPREFIX="$PREFIX64" wineserver -k >/dev/null 2>&1 || true
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
}
