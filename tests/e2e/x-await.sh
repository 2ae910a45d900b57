# Sourced by the Wine scripts that drive windows on a virtual display with xdotool. The script
# that sources it defines shot NAME (a picture of the screen, taken when a step fails).
# The first visible window whose title holds $1, within $2 seconds: its id on standard output.
await() {
    local id
    for _ in $(seq $(( $2 * 4 ))); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.25
    done
    return 1
}
# True while a visible window's title holds $1.
shown() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }

# A keystroke, a click or typed text can get lost on its way to a window on a busy machine, and
# nothing tells the sender. Each step that drives a window therefore names the effect it must
# have and is done again while that effect does not show:
#   step WHAT TRIES SECONDS CHECK... -- ACTION...
# runs ACTION, then CHECK every quarter second for up to SECONDS; ACTION again, TRIES times at
# most, while CHECK stays false. At the end a shot (unconfirmed-WHAT) and a message on standard
# error, and status 1. ACTION must be safe to do again after an attempt that partly took effect
# (a field cleared before it is typed into, a key only while its window still shows, ...).
# Test hook: RZT_E2E_DROP=REGEX leaves out the first ACTION of each step whose WHAT matches, as
# if it had been lost, to show that the step notices and does it again.
step() {
    local what=$1 tries=$2 seconds=$3 try end check=()
    shift 3
    while [ $# -gt 0 ] && [ "$1" != -- ]; do check+=("$1"); shift; done
    shift
    for try in $(seq "$tries"); do
        [ "$try" = 1 ] || echo "$what: no effect within $seconds s, again (try $try of $tries)" >&2
        if [ "$try" = 1 ] && [[ -n "${RZT_E2E_DROP:-}" && "$what" =~ $RZT_E2E_DROP ]]; then
            echo "$what: left out, as RZT_E2E_DROP asks" >&2
        else
            "$@"
        fi
        end=$(( ${EPOCHREALTIME//[!0-9]/} + seconds * 1000000 ))
        while (( ${EPOCHREALTIME//[!0-9]/} < end )); do
            "${check[@]}" && return 0
            sleep 0.25
        done
    done
    "${check[@]}" && return 0
    shot "unconfirmed-$(tr -cs 'A-Za-z0-9' - <<<"$what" | sed 's/^-*//; s/-*$//')"
    echo "$what: no effect after $tries tries of $seconds s" >&2
    return 1
}
