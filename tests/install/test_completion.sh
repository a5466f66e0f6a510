#!/bin/bash
# talmo-cli's bash completion: what it offers after each typed line.
set -u
source /usr/share/bash-completion/bash_completion
source "$1"
cd "$(mktemp -d)" && touch a.hex b.txt && mkdir dossier
failed=0
check() { # LINE OFFERED
    COMP_LINE=$1 COMP_POINT=${#1}
    read -ra COMP_WORDS <<<"$1"
    [[ $1 == *' ' ]] && COMP_WORDS+=('')
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _talmo_cli talmo-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
    [[ $got == "$2" ]] || { echo "« $1 » : « $got » au lieu de « $2 »"; failed=1; }
}
check 'talmo-cli ' 'firmware help hex pic status'
check 'talmo-cli pic ' 'blank-check erase identify program read verify'
check 'talmo-cli firmware ' 'leave program save verify'
check 'talmo-cli --simulate dossier --sim-protected f' 'firmware'
check 'talmo-cli --sim-pic PIC16F876' 'PIC16F876 PIC16F876A'
check 'talmo-cli hex check --' '--device --firmware --help --log --pic --quiet --sim-pic --sim-protected --simulate --verbose --version'
check 'talmo-cli --log x --device y firmware program a.hex --n' '--no-verify'
check 'talmo-cli pic program x.hex --y' '--yes'
check 'talmo-cli status --w' '--watch'
check 'talmo-cli firmware program ' 'a.hex dossier'
check 'talmo-cli pic read ' 'a.hex b.txt dossier'
check 'talmo-cli --simulate ' 'dossier'
check 'talmo-cli help pic ' 'blank-check erase identify program read verify'
check 'talmo-cli pic verify ' 'a.hex dossier'
check 'talmo-cli pic identify ' ''
exit $failed
