# shellcheck shell=bash
# Sourced by the entry scripts: a private Wine on a private virtual display.
#   winenv_start PREFIX_DIR   starts Xvfb and a wineserver, readies the prefix;
#                             with WINENV_USE_DISPLAY=1, uses $DISPLAY instead
#   winenv_stop               ends the calling script's own programs that are
#                             still running, then stops both, by process id,
#                             and waits for them
#   winenv_session PREFIX_DIR winenv_start, and winenv_stop when the calling
#                             script ends, however it ends
#   winenv_start_shell EXE [ARG...]
#                             starts a program that puts up shell windows and
#                             prints "ready" once they stand; winenv_stop ends
#                             it first
# WINENV_SCREEN is the size of the screen programs see; 1280x1024 where the
# caller does not set it.
# Leaves DISPLAY, WINEPREFIX and WINEDEBUG exported for the caller's commands.
# Starts programs with $WINPROBE_WINE: winprobe_choose_build (arch.sh) first.

WINENV_XVFB_PID=
WINENV_SERVER_PID=
WINENV_SHELL_PID=

winenv_session() {
    trap winenv_stop EXIT
    trap 'exit 130' INT TERM HUP
    winenv_start "$1"
}

winenv_start() {
    : "${WINPROBE_WINE:?winprobe_choose_build has not run}"
    WINENV_SCREEN=${WINENV_SCREEN:-1280x1024}
    # Wine's messages off, but for the loader's: with them off, a program
    # whose DLLs fail to load or start ends at once and says nothing.
    export WINEPREFIX=$1 WINEDEBUG=-all,err+module WINEDLLOVERRIDES="mscoree,mshtml="
    mkdir -p "$WINEPREFIX"

    if [ "${WINENV_USE_DISPLAY:-0}" = 1 ]; then
        winenv_start_wine
        return
    fi
    local fifo display
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 "${WINENV_SCREEN}x24" -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    WINENV_XVFB_PID=$!
    read -r display <"$fifo"
    rm -f "$fifo"
    if [ -z "$display" ]; then
        echo "winenv: Xvfb did not start" >&2
        return 1
    fi
    export DISPLAY=:$display
    winenv_start_wine
}

winenv_start_wine() {
    winenv_start_server
    if [ "$(cat "$WINEPREFIX/.winenv-desktop" 2>/dev/null)" != "$WINENV_SCREEN" ]; then
        # Windows inside one virtual desktop: without a window manager, Wine
        # waits two seconds whenever it hides a window of its own on X.
        "$WINPROBE_WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f
        "$WINPROBE_WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default \
            /d "$WINENV_SCREEN" /f
        winenv_stop_server
        echo "$WINENV_SCREEN" >"$WINEPREFIX/.winenv-desktop"
        winenv_start_server
    fi >/dev/null 2>&1
}

winenv_start_server() {
    # A persistent server keeps Wine's own processes alive between programs.
    wineserver -f -p >/dev/null 2>&1 &
    WINENV_SERVER_PID=$!
    "$WINPROBE_WINE" wineboot --init >/dev/null 2>&1
}

# The processes that run in this prefix: each keeps its working folder, or a
# folder it has open, inside it.
winenv_prefix_pids() {
    # One find, not a readlink per descriptor: a busy machine has thousands.
    # Processes that end meanwhile make it fail; the rest still count.
    {
        find /proc/[0-9]*/cwd /proc/[0-9]*/fd -maxdepth 1 \
            \( -lname "$WINEPREFIX" -o -lname "$WINEPREFIX/*" \) 2>/dev/null || true
    } | cut -d / -f 3 | sort -u
}

winenv_stop_server() {
    [ -n "$WINENV_SERVER_PID" ] || return 0
    local pids pid tries
    pids=$(winenv_prefix_pids)
    # Ends every process of this prefix's server, then the server itself.
    wineserver -k 2>/dev/null || true
    wait "$WINENV_SERVER_PID" 2>/dev/null || true
    WINENV_SERVER_PID=
    for pid in $pids; do
        for tries in $(seq 50); do
            [ -d "/proc/$pid" ] || break
            sleep 0.1
        done
        # Its server gone (it can fail under load), a client may hang on.
        kill -9 "$pid" 2>/dev/null || true
    done
}

winenv_start_shell() {
    local log tries
    log=$(mktemp)
    "$WINPROBE_WINE" "$@" >"$log" 2>&1 &
    WINENV_SHELL_PID=$!
    for tries in $(seq 300); do
        grep -q '^ready' "$log" && break
        if ! kill -0 "$WINENV_SHELL_PID" 2>/dev/null || [ "$tries" = 300 ]; then
            echo "winenv: $* put up no shell windows:" >&2
            cat "$log" >&2
            rm -f "$log"
            return 1
        fi
        sleep 0.1
    done
    tr -d '\r' <"$log" | grep -v '^ready$' | sed 's/^/winenv: /' >&2
    rm -f "$log"
}

# The caller's programs started with &, which the server's end would kill:
# ended first and reaped here, so that the shell reports no killed job.
winenv_stop_jobs() {
    local pid
    for pid in $(jobs -p); do
        case $pid in "$WINENV_XVFB_PID" | "$WINENV_SERVER_PID") continue ;; esac
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}

winenv_stop() {
    winenv_stop_jobs
    if [ -n "$WINENV_SHELL_PID" ]; then
        kill "$WINENV_SHELL_PID" 2>/dev/null || true
        wait "$WINENV_SHELL_PID" 2>/dev/null || true
        WINENV_SHELL_PID=
    fi
    winenv_stop_server
    if [ -n "$WINENV_XVFB_PID" ]; then
        kill "$WINENV_XVFB_PID" 2>/dev/null || true
        wait "$WINENV_XVFB_PID" 2>/dev/null || true
        WINENV_XVFB_PID=
    fi
}
