# shellcheck shell=bash
# Sourced by the entry scripts, after stop-report.sh: what each does before
# its own work, and which build of winprobe this machine runs. Some x86-64
# kernels run no 32-bit code at all; there 32-bit Wine cannot start, whatever
# is installed, and the x64 build of the same sources stands in for it.
#   winprobe_prepare [--quiet] [--session PREFIX_NAME] [TARGET...]
#       installs what is missing (install-deps.sh), chooses the build, builds
#       it (every target, or the ones named) and the 32-bit exe, which the
#       suite checks as a file even where it cannot run; with --session,
#       then starts a private Wine session on build/<preset>/PREFIX_NAME
#       (winenv.sh) that ends with the script. --quiet keeps the build's
#       output, and prints it only if the build fails.
#   winprobe_choose_build
#       starts the Wine loaders to see which runs, then exports WINPROBE_ARCH
#       (x86 or x64), WINPROBE_PRESET (mingw-x86 or mingw-x64) and
#       WINPROBE_WINE and WINELOADER (that build's loader), and says on
#       stderr which build and why. Where neither runs, it stops the script.
#   winprobe_build [TARGET...]
#       builds the chosen build and the 32-bit exe: mingw-x86's, or the one
#       WINPROBE_SHIPPED_EXE names (.ci/run names the release rehearsal's).
# WINPROBE_ARCH=x86 or WINPROBE_ARCH=x64 set beforehand forces that build.
# The architectures and their loaders are named once, in the toolchain files
# cmake/mingw-ARCH.cmake, which also hand the loaders to ctest; read from
# there.
# shellcheck source=scripts/winenv.sh
source "$(dirname "${BASH_SOURCE[0]}")/winenv.sh"

WINPROBE_ARCHS=$(
    cd "$(dirname "${BASH_SOURCE[0]}")/../cmake" &&
        for file in mingw-*.cmake; do
            name=${file#mingw-}
            echo "${name%.cmake}"
        done | sort -r | tr '\n' ' ' # x86, the product, first
)
WINPROBE_ARCHS=${WINPROBE_ARCHS% }

# The Wine loader that starts ARCH's programs, from its toolchain file.
winprobe_wine_loader() {
    local file loader
    file=$(dirname "${BASH_SOURCE[0]}")/../cmake/mingw-$1.cmake
    loader=$(sed -n 's/^set(WINPROBE_WINE_LOADER \([^ )]*\))$/\1/p' "$file")
    [ -n "$loader" ] || fail "$file names no WINPROBE_WINE_LOADER"
    echo "$loader"
}

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
    export WINPROBE_WINE=$2
    # Wine starts every further process of this run through WINELOADER;
    # left unset, it would look for the 32-bit loader first.
    export WINELOADER=$2
    echo "winprobe: the ${3}" >&2
}

winprobe_cannot_run() {
    fail "$1. scripts/install-deps.sh installs both Wines from Debian's packages" \
        "(wine, wine32:i386, wine64); a kernel that runs no 32-bit code needs the 64-bit one."
}

winprobe_choose_build() {
    local wine32 wine64 why32 why64
    wine32=$(winprobe_wine_loader x86)
    wine64=$(winprobe_wine_loader x64)
    case ${WINPROBE_ARCH:-} in
    "")
        if why32=$(winprobe_try_loader "$wine32"); then
            winprobe_use_build x86 "$wine32" "x86 (32-bit) build: this machine runs 32-bit programs ($wine32 started)"
        elif why64=$(winprobe_try_loader "$wine64"); then
            winprobe_use_build x64 "$wine64" "x64 (64-bit) build: this machine runs no 32-bit programs ($why32)"
        else
            winprobe_cannot_run "neither Wine starts here, so no build of winprobe can run: $why32; $why64"
        fi
        ;;
    x86)
        why32=$(winprobe_try_loader "$wine32") ||
            winprobe_cannot_run "WINPROBE_ARCH=x86, but 32-bit Wine does not start here: $why32; leave WINPROBE_ARCH unset and the x64 build stands in"
        winprobe_use_build x86 "$wine32" "x86 (32-bit) build, as WINPROBE_ARCH asks"
        ;;
    x64)
        why64=$(winprobe_try_loader "$wine64") ||
            winprobe_cannot_run "WINPROBE_ARCH=x64, but 64-bit Wine does not start here: $why64"
        winprobe_use_build x64 "$wine64" "x64 (64-bit) build, as WINPROBE_ARCH asks"
        ;;
    *)
        fail "WINPROBE_ARCH is '$WINPROBE_ARCH'; it takes ${WINPROBE_ARCHS// / or }"
        ;;
    esac
}

winprobe_build() {
    : "${WINPROBE_PRESET:?winprobe_choose_build has not run}"
    # The 32-bit exe the suite checks as a file: the one given, or the
    # product's 32-bit build of the exe alone.
    local exe32=${WINPROBE_SHIPPED_EXE:-}
    if [ -z "$exe32" ]; then
        exe32=$PWD/build/mingw-x86/bin/winprobe.exe
        if [ "$WINPROBE_PRESET" != mingw-x86 ]; then
            cmake --preset mingw-x86 >/dev/null
            cmake --build --preset mingw-x86 --target winprobe
        fi
    fi
    [ -f "$exe32" ] || [ "$WINPROBE_PRESET" = mingw-x86 ] || fail "no 32-bit exe at $exe32"
    # The test programs' emulator comes from the toolchain file.
    cmake --preset "$WINPROBE_PRESET" -DWINPROBE_RELEASE_EXE="$(realpath -m "$exe32")" >/dev/null
    if [ $# -gt 0 ]; then
        cmake --build --preset "$WINPROBE_PRESET" --target "$@"
    else
        cmake --build --preset "$WINPROBE_PRESET"
    fi
}

WINPROBE_BUILD_LOG=

# At the script's end: a quiet build's output, if the build failed.
winprobe_build_log_at_exit() {
    [ -n "$WINPROBE_BUILD_LOG" ] || return 0
    # shellcheck disable=SC2154 # stop-report.sh's
    if [ "$stop_status" != 0 ]; then
        echo "winprobe: what the build printed:" >&2
        cat "$WINPROBE_BUILD_LOG" >&2
    fi
    rm -f "$WINPROBE_BUILD_LOG"
}

winprobe_prepare() {
    local quiet='' session=''
    while [ $# -gt 0 ]; do
        case $1 in
        --quiet) quiet=1 ;;
        --session)
            session=$2
            shift
            ;;
        *) break ;;
        esac
        shift
    done
    # A screen size that cannot be is refused before anything is built.
    [ -z "$session" ] || winenv_check_screen

    step="installing what is missing"
    "$(dirname "${BASH_SOURCE[0]}")/install-deps.sh"
    step="choosing the build"
    winprobe_choose_build
    step="building ${*:-every target} ($WINPROBE_PRESET)"
    if [ -n "$quiet" ]; then
        WINPROBE_BUILD_LOG=$(mktemp)
        stop_at_exit winprobe_build_log_at_exit
        winprobe_build "$@" >"$WINPROBE_BUILD_LOG"
        rm -f "$WINPROBE_BUILD_LOG"
        WINPROBE_BUILD_LOG=
    else
        winprobe_build "$@"
    fi
    if [ -n "$session" ]; then
        step="starting Wine on a private display"
        winenv_session "$PWD/build/$WINPROBE_PRESET/$session"
    fi
    # shellcheck disable=SC2034 # stop-report.sh's
    step=
}
