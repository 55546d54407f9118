#!/bin/sh
# Puts a downloaded build in place of the running program and starts it. The old program is
# kept beside it as PROGRAM.previous; when the new build does not start (asked for its version,
# which needs no display), the old one is put back and started instead.
#   restart.sh NEW_BUILD PROGRAM [PID]   (the window passes all three)
#   restart.sh                           plovikKit-update-temp and plovikKit in the script's folder
if [ $# -ge 2 ]; then
    new_build="$1"
    program="$2"
    pid="${3:-}"
else
    cd "$(dirname "$0")" || exit 1
    new_build=plovikKit-update-temp
    program=./plovikKit
    pid=""
fi
# The program ends right after starting this script; it must be gone before it is replaced.
if [ -n "$pid" ]; then
    tail --pid="$pid" -f /dev/null 2>/dev/null || sleep 1
else
    sleep 1
fi
previous="$program.previous"
starts() {
    if command -v timeout >/dev/null 2>&1; then
        timeout 60 "$program" --version >/dev/null 2>&1
    else
        "$program" --version >/dev/null 2>&1
    fi
}
put_back() {
    echo "restart.sh: $1; the previous program is put back" >&2
    mv -f "$previous" "$program"
    exec "$program"
}
[ -f "$new_build" ] && chmod +x "$new_build" || exec "$program"
# Without a copy of the old program nothing is replaced.
cp -p "$program" "$previous" || exec "$program"
mv -f "$new_build" "$program" || put_back "the new build could not be moved to $program"
starts || put_back "the new build $program does not start"
exec "$program"
