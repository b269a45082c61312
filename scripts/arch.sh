# Sourced by the other scripts: which build of winprobe this machine runs,
# decided once by starting the Wine loaders themselves. Some x86-64 kernels
# run no 32-bit code at all; there 32-bit Wine cannot start, whatever is
# installed, and the 64-bit build of the same sources stands in for it.
#   winprobe_choose_build   installs what is missing (install-deps.sh: the
#                           loaders must be there to be tried), then
#                           exports WINPROBE_ARCH (i686 or x64),
#                           WINPROBE_PRESET (mingw-i686 or mingw-x64) and
#                           WINPROBE_WINE (the command that starts a Windows
#                           program), and says on stderr which build and why.
#                           Where neither build can run, it says why and ends
#                           the script with status 1.
# WINPROBE_ARCH=i686 or WINPROBE_ARCH=x64 set beforehand forces that build.
# A script started by one that has chosen keeps the choice, and neither
# installs nor says anything again.

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
        # Wine starts every further process of this run through WINELOADER;
        # Debian's wine wrapper would pick the 32-bit loader.
        export WINELOADER=$WINPROBE_WINE64
        export WINPROBE_WINE=$WINPROBE_WINE64
    else
        export WINPROBE_WINE=wine
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
    [ -z "${WINPROBE_PRESET:-}" ] || return 0
    scripts/install-deps.sh
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
