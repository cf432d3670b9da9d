#!/bin/sh
# The tester on the virtual validator built into the program: polling starts
# as the window comes up, and a note is dropped in every couple of seconds
# on an enabled channel, stacked and counted.
#   tools/demo.sh [BUILD]      (make demo does this)
set -eu

BUILD=${1:-build}
if [ ! -x "$BUILD/pollbench" ]; then
    echo "demo: $BUILD/pollbench is needed; run make first" >&2
    exit 1
fi
BUILD=$(cd "$BUILD" && pwd)

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

echo "demo: the tester on its built-in virtual validator; a note arrives every couple of seconds"
cd "$BUILD"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec ./pollbench --device sim --start-poll
elif command -v xvfb-run >/dev/null 2>&1; then
    echo "demo: no display; the tester runs on a virtual X server"
    exec xvfb-run -a -s "-screen 0 800x600x24" sh -c '
        echo "demo: to look at it from another terminal:"
        echo "demo:   DISPLAY=$DISPLAY XAUTHORITY=$XAUTHORITY import -window root demo.png"
        echo "demo: stop with Ctrl-C"
        exec ./pollbench --device sim --start-poll'
else
    echo "demo: no display and no xvfb-run (apt-get install xvfb xauth)" >&2
    exit 1
fi
