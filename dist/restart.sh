#!/bin/sh
# Puts a downloaded build in place of the running program and starts it again.
#   restart.sh NEW_BUILD PROGRAM    (the window passes both)
#   restart.sh                      plovikKit-update-temp and plovikKit in the script's folder
if [ $# -ge 2 ]; then
    new_build="$1"
    program="$2"
else
    cd "$(dirname "$0")" || exit 1
    new_build=plovikKit-update-temp
    program=./plovikKit
fi
# The program ends right after starting this script; let it go first.
sleep 1
if [ -f "$new_build" ]; then
    mv -f "$new_build" "$program" && chmod +x "$program"
fi
exec "$program"
