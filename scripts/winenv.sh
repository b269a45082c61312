# shellcheck shell=bash
# Sourced by prepare.sh: a private Wine on a private virtual display. Needs
# stop-report.sh, sourced first by the script.
#   winenv_start PREFIX_DIR   starts Xvfb and a wineserver, readies the prefix;
#                             with WINENV_USE_DISPLAY=1, uses $DISPLAY instead
#   winenv_stop               ends the calling script's own programs that are
#                             still running, then stops both, by process id,
#                             and waits for them; says so if Xvfb had ended
#   winenv_session PREFIX_DIR winenv_start, and winenv_stop when the calling
#                             script ends, however it ends
#   winenv_start_shell EXE [ARG...]
#                             starts a program that puts up shell windows and
#                             prints "ready" once they stand; winenv_stop ends
#                             it first
#   winenv_pid_of PROGRAM     prints the unix pid of this session's Wine
#                             process whose Windows command line ends in
#                             PROGRAM (as '\winprobe.exe' or
#                             '\winprobe_bench.exe --floor'); fails, printing
#                             nothing, where there is none
#   winenv_check_screen       refuses a WINENV_SCREEN that is not WIDTHxHEIGHT
# WINENV_SCREEN is the size of the screen programs see, on either display;
# 1280x1024 where the caller does not set it.
# Leaves DISPLAY, WINEPREFIX and WINEDEBUG exported for the caller's commands.
# Starts programs with $WINPROBE_WINE: winprobe_choose_build (prepare.sh) first.

WINENV_XVFB_PID=
WINENV_XVFB_LOG=
WINENV_SERVER_PID=
WINENV_SHELL_PID=

winenv_say() {
    echo "winenv: $*" >&2
}

winenv_session() {
    stop_at_exit winenv_stop
    winenv_start "$1"
}

# The one place that sets the screen's size.
winenv_check_screen() {
    WINENV_SCREEN=${WINENV_SCREEN:-1280x1024}
    [[ $WINENV_SCREEN =~ ^[1-9][0-9]{0,4}x[1-9][0-9]{0,4}$ ]] ||
        fail "WINENV_SCREEN is '$WINENV_SCREEN'; it takes WIDTHxHEIGHT in pixels, as 1920x1080"
    export WINENV_SCREEN
}

winenv_start() {
    : "${WINPROBE_WINE:?winprobe_choose_build has not run}"
    winenv_check_screen
    # Wine's messages off, but for the loader's: with them off, a program
    # whose DLLs fail to load or start ends at once and says nothing.
    export WINEPREFIX=$1 WINEDEBUG=-all,err+module WINEDLLOVERRIDES="mscoree,mshtml="
    # Every process of this session, Wine's own among them, inherits this
    # mark, unique to this shell: winenv_stop_server ends no process without
    # it.
    WINPROBE_SESSION=$$.$(winenv_stat_field $$ 22)
    export WINPROBE_SESSION
    mkdir -p "$WINEPREFIX"

    if [ "${WINENV_USE_DISPLAY:-0}" = 1 ]; then
        winenv_start_wine
        return
    fi
    local fifo display=
    WINENV_XVFB_LOG=$(mktemp -t winenv-xvfb.XXXXXX)
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 "${WINENV_SCREEN}x24" -nolisten tcp 3>"$fifo" >"$WINENV_XVFB_LOG" 2>&1 &
    WINENV_XVFB_PID=$!
    read -r display <"$fifo" || true
    rm -f "$fifo"
    if [ -z "$display" ]; then
        winenv_xvfb_report "did not start"
        fail "Xvfb did not start (what it said is above)"
    fi
    export DISPLAY=:$display
    winenv_start_wine
}

# Field N of /proc/PID/stat (4 the parent, 22 the start time).
winenv_stat_field() {
    local stat fields
    read -r stat 2>/dev/null <"/proc/$1/stat" || return 1
    # The command's name, in parentheses, may hold spaces: count after it.
    IFS=' ' read -r -a fields <<<"${stat##*) }"
    echo "${fields[$2 - 3]}"
}

# A child of this shell that has not ended: an ended one stays a zombie
# until it is waited for, so its id stays its own until then.
winenv_running() {
    local state
    state=$(winenv_stat_field "$1" 3) && [ "$state" != Z ]
}

# Xvfb has ended: waits for it and says with what status and what it said.
winenv_xvfb_report() {
    local status=0
    wait "$WINENV_XVFB_PID" 2>/dev/null || status=$?
    winenv_say "Xvfb (pid $WINENV_XVFB_PID${DISPLAY:+, display $DISPLAY}) $1, with status $status;" \
        "the end of what it said:"
    tail -n 12 "$WINENV_XVFB_LOG" | sed 's/^/winenv:   /' >&2
    rm -f "$WINENV_XVFB_LOG"
    WINENV_XVFB_PID=
}

# One step of the start, its output kept: where it fails, says what it
# printed, and whether Xvfb went first.
winenv_step() {
    local log status=0
    log=$(mktemp)
    "$@" >"$log" 2>&1 || status=$?
    if [ "$status" != 0 ]; then
        winenv_say "\"$*\" failed with status $status; it printed:"
        sed 's/^/winenv:   /' "$log" >&2
        if [ -n "$WINENV_XVFB_PID" ] && ! winenv_running "$WINENV_XVFB_PID"; then
            winenv_xvfb_report "had ended"
        fi
    fi
    rm -f "$log"
    return "$status"
}

winenv_start_wine() {
    winenv_start_server
    local settings="$WINENV_SCREEN, no crash dialog"
    if [ "$(cat "$WINEPREFIX/.winenv-desktop" 2>/dev/null)" != "$settings" ]; then
        # Windows inside one virtual desktop: without a window manager, Wine
        # waits two seconds whenever it hides a window of its own on X.
        winenv_step "$WINPROBE_WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f
        winenv_step "$WINPROBE_WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default \
            /d "$WINENV_SCREEN" /f
        # A crashing program otherwise waits on Wine's crash dialog until
        # ctest's time-out; without it, winedbg prints the backtrace and the
        # program ends with its exception's status.
        winenv_step "$WINPROBE_WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog \
            /t REG_DWORD /d 0 /f
        winenv_stop_server
        echo "$settings" >"$WINEPREFIX/.winenv-desktop"
        winenv_start_server
    fi
}

winenv_start_server() {
    # A persistent server keeps Wine's own processes alive between programs.
    wineserver -f -p >/dev/null 2>&1 &
    WINENV_SERVER_PID=$!
    winenv_step "$WINPROBE_WINE" wineboot --init
}

# Whether process $1 descends from process $2.
winenv_descends_from() {
    local pid=$1
    while [ "$pid" -gt 1 ]; do
        [ "$pid" = "$2" ] && return 0
        pid=$(winenv_stat_field "$pid" 4) || return 1
    done
    return 1
}

# The pid of each process that carries this session's mark in its
# environment, Wine's own among them.
winenv_marked_pids() {
    local file
    : "${WINPROBE_SESSION:?winenv_start has not run}"
    while read -r file; do
        file=${file#/proc/}
        echo "${file%/environ}"
    done < <(grep -lzxF "WINPROBE_SESSION=$WINPROBE_SESSION" /proc/[0-9]*/environ 2>/dev/null)
}

winenv_pid_of() {
    local pid cmdline
    for pid in $(winenv_marked_pids); do
        # Wine leaves NULs after the arguments: squeezed into one space.
        cmdline=$(tr -s '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline") || continue
        case ${cmdline% } in *"$1")
            echo "$pid"
            return 0
            ;;
        esac
    done
    return 1
}

# "PID START" of each process this session started that no process of this
# shell's accounts for: one that carries this session's mark and this
# prefix in its environment, outside this shell's own tree (those are ended
# by id), whose parent is of the session too or is where an orphan of this
# shell's tree goes (this shell's ancestors, init among them).
winenv_session_pids() {
    local pid ppid start ancestors=" " up=$$
    local -A marked=()
    while up=$(winenv_stat_field "$up" 4) && [ "$up" -gt 0 ]; do
        ancestors+="$up "
    done
    for pid in $(winenv_marked_pids); do
        grep -qzxF "WINEPREFIX=$WINEPREFIX" "/proc/$pid/environ" 2>/dev/null && marked[$pid]=1
    done
    for pid in "${!marked[@]}"; do
        winenv_descends_from "$pid" $$ && continue
        ppid=$(winenv_stat_field "$pid" 4) || continue
        if [ -z "${marked[$ppid]:-}" ] && [ "${ancestors#* "$ppid" }" = "$ancestors" ]; then
            continue
        fi
        start=$(winenv_stat_field "$pid" 22) || continue
        echo "$pid $start"
    done
}

winenv_stop_server() {
    [ -n "$WINENV_SERVER_PID" ] || return 0
    local left='' pid start args tries
    # Ends every process of this prefix's server, then the server itself.
    wineserver -k 2>/dev/null || true
    wait "$WINENV_SERVER_PID" 2>/dev/null || true
    WINENV_SERVER_PID=
    # Its server gone (that can fail under load), a client may hang on.
    for tries in $(seq 50); do
        left=$(winenv_session_pids)
        [ -n "$left" ] || return 0
        sleep 0.1
    done
    while read -r pid start; do
        # The same process still, not another under a reused id.
        [ "$(winenv_stat_field "$pid" 22)" = "$start" ] || continue
        args=$(tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline")
        kill -9 "$pid" 2>/dev/null || continue
        winenv_say "ended pid $pid ($args): it outlived this session's wineserver"
    done <<<"$left"
}

winenv_start_shell() {
    local log tries
    log=$(mktemp)
    "$WINPROBE_WINE" "$@" >"$log" 2>&1 &
    WINENV_SHELL_PID=$!
    for tries in $(seq 300); do
        grep -q '^ready' "$log" && break
        if ! winenv_running "$WINENV_SHELL_PID" || [ "$tries" = 300 ]; then
            cat "$log" >&2
            rm -f "$log"
            fail "$* put up no shell windows (what it printed is above)"
        fi
        sleep 0.1
    done
    tr -d '\r' <"$log" | grep -v '^ready$' | sed 's/^/winenv: /' >&2
    rm -f "$log"
}

# The caller's programs started with &, which the server's end would kill:
# ended first and reaped here, so that the shell reports no killed job. Each
# is this shell's child, so its id stays its own until it is waited for.
winenv_stop_jobs() {
    local pid
    for pid in $(jobs -p); do
        case $pid in "$WINENV_XVFB_PID" | "$WINENV_SERVER_PID") continue ;; esac
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}

winenv_stop() {
    # A signal can stop the caller inside "IFS= read": the trap that ends up
    # here then runs with that IFS, which would split no word below.
    local IFS=$' \t\n'
    winenv_stop_jobs
    if [ -n "$WINENV_SHELL_PID" ]; then
        kill "$WINENV_SHELL_PID" 2>/dev/null || true
        wait "$WINENV_SHELL_PID" 2>/dev/null || true
        WINENV_SHELL_PID=
    fi
    winenv_stop_server
    if [ -n "$WINENV_XVFB_PID" ]; then
        if winenv_running "$WINENV_XVFB_PID"; then
            kill "$WINENV_XVFB_PID" 2>/dev/null || true
            wait "$WINENV_XVFB_PID" 2>/dev/null || true
            rm -f "$WINENV_XVFB_LOG"
            WINENV_XVFB_PID=
        elif [ "${stop_signal:-}" = INT ]; then
            # Ctrl+C on a terminal reaches Xvfb too, which then ends on its own.
            wait "$WINENV_XVFB_PID" 2>/dev/null || true
            rm -f "$WINENV_XVFB_LOG"
            WINENV_XVFB_PID=
        else
            winenv_xvfb_report "ended before the script did"
        fi
    fi
}
