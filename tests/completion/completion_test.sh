#!/usr/bin/env bash
# The generated completion, run the way bash and zsh run it; a stand-in flasher lists the ports,
# one adapter with a serial number.
#   completion_test.sh COMPLETION_DIR
set -euo pipefail
completion="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "completion test: $*" >&2; exit 1; }

mkdir "$work/bin"
printf '#!/bin/sh\n[ "$1" = --list-ports ] && printf "ttyUSB0 FT232R USB UART serial=A1B2 usb=0403:6001\\nttyS0 \\n"\n' \
    > "$work/bin/plovikkit-flash"
chmod +x "$work/bin/plovikkit-flash"
touch "$work/image.bin"

# bash: the line typed so far -> COMPREPLY, one a line; the words split at ':' as bash splits them.
complete_bash() {
    PATH="$work/bin:$PATH" bash -c 'source "$1"; COMP_LINE="$3"; COMP_POINT=${#COMP_LINE}
        read -ra COMP_WORDS <<<"${COMP_LINE//:/ : }"; [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
        COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 ))
        "$2"; printf "%s\n" "${COMPREPLY[@]}"' bash "$@"
}
expect() { # EXPECTED WHAT -- COMPLETIONS
    grep -qxF -- "$1" <<<"$3" || fail "$2: no \"$1\" among: $(tr '\n' ' ' <<<"$3")"
}
flash="$completion/bash/plovikkit-flash"
flash() { complete_bash "$flash" _plovikkit_flash "plovikkit-flash $1"; }
expect --targets "bash --tar" "$(flash "--tar")"
expect "$work/image.bin" "bash --targets FILE" "$(flash "--targets $work/ima")"
expect "$work/image.bin" "bash --targets=FILE" "$(flash "--targets=$work/ima")"
expect "$work/image.bin" "bash IMAGE" "$(flash "-p ttyS0 $work/ima")"
ports="$(flash "-p ")"
expect ttyUSB0 "bash -p" "$ports"
expect serial:A1B2 "bash -p" "$ports"
# bash puts back only what follows the last ':' of the word.
expect A1B2 "bash -p serial:A" "$(flash "--port serial:A")"
[ -z "$(flash "--baud ")" ] || fail "bash --baud offers something"
expect --output "bash devsim --out" \
    "$(complete_bash "$completion/bash/plovikkit-devsim" _plovikkit_devsim "plovikkit-devsim --out")"

# zsh, when there is one: an interactive shell on a pty, Tab pressed, its listing read back.
if ! command -v zsh >/dev/null; then
    echo "completion test: OK (bash; no zsh here)"
    exit 0
fi
complete_zsh() { # TYPED -> what the terminal showed
    zsh -f -c 'zmodload zsh/zpty
        zpty z zsh -f -i
        zpty -w z "PS1=\"Z%%> \"; unsetopt list_ambiguous; fpath=($1 \$fpath); path=($2 \$path)"
        zpty -w z "autoload -Uz compinit; compinit -u -D; echo READ""Y"
        zpty -r z out "*READY*Z%> *"
        zpty -w -n z "$3"$'"'"'\t'"'"'
        zpty -w z $'"'"'\C-u'"'"'"echo END''MARK"
        zpty -r z out "*ENDMARK*"
        print -r -- "$out"
        zpty -d z' zsh "$completion/zsh" "$work/bin" "$1"
}
expect_shown() { grep -qF -- "$1" <<<"$3" || fail "$2: \"$1\" not shown: $3"; }
expect_shown --targets "zsh --tar" "$(complete_zsh "plovikkit-flash --tar")"
expect_shown serial:A1B2 "zsh -p" "$(complete_zsh "plovikkit-flash -p ser")"
echo "completion test: OK (bash and zsh)"
