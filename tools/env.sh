# Shared by tools/run.sh and tools/test.sh: installs what the build and the Wine runs need,
# configures and builds, and prepares a throwaway Wine prefix inside the build folder.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEDEBUG=-all
# Keep Wine from offering to download Mono or Gecko: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="

PACKAGES="cmake make g++-mingw-w64-i686-posix binutils-mingw-w64-i686 g++-mingw-w64-x86-64-posix
          binutils-mingw-w64-x86-64 googletest wine wine32:i386 wine64 nsis
          xvfb x11-utils xdotool imagemagick icoutils fonts-wqy-microhei osslsigncode openssl msitools wixl faketime
          python3-jsonschema python3-yaml xz-utils dpkg-dev time"

# The setup is a 32-bit program, built and tested as one in build/. Most users run it on 64-bit
# Windows, so every end-to-end road runs it in a 64-bit prefix; where 32-bit programs run
# natively the roads also run in a 32-bit prefix. How 32-bit programs run (I386_ROUTE):
#   native    the kernel runs them;
#   emulated  it does not ("Exec format error" from Wine's 32-bit loader), so Wine's 32-bit half
#             runs under qemu-i386, hooked in through binfmt_misc in a private user namespace
#             around the whole run (see enter_i386_emulation); there is no 32-bit prefix;
#   none      neither: the same sources are built as 64-bit Windows programs in build-x64/ and
#             tested in a 64-bit prefix, and the 32-bit setup is only built.
# VELMARIN_WINDOWS_ARCH=x86_64 chooses the last by hand.
select_architecture() {
    local arch=${VELMARIN_WINDOWS_ARCH:-i686}
    I386_ROUTE=native
    if [ -n "${VELMARIN_I386_EMULATION:-}" ]; then
        I386_ROUTE=emulated
    elif [ -e /usr/lib/wine/wine ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
        I386_ROUTE=none
        i386_emulation_works && I386_ROUTE=emulated
    fi
    [ "$I386_ROUTE" = none ] && arch=x86_64
    [ "$arch" = x86_64 ] && I386_ROUTE=none
    WINDOWS_ARCH=$arch
    ARCH_ARGS=""
    if [ "$arch" = x86_64 ]; then
        ARCH_ARGS="-DCMAKE_TOOLCHAIN_FILE=$ROOT/cmake/mingw-x86_64.cmake"
        BUILD=${VELMARIN_BUILD_DIR:-$ROOT/build-x64}
    else
        BUILD=${VELMARIN_BUILD_DIR:-$ROOT/build}
    fi
    PREFIX64="$BUILD/wineprefix64"
    if [ "$I386_ROUTE" = native ]; then
        export WINEARCH=win32 WINEPREFIX="$BUILD/wineprefix"
        ARCH_ARGS="$ARCH_ARGS -DVELMARIN_WIN32_PREFIX=ON"
    else
        # Only the 64-bit prefix. Debian's "wine" prefers the 32-bit loader whenever it is
        # installed: a shim in the build folder goes straight to the 64-bit one, for this script
        # and all it starts, which itself hands 32-bit programs to the 32-bit loader.
        export WINEARCH=win64 WINEPREFIX="$PREFIX64"
        [ "$arch" = i686 ] && ARCH_ARGS="$ARCH_ARGS -DVELMARIN_WIN32_PREFIX=OFF"
        mkdir -p "$BUILD/wine-bin"
        local name
        for name in wine wine-stable; do  # winepath and the other tools call "wine-stable"
            printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' > "$BUILD/wine-bin/$name"
            chmod +x "$BUILD/wine-bin/$name"
        done
        case ":$PATH:" in *":$BUILD/wine-bin:"*) ;; *) export PATH="$BUILD/wine-bin:$PATH" ;; esac
    fi
}

# qemu-i386 magic for 32-bit x86 ELF programs, as qemu's own binfmt.d entry has it. The flags:
# F opens the emulator now, so it serves every mount namespace below; P passes argv[0] on.
I386_BINFMT=':velmarin-i386:M::\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\xfc\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:FP'

# Since Linux 6.7 each user namespace has a binfmt_misc of its own: the route changes nothing
# outside the run, and 64-bit programs still run natively.
i386_emulation_works() {
    [ -x /usr/bin/qemu-i386 ] || return 1
    unshare --user --map-root-user --mount sh -c \
        'mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc && printf "%s" "$1" > /proc/sys/fs/binfmt_misc/register && /usr/lib/wine/wine --version' \
        sh "$I386_BINFMT" >/dev/null 2>&1
}

as_root() {
    if [ "$(id -u)" -ne 0 ]; then sudo "$@"; else "$@"; fi
}

# qemu-user 10 from Debian's backports: bookworm's 7.2 needs QEMU_RESERVED_VA with Wine and then
# takes about a minute a program. The backports line takes the address of the system's own
# Debian source. gcc-multilib builds the preload library below.
ensure_i386_emulation_packages() {
    local version
    version=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null || true)
    if [ -n "$version" ] && dpkg --compare-versions "$version" ge 1:10 &&
        dpkg-query -W -f='${Status}' gcc-multilib 2>/dev/null | grep -q "install ok installed"; then
        return 0
    fi
    local list=/etc/apt/sources.list.d/velmarin-backports.sources uri=""
    if [ ! -f "$list" ]; then
        uri=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
        [ -n "$uri" ] || uri=$(awk '$1 == "deb" && $3 ~ /^bookworm/ { print $2; exit }' /etc/apt/sources.list 2>/dev/null || true)
        [ -n "$uri" ] || { echo "No Debian source found for bookworm-backports" >&2; return 1; }
        printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
            "$uri" | as_root tee "$list" >/dev/null
    fi
    echo "Installing: qemu-user (bookworm-backports) gcc-multilib"
    apt_update
    apt_install --no-install-recommends -t bookworm-backports qemu-user
    apt_install --no-install-recommends gcc-multilib
}

# qemu-i386 hands fault signals to Wine with a trap number of -1; the preload library puts the
# right one back (tools/qemu-i386/trapno.c). $LIB picks the i386 build for the 32-bit loader and
# its empty x86-64 twin for every 64-bit process.
build_trapno_library() {
    local source=$ROOT/tools/qemu-i386/trapno.c out=$BUILD/qemu-i386
    local lib32=$out/lib/i386-linux-gnu/libvelmarin-trapno.so lib64=$out/lib/x86_64-linux-gnu/libvelmarin-trapno.so
    if [ ! -f "$lib32" ] || [ "$source" -nt "$lib32" ] || [ ! -f "$lib64" ]; then
        mkdir -p "$(dirname "$lib32")" "$(dirname "$lib64")"
        cc -m32 -O2 -Wall -shared -fPIC -o "$lib32" "$source" -ldl
        cc -O2 -Wall -shared -fPIC -o "$lib64" "$source"
    fi
    export LD_PRELOAD="$out/\$LIB/libvelmarin-trapno.so"
}

# Runs the calling script again inside a private user namespace where binfmt_misc hands 32-bit
# programs to qemu-i386, when that is the route; returns at once otherwise or when inside.
enter_i386_emulation() {
    [ "$I386_ROUTE" = emulated ] || return 0
    [ -z "${VELMARIN_I386_EMULATION:-}" ] || return 0
    export VELMARIN_I386_EMULATION=1
    exec unshare --user --map-root-user --mount bash -c \
        'mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc && printf "%s" "$1" > /proc/sys/fs/binfmt_misc/register || exit 1; shift; exec "$@"' \
        bash "$I386_BINFMT" bash "$@"
}

select_architecture

# apt-get update, tried again while an index fails: a mirror in the middle of a sync serves a
# Release file naming sizes its indexes do not have yet ("File has unexpected size ... Mirror
# sync in progress?"). After the last try it goes on with the indexes it has; the ones that
# failed are named again if the install then fails.
APT_FAILED_INDEXES=""
apt_update() {
    local log try
    log=$(mktemp)
    for try in 1 2 3 4; do
        if as_root apt-get update -qq >"$log" 2>&1 && ! grep -q '^[EW]: Failed to fetch' "$log"; then
            APT_FAILED_INDEXES=""
            rm -f "$log"
            return 0
        fi
        APT_FAILED_INDEXES=$(sed -n 's/^[EW]: Failed to fetch \([^ ]*\).*/\1/p' "$log" | sort -u | tr '\n' ' ')
        [ -n "$APT_FAILED_INDEXES" ] || APT_FAILED_INDEXES="(apt-get update: $(grep -m1 '^E:' "$log" || echo failed))"
        [ "$try" -lt 4 ] || break
        echo "apt-get update: an index failed: $APT_FAILED_INDEXES; trying again in $((try * 15)) s" >&2
        sleep $((try * 15))
    done
    echo "apt-get update: going on without $APT_FAILED_INDEXES" >&2
    rm -f "$log"
    return 0
}

# apt preferences that keep both architectures to the indexes both have: every suite one of
# whose indexes failed to download is held below the others for this install (priority 100,
# as what is installed already), so that a package both architectures install (Multi-Arch:
# same, one version on both) comes in a version both list, and nothing installed is downgraded.
pins_without_failed_suites() {
    local suite
    for suite in $(printf '%s\n' $APT_FAILED_INDEXES | sed -n 's|.*/dists/\([^/]*\)/.*|\1|p' | sort -u); do
        printf 'Package: *\nPin: release n=%s\nPin-Priority: 100\n\n' "$suite"
    done
}

# apt-get install; where it fails, once more with both architectures held to versions both list;
# where that fails too, one message that says what happened, and the run stops.
apt_install() {
    local log held
    log=$(mktemp)
    if DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq "$@" >"$log" 2>&1; then
        rm -f "$log"
        return 0
    fi
    held=$(mktemp)
    pins_without_failed_suites >"$held"
    if [ -s "$held" ]; then
        echo "apt-get install failed; trying again with both architectures held to the versions both list" \
            "(without the suites whose indexes failed)" >&2
        chmod a+r "$held"
        if DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq -o Dir::Etc::Preferences="$held" "$@" >"$log" 2>&1; then
            rm -f "$log" "$held"
            return 0
        fi
    fi
    grep -E '^(E:| )' "$log" | head -n 15 >&2
    local unknown
    unknown=$(sed -n -e "s/^E: Unable to locate package \(.*\)/\1/p" \
                     -e "s/^E: Package '\([^']*\)' has no installation candidate/\1/p" "$log" | sort -u | tr '\n' ' ')
    rm -f "$log" "$held"
    if [ -n "$unknown" ]; then
        echo "Could not install the packages the build needs: no package index lists ${unknown}(removed or renamed in Debian?)." >&2
        [ -z "$APT_FAILED_INDEXES" ] || echo "These indexes failed to download and may list it: $APT_FAILED_INDEXES Try again later." >&2
    elif [ -n "$APT_FAILED_INDEXES" ]; then
        echo "Could not install the packages the build needs: these package indexes failed to download: $APT_FAILED_INDEXES" >&2
        echo "The package mirror is probably in the middle of a sync. Try again later." >&2
    else
        echo "Could not install the packages the build needs (apt-get's words above). Try again later, or install them by hand: $*" >&2
    fi
    exit 100
}

# The payload program's liblzma is built from Debian's source package of xz-utils, which apt
# fetches through a deb-src line (tools/payload/xz-source.sh): one for the suites the system
# already installs from, at the addresses it already uses, where it has none. Once the source is
# in a build folder, builds there need neither the line nor the network.
ensure_source_index() {
    local list=/etc/apt/sources.list.d/velmarin-source.sources main="" security=""
    [ -f "$list" ] && return 1
    grep -rqsE '^(Types:.*deb-src|deb-src .* bookworm)' /etc/apt/sources.list /etc/apt/sources.list.d/ && return 1
    main=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
    [ -n "$main" ] || main=$(awk '$1 == "deb" && $3 == "bookworm" { print $2; exit }' /etc/apt/sources.list 2>/dev/null || true)
    security=$(awk '/^URIs:/ { u = $2 } /^Suites:.*bookworm-security/ { print u; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
    [ -n "$security" ] || security=$(awk '$1 == "deb" && $3 == "bookworm-security" { print $2; exit }' /etc/apt/sources.list 2>/dev/null || true)
    [ -n "$main" ] || { echo "No Debian source found for bookworm: no deb-src line added" >&2; return 1; }
    {
        printf 'Types: deb-src\nURIs: %s\nSuites: bookworm bookworm-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' "$main"
        [ -z "$security" ] || printf '\nTypes: deb-src\nURIs: %s\nSuites: bookworm-security\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' "$security"
    } | as_root tee "$list" >/dev/null
    echo "Added the deb-src lines of bookworm ($list) for the source of liblzma"
    return 0
}

ensure_packages() {
    local missing=""
    for p in $PACKAGES; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
    done
    if [ -n "$missing" ]; then
        echo "Installing:$missing"
        as_root dpkg --add-architecture i386
        ensure_source_index || true
        apt_update
        apt_install $missing
    elif ensure_source_index; then
        apt_update
    fi
    if [ -z "${VELMARIN_I386_EMULATION:-}" ] && [ "${VELMARIN_WINDOWS_ARCH:-}" != x86_64 ] &&
        ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
        ensure_i386_emulation_packages || echo "No qemu-i386 route: testing a 64-bit build instead" >&2
    fi
    select_architecture
    [ "$I386_ROUTE" = emulated ] && build_trapno_library
    return 0
}

build_all() {
    if [ "$WINDOWS_ARCH" = x86_64 ]; then
        # The shipped 32-bit setup first, in build/, then the 64-bit build that is tested.
        (cd "$ROOT" && cmake --preset cross -DVELMARIN_BUILD_TESTS=OFF ${VELMARIN_CMAKE_ARGS:-} >/dev/null)
        cmake --build "$ROOT/build" -j"$(nproc)" --target VelmarinSetup
    else
        # A 64-bit setup of the same sources beside it, with a planted DLL and a probe of its
        # own: the planted-DLL road runs both builds.
        local x64=${VELMARIN_X64_BUILD_DIR:-$ROOT/build-x64}
        (cd "$ROOT" && cmake --preset cross -B "$x64" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake" \
            ${VELMARIN_CMAKE_ARGS:-} >/dev/null)
        cmake --build "$x64" -j"$(nproc)" --target VelmarinSetup planted dll_probe
        ARCH_ARGS="$ARCH_ARGS -DVELMARIN_X64_BUILD_DIR=$x64"
    fi
    (cd "$ROOT" && cmake --preset cross -B "$BUILD" $ARCH_ARGS ${VELMARIN_CMAKE_ARGS:-} >/dev/null)
    cmake --build "$BUILD" -j"$(nproc)"
}

XVFB_PID=""
# Uses the current display, or a private Xvfb screen when there is none. With "private" it
# always starts its own screen (the tests move the pointer and must not use yours).
ensure_display() {
    if [ "${1:-}" != private ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
    local n=91
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
    echo "Xvfb did not start" >&2
    return 1
}

# The prefix of the tested build: 32-bit where 32-bit programs run natively, else 64-bit.
ensure_prefix() {
    prepare_prefix "$WINEPREFIX" "$WINEARCH"
    map_test_drives "$WINEPREFIX" "$WINEARCH"
}

# The 64-bit prefix beside the 32-bit one, where 32-bit programs run natively.
ensure_prefix64() {
    [ "$I386_ROUTE" = native ] || return 0
    prepare_prefix "$PREFIX64" win64
    map_test_drives "$PREFIX64" win64
}

# Drive R: is a folder of the build that a test takes away, as a removed USB drive goes. Drive
# Y: is a network drive, as a mapped share is (Wine's mount manager reads the type when its
# server starts, which start_wineserver does afresh).
map_test_drives() {
    local prefix=$1 arch=$2 view=""
    [ "$arch" = win64 ] && view=/reg:64
    mkdir -p "$BUILD/removable-drive" "$BUILD/network-drive"
    ln -sfn "$BUILD/removable-drive" "$prefix/dosdevices/r:"
    ln -sfn "$BUILD/network-drive" "$prefix/dosdevices/y:"
    WINEPREFIX="$prefix" WINEARCH="$arch" wine reg add 'HKLM\Software\Wine\Drives' /v y: /t REG_SZ /d network /f $view \
        >/dev/null 2>&1 || true
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
