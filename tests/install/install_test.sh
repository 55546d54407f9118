#!/usr/bin/env bash
# The installed tool, as a user meets it: staged into a temporary prefix with DESTDIR, then run
# from folders that have nothing to do with the build.
#   install_test.sh BUILD_DIR VERSION
set -euo pipefail
build="$1"
version="$2"
work="$(mktemp -d)"
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "install test: $*" >&2; exit 1; }

DESTDIR="$work/stage" cmake --install "$build" --prefix /usr >/dev/null
root="$work/stage/usr"
mkdir -p "$work/elsewhere" "$work/config"
cd "$work/elsewhere"
export XDG_CONFIG_HOME="$work/config"

[ "$("$root/bin/plovikkit-flash" --version)" = "plovikkit-flash $version" ] || fail "plovikkit-flash --version"

# A whole update with the installed flasher and simulated device.
"$root/bin/plovikkit-devsim" --link ./tty --split-len 256 --uart-len 64 --output received.bin >/dev/null 2>&1 &
for _ in $(seq 1 100); do [ -e tty ] && break; sleep 0.05; done
head -c 1000 /dev/urandom > image.bin
"$root/bin/plovikkit-flash" -p ./tty image.bin >/dev/null || fail "update with the installed flasher"
sleep 0.2
cmp -s <(head -c 1000 received.bin) image.bin || fail "the device did not receive the image"

# The installed window, started from here, takes its title from the installed project.conf (in
# Chinese, which shows it as written; in English the shipped title has a translation).
title="$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["APP_TITLE"])' \
    "$root/share/plovikkit/project.conf")"
PLOVIKKIT_LANG=zh QT_QPA_PLATFORM=xcb xvfb-run -a bash -c '
    "$1" >/dev/null 2>&1 &
    timeout 30 xdotool search --sync --name "$2" >/dev/null
    status=$?
    kill %1
    exit $status' window "$root/bin/plovikKit" "$title" || fail "no window titled \"$title\""

desktop-file-validate "$root"/share/applications/*.desktop || fail "desktop entry"
appstreamcli validate --no-net "$root"/share/metainfo/*.metainfo.xml >/dev/null || fail "AppStream data"
man -l "$root/share/man/man1/plovikkit-flash.1.gz" 2>/dev/null | grep -q "plovikkit-flash" || fail "man page"
bash -c 'source "$1"; COMP_WORDS=(plovikkit-flash --tar); COMP_CWORD=1; _plovikkit_flash
    [[ " ${COMPREPLY[*]} " == *" --targets "* ]]' bash "$root/share/bash-completion/completions/plovikkit-flash" ||
    fail "bash completion"
for size in 16 32 48 64 128 scalable; do
    ls "$root/share/icons/hicolor/$size"*/apps/plovikkit.* >/dev/null || fail "icon $size"
done
echo "install test: OK"
