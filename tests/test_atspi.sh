#!/bin/sh
# Runs atspi_e2e.py on a private session bus; skips (77) when the tools for
# it are missing. Usage: test_atspi.sh PROGRAM SIMULATOR
here=$(dirname "$0")
for tool in dbus-run-session dbus-send Xvfb; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: no $tool"; exit 77; }
done
# Debian's own Python: pyatspi comes as a Debian package.
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "SKIP: no python3-pyatspi"; exit 77; }
# Under AddressSanitizer: the X keyboard library reads its fixed-length names
# with strndup, which strict string checks misreport as an overflow.
if [ -n "${ASAN_OPTIONS:-}" ]; then
    ASAN_OPTIONS=$(printf '%s' "$ASAN_OPTIONS" | sed 's/strict_string_checks=1/strict_string_checks=0/')
    export ASAN_OPTIONS
fi
exec dbus-run-session -- /usr/bin/python3 "$here/atspi_e2e.py" "$@"
