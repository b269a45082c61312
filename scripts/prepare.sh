# shellcheck shell=bash
# Sourced by the entry scripts: which build of winprobe this machine runs, and
# building it. Some x86-64 kernels run no 32-bit code at all; there 32-bit
# Wine cannot start, whatever is installed, and the 64-bit build of the same
# sources stands in for it.
#   winprobe_choose_build   starts the Wine loaders to see which runs, then
#                           exports WINPROBE_ARCH (i686 or x64),
#                           WINPROBE_PRESET (mingw-i686 or mingw-x64) and
#                           WINPROBE_WINE (the loader that starts that build's
#                           programs), and says on stderr which build and why.
#                           Installs nothing: install-deps.sh comes first.
#                           Where neither build can run, it says why and ends
#                           the script with status 1.
#   winprobe_build [TARGET...]
#                           builds the chosen build (every target, or the ones
#                           named) and the shipped 32-bit exe, which the suite
#                           checks as a file even where it cannot run.
# WINPROBE_ARCH=i686 or WINPROBE_ARCH=x64 set beforehand forces that build.

# The one place that names the loaders: the tests run under them too (build
# passes the chosen one to CMake, behind wine-test.sh, as the cross-compiling
# emulator).
WINPROBE_WINE32=/usr/lib/wine/wine
WINPROBE_WINE64=/usr/lib/wine/wine64

# Starts a loader; where it fails, prints its last word on why.
winprobe_try_loader() {
    local out
    if out=$("$1" --version 2>&1); then
        return 0
    fi
    echo "$1: ${out##*: }"
    return 1
}

winprobe_use_build() {
    export WINPROBE_ARCH=$1
    export WINPROBE_PRESET=mingw-$1
    if [ "$1" = x64 ]; then
        export WINPROBE_WINE=$WINPROBE_WINE64
        # Wine starts every further process of this run through WINELOADER;
        # left unset, it would look for the 32-bit loader first.
        export WINELOADER=$WINPROBE_WINE64
    else
        export WINPROBE_WINE=$WINPROBE_WINE32
    fi
    echo "winprobe: the ${2}" >&2
}

winprobe_cannot_run() {
    echo "winprobe: $1" >&2
    echo "winprobe: scripts/install-deps.sh installs both Wines from Debian's packages" \
        "(wine, wine32:i386, wine64); a kernel that runs no 32-bit code needs the 64-bit one." >&2
    exit 1
}

winprobe_choose_build() {
    local why32 why64
    case ${WINPROBE_ARCH:-} in
    "")
        if why32=$(winprobe_try_loader "$WINPROBE_WINE32"); then
            winprobe_use_build i686 "32-bit build (i686): this machine runs 32-bit programs ($WINPROBE_WINE32 started)"
        elif why64=$(winprobe_try_loader "$WINPROBE_WINE64"); then
            winprobe_use_build x64 "64-bit build (x64): this machine runs no 32-bit programs ($why32)"
        else
            winprobe_cannot_run "neither Wine starts here, so no build of winprobe can run: $why32; $why64"
        fi
        ;;
    i686)
        why32=$(winprobe_try_loader "$WINPROBE_WINE32") ||
            winprobe_cannot_run "WINPROBE_ARCH=i686, but 32-bit Wine does not start here: $why32; leave WINPROBE_ARCH unset and the 64-bit build stands in"
        winprobe_use_build i686 "32-bit build (i686), as WINPROBE_ARCH asks"
        ;;
    x64)
        why64=$(winprobe_try_loader "$WINPROBE_WINE64") ||
            winprobe_cannot_run "WINPROBE_ARCH=x64, but 64-bit Wine does not start here: $why64"
        winprobe_use_build x64 "64-bit build (x64), as WINPROBE_ARCH asks"
        ;;
    *)
        echo "winprobe: WINPROBE_ARCH is '$WINPROBE_ARCH'; it takes i686 or x64" >&2
        exit 1
        ;;
    esac
}

winprobe_build() {
    : "${WINPROBE_PRESET:?winprobe_choose_build has not run}"
    cmake --preset release >/dev/null
    cmake --build --preset release --target winprobe
    cmake --preset "$WINPROBE_PRESET" -DCMAKE_CROSSCOMPILING_EMULATOR="$PWD/scripts/wine-test.sh;$WINPROBE_WINE" \
        -DWINPROBE_RELEASE_EXE="$PWD/build/release/bin/winprobe.exe" >/dev/null
    if [ $# -gt 0 ]; then
        cmake --build --preset "$WINPROBE_PRESET" --target "$@"
    else
        cmake --build --preset "$WINPROBE_PRESET"
    fi
}
