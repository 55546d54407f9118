#!/bin/sh
# Puts a downloaded build in place of the running program and starts it again.
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
if [ -f "$new_build" ]; then
    mv -f "$new_build" "$program" && chmod +x "$program"
fi
exec "$program"
