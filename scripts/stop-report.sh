# shellcheck shell=bash
# Sourced first by every script in scripts/ (and by the release scripts), so
# that none stops without saying where and why. At an exit with any status
# but 0 it prints one line on stderr: the script's name, the status, the
# phase the script set in `step` (if any), and what stopped it:
#   - a failing command under set -e: the command, its file and line, and its
#     status (inside a function, the command there, not the call);
#   - `fail MESSAGE`: the message, where fail was called; status 1;
#   - a signal: 130 for INT, 143 for TERM, 129 for HUP, the same in every
#     script. Signals that come while the clean-ups run are ignored, so that
#     they finish and the line is printed.
# `stop_at_exit COMMAND [ARG...]` runs a clean-up at every exit, before that
# line, in the order given; $stop_status holds the status, and $stop_signal
# the signal's name (INT, TERM, HUP) when one ended the script.
# A script whose own message already says why it ends with some status (a
# wrapper passing on its program's status) ends with `stop_quietly STATUS`.
stop_name=$(basename "$0" .sh)
step=
stop_status=0
stop_signal=
stop_why=
stop_quiet=
stop_cleanups=()

# Inherited by functions, so that a failing command is named where it is.
set -o errtrace

stop_at_exit() {
    local quoted
    printf -v quoted '%q ' "$@"
    stop_cleanups+=("$quoted")
}

fail() {
    stop_why="$* (${BASH_SOURCE[1]##*/} line ${BASH_LINENO[0]})"
    # A subshell ($(...)) has no report of its own: said here, and its
    # caller's failing command is named as well.
    [ "$BASH_SUBSHELL" = 0 ] || echo "$stop_name: $stop_why" >&2
    exit 1
}

stop_quietly() {
    stop_quiet=1
    exit "$1"
}

# Runs for every failing command; only under set -e does the script then end.
stop_on_error() {
    [[ $- == *e* ]] || return 0
    case $2 in
    # A function that returned a failure is seen at its call.
    "return "*) stop_why="the function called at $3 line $4 returned $1" ;;
    *) stop_why="\"$2\" ($3 line $4) ended with status $1" ;;
    esac
}

stop_on_signal() {
    # shellcheck disable=SC2034 # for the clean-ups
    stop_signal=$1
    case $1 in
    INT) stop_why="interrupted (SIGINT)" ;;
    TERM) stop_why="asked to end (SIGTERM)" ;;
    HUP) stop_why="its terminal hung up (SIGHUP)" ;;
    esac
    exit "$2"
}

stop_on_exit() {
    stop_status=$?
    # A clean-up that fails must not end this before the report, nor may a
    # second Ctrl+C (or a signal that reaches the process group twice),
    # which would skip the clean-ups left: they are short.
    set +e
    trap - ERR
    trap '' INT TERM HUP
    local cleanup
    for cleanup in "${stop_cleanups[@]}"; do
        eval "$cleanup"
    done
    [ "$stop_status" = 0 ] || [ -n "$stop_quiet" ] ||
        echo "$stop_name: stopped with status $stop_status${step:+ while $step}${stop_why:+: $stop_why}" >&2
    exit "$stop_status"
}

trap stop_on_exit EXIT
trap 'stop_on_error $? "$BASH_COMMAND" "${BASH_SOURCE[0]##*/}" "$LINENO"' ERR
trap 'stop_on_signal INT 130' INT
trap 'stop_on_signal TERM 143' TERM
trap 'stop_on_signal HUP 129' HUP
