#!/usr/bin/env bash
# The generated completion run as bash and zsh run it; a stand-in flasher lists the ports.
#   completion_test.sh COMPLETION_DIR
set -euo pipefail
completion="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "completion test: $*" >&2; exit 1; }
mkdir "$work/bin" && touch "$work/image.bin"
printf '#!/bin/sh\necho "ttyUSB0 FT232R USB UART serial=A1B2 usb=0403:6001"\n' >"$work/bin/plovikkit-flash"
chmod +x "$work/bin/plovikkit-flash" && export PATH="$work/bin:$PATH"

# bash: PROGRAM, the LINE typed so far (split at ':' as bash splits it), a word COMPREPLY must hold.
offers() {
    bash -c 'source "$1"; COMP_LINE="$2"; COMP_POINT=${#2}; read -ra COMP_WORDS <<<"${2//:/ : }"
        [[ $2 == *" " ]] && COMP_WORDS+=(""); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); "_${3//-/_}"
        printf "%s\n" "${COMPREPLY[@]}"' bash "$completion/bash/$1" "$1 $2" "$1" | grep -qxF -- "$3"
}
expect() { offers "$@" || fail "bash: \"$1 $2\" offers no $3"; }
expect plovikkit-flash --tar --targets
expect plovikkit-flash "--targets $work/ima" "$work/image.bin"
expect plovikkit-flash "-p ttyS0 $work/ima" "$work/image.bin"
expect plovikkit-flash "-t d" demo
expect plovikkit-flash "-p " ttyUSB0
expect plovikkit-flash "-p " serial:A1B2
expect plovikkit-flash "--port serial:A" A1B2 # bash puts back only what follows the ':'

command -v zsh >/dev/null || { echo "completion test: OK (bash; no zsh here)"; exit 0; }
# zsh: an interactive shell on a pty, LINE and Tab typed, what it showed read back.
shows() {
    zsh -f -c 'zmodload zsh/zpty; zpty z zsh -f -i
        zpty -w z "PS1=\"Z%%> \"; unsetopt list_ambiguous; fpath=($1 \$fpath)"
        zpty -w z "autoload -Uz compinit; compinit -u -D; echo READ""Y"; zpty -r z out "*READY*Z%> *"
        zpty -w -n z "$2"$'"'"'\t'"'"'; zpty -w z $'"'"'\C-u'"'"'"echo END''MARK"
        zpty -r z out "*ENDMARK*"; print -r -- "$out"' zsh "$completion/zsh" "$1" | grep -qF -- "$2" ||
        fail "zsh: \"$1\" shows no $2"
}
shows "plovikkit-flash --tar" --targets
shows "plovikkit-flash -p ser" serial:A1B2
echo "completion test: OK (bash and zsh)"
