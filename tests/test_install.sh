#!/bin/sh
# An installed tree as a desktop and a software centre read it: the icon at
# every size in hicolor, the metainfo that appstreamcli accepts, the desktop
# file it names, and the simulator's manual page naming every option.
#   test_install.sh BUILD_DIR SIM_PROGRAM
set -eu
BUILD=$1
SIM=$2
ROOT=$(mktemp -d "${TMPDIR:-/tmp}/pollbench-install.XXXXXX")
trap 'rm -rf "$ROOT"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$BUILD" --prefix "$ROOT" >/dev/null
SHARE=$ROOT/share

# A PNG's width and height are the big-endian words at bytes 16 and 20.
for size in 16 32 48 64 128 256; do
    icon=$SHARE/icons/hicolor/${size}x${size}/apps/pollbench.png
    [ -f "$icon" ] || fail "no $size px icon"
    dims=$(od -An -tu1 -j16 -N8 "$icon" | awk '{ print $3 * 256 + $4, $7 * 256 + $8 }')
    [ "$dims" = "$size $size" ] || fail "$icon is $dims"
done
[ -f "$SHARE/icons/hicolor/scalable/apps/pollbench.svg" ] || fail "no scalable icon"

metainfo=$SHARE/metainfo/io.github.pollbench.Pollbench.metainfo.xml
[ -f "$metainfo" ] || fail "no metainfo"
appstreamcli validate --no-net "$metainfo" || fail "metainfo does not validate"
desktop=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$metainfo")
[ -f "$SHARE/applications/$desktop" ] || fail "metainfo names $desktop, which is not installed"

for page in pollbench.1 pollbench-sim.1; do
    [ -f "$SHARE/man/man1/$page" ] || fail "no manual page $page"
done
# Every option the simulator takes is in its manual page.
for option in $("$SIM" --help | sed -n 's/^ *\(-[a-z], \)\{0,1\}--\([a-z-]*\).*/\2/p'); do
    case $option in help-all) continue ;; esac
    grep -q -- "\\\\-\\\\-$(echo "$option" | sed 's/-/\\\\-/g')" "$SHARE/man/man1/pollbench-sim.1" \
        || fail "pollbench-sim.1 does not name --$option"
done
echo "install tree complete"
