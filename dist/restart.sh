#!/bin/sh
# Puts a downloaded build in place of the running one and starts it again.
cd "$(dirname "$0")" || exit 1
sleep 1
if [ -f plovikKit-update-temp ]; then
    mv -f plovikKit-update-temp plovikKit && chmod +x plovikKit
fi
exec ./plovikKit
