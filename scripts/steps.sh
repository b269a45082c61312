# shellcheck shell=bash
# Sourced by the release scripts, which must never stop without saying where:
# each phase sets `step`; at an exit with any status but 0 the script's name,
# the status and the step are said on stderr. A script that has something to
# clean up defines steps_cleanup, which runs first at every exit and is given
# the status. `fail MESSAGE` says why and exits 1.
steps_name=$(basename "$0" .sh)
step="starting"

steps_on_exit() {
    local status=$?
    if declare -F steps_cleanup >/dev/null; then
        steps_cleanup "$status"
    fi
    [ "$status" = 0 ] || echo "$steps_name: stopped (status $status) while $step" >&2
}
trap steps_on_exit EXIT
trap 'exit 130' INT TERM HUP

fail() {
    echo "$steps_name: $*" >&2
    exit 1
}
