#!/bin/sh
# The tester on a virtual validator: pollbench-sim plays the device on a
# pseudo-terminal linked as BUILD/COM1 and drops a note in every couple of
# seconds; press START POLL in the window and watch them counted.
#   tools/demo.sh [BUILD]      (make demo does this)
set -eu

BUILD=${1:-build}
if [ ! -x "$BUILD/pollbench" ] || [ ! -x "$BUILD/pollbench-sim" ]; then
    echo "demo: $BUILD/pollbench and $BUILD/pollbench-sim are needed; run make first" >&2
    exit 1
fi
BUILD=$(cd "$BUILD" && pwd)
LINK=$BUILD/COM1

# COM1 may map port 1 to a real adapter; that is the operator's, not ours.
if [ -L "$LINK" ]; then
    case $(readlink "$LINK") in
        /dev/pts/*) ;;
        *) echo "demo: $LINK points at $(readlink "$LINK"), a real port; remove it for the demo" >&2; exit 1 ;;
    esac
elif [ -e "$LINK" ]; then
    echo "demo: $LINK exists and is no link; remove it for the demo" >&2
    exit 1
fi

# A settings file (port 1, poll rate 100 ms, channels 1 to 7) so that the
# display-scheme chooser does not come up first.
if [ ! -e "$BUILD/SETUP.INI" ]; then
    printf '%s\r\n' \
        'Sys.Color   = 1' 'Com.Setting = 1' 'Poll.Rate   = 100' \
        '1st.Value   = 1' '2nd.Value   = 2' '3rd.Value   = 3' '4th.Value   = 4' \
        '5th.Value   = 5' '6th.Value   = 6' '7th.Value   = 7' \
        '1st.Check   = 1' '2nd.Check   = 1' '3rd.Check   = 1' '4th.Check   = 1' \
        '5th.Check   = 1' '6th.Check   = 1' '7th.Check   = 1' '8th.Check   = 0' \
        '9th.Check   = 0' '10th.Check   = 0' '11th.Check   = 0' '12th.Check   = 0' \
        '13th.Check   = 0' >"$BUILD/SETUP.INI"
fi

OUT=$(mktemp "${TMPDIR:-/tmp}/pollbench-demo.XXXXXX")
SIM_PID=
cleanup() {
    if [ -n "$SIM_PID" ]; then
        kill "$SIM_PID" 2>/dev/null || true
        wait "$SIM_PID" 2>/dev/null || true
    fi
    rm -f "$OUT"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# On a terminal the simulator takes commands typed here (help lists them).
# A job in the background reads /dev/null unless given another descriptor.
if [ -t 0 ]; then
    exec 3<&0
    "$BUILD/pollbench-sim" --auto --stage-polls 4 --link "$LINK" --log "$BUILD/demo-frames.log" <&3 >"$OUT" &
else
    "$BUILD/pollbench-sim" --auto --stage-polls 4 --link "$LINK" --log "$BUILD/demo-frames.log" --no-stdin >"$OUT" &
fi
SIM_PID=$!

tries=0
until grep -q '^ready ' "$OUT" 2>/dev/null; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ] || ! kill -0 "$SIM_PID" 2>/dev/null; then
        echo "demo: the simulator did not start" >&2
        cat "$OUT" >&2
        exit 1
    fi
    sleep 0.1
done
# What the simulator says (notes, answers to commands) goes to this terminal.
tail -n +1 -f "$OUT" --pid="$SIM_PID" 2>/dev/null &

echo "demo: virtual validator on $LINK (frames logged to $BUILD/demo-frames.log)"
echo "demo: press START POLL; a note arrives every couple of seconds on an enabled channel"
if [ -t 0 ]; then
    echo "demo: type simulator commands here: insert 3, jam, clear, garbage, silence 5, help ..."
fi

cd "$BUILD"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    ./pollbench
elif command -v xvfb-run >/dev/null 2>&1; then
    # No screen here: a virtual one, START POLL pressed for you when xdotool
    # is at hand (Check4 sits at 690, 38 in the window).
    echo "demo: no display; the tester runs on a virtual X server"
    xvfb-run -a -s "-screen 0 800x600x24" sh -c '
        ./pollbench &
        tester=$!
        echo "demo: to look at it from another terminal:"
        echo "demo:   DISPLAY=$DISPLAY XAUTHORITY=$XAUTHORITY import -window root demo.png"
        if command -v xdotool >/dev/null 2>&1 &&
            id=$(timeout 20 xdotool search --sync --name "^Pollbench" | head -n 1) && [ -n "$id" ]; then
            sleep 0.5
            xdotool mousemove --window "$id" 690 38 click 1
            echo "demo: START POLL pressed; stop with Ctrl-C"
        else
            echo "demo: press START POLL through a VNC viewer (x11vnc -display $DISPLAY) or xdotool; stop with Ctrl-C"
        fi
        wait "$tester"'
else
    echo "demo: no display and no xvfb-run (apt-get install xvfb xauth)" >&2
    exit 1
fi
