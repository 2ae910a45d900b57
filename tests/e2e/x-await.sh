# Sourced by the Wine scripts that drive windows on a virtual display with xdotool.
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
