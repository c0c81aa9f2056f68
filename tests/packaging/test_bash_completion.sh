#!/usr/bin/env bash
# test_bash_completion.sh COMPLETION ZAPFER_CLI: completes zapfer-cli command
# lines as bash would (with bash-completion loaded) and checks the offers,
# including that every option of `zapfer-cli --help` is offered for its command.
set -uo pipefail
completion=$1
cli=$2

# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion || exit 1
# shellcheck disable=SC1090
source "$completion" || exit 1

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# The offers for a command line whose cursor is at its end, sorted, one a line.
complete_line() {
    local line=$1
    COMP_LINE=$line
    COMP_POINT=${#line}
    # Split as readline does: a trailing blank starts an empty word.
    read -r -a COMP_WORDS <<<"$line"
    [[ $line == *' ' ]] && COMP_WORDS+=('')
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _zapfer_cli zapfer-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | sort | sed '/^$/d'
}

expect_offers() {
    local line=$1 expected=$2 got
    got=$(complete_line "$line")
    expected=$(printf '%s\n' $expected | sort)
    [[ $got == "$expected" ]] || fail "'$line': offered [${got//$'\n'/ }], expected [${expected//$'\n'/ }]"
}

expect_offered() {
    local line=$1 word=$2
    grep -qxF -- "$word" <<<"$(complete_line "$line")" || fail "'$line' does not offer '$word'"
}

expect_not_offered() {
    local line=$1 word=$2
    ! grep -qxF -- "$word" <<<"$(complete_line "$line")" || fail "'$line' offers '$word'"
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/inbox" "$work/photos"
touch "$work/notes.txt" "$work/--odd-name"
cd "$work" || exit 1

# Commands first, and nothing but --help and --version before them.
expect_offers 'zapfer-cli ' 'send receive history pair help --help --version'
expect_offers 'zapfer-cli re' 'receive'
expect_offers 'zapfer-cli --' '--help --version'
expect_offers 'zapfer-cli help ' ''
expect_offers 'zapfer-cli pair ' ''
expect_offers 'zapfer-cli send --pairing-code ' ''

# Serial types, as option value and after '='.
expect_offers 'zapfer-cli send --serial ' 'usb com1 com2 rawir'
expect_offers 'zapfer-cli receive --serial c' 'com1 com2'
expect_offers 'zapfer-cli receive --serial=r' 'rawir'

# Folders only for --dest; files for send; nothing for receive's operands or numbers.
expect_offers 'zapfer-cli receive --dest ' 'inbox photos'
expect_offers 'zapfer-cli receive --dest=p' 'photos'
expect_offered 'zapfer-cli send ' 'notes.txt'
expect_offered 'zapfer-cli send --lan ' 'inbox'
expect_offers 'zapfer-cli receive ' ''
expect_offers 'zapfer-cli history ' ''
expect_offers 'zapfer-cli history --limit ' ''
expect_offers 'zapfer-cli send --port ' ''
expect_offers 'zapfer-cli send --timeout ' ''
expect_offered 'zapfer-cli send --serial usb --device /dev/' '/dev/null'

# Options of the other command are not offered; after '--' only files are.
expect_not_offered 'zapfer-cli receive --' '--to'
expect_not_offered 'zapfer-cli send --' '--dest'
expect_offers 'zapfer-cli send -- --' '--odd-name'
expect_offers 'zapfer-cli send -- --serial ' 'inbox notes.txt photos --odd-name'

# Every option `zapfer-cli --help` lists is offered for the commands it names.
help=$("$cli" --help) || fail "zapfer-cli --help failed"
section=""
count=0
while IFS= read -r text; do
    case $text in
        'Options of receive:') section=receive ;;
        'Options of send:') section=send ;;
        'Options of both:') section=both ;;
        'Options of history:') section=history ;;
        '  --'*)
            option=${text#  }
            option=${option%% *}
            [[ -n $section ]] || continue
            count=$((count + 1))
            for command in send receive history; do
                if [[ $option == --help || $option == --version ]] ||
                    [[ $section == both && $command != history ]] ||
                    [[ $section == "$command" ]]; then
                    expect_offered "zapfer-cli $command --" "$option"
                else
                    expect_not_offered "zapfer-cli $command --" "$option"
                fi
            done
            ;;
    esac
done <<<"$help"
((count >= 10)) || fail "read only $count options from --help"

if ((failures > 0)); then
    echo "$failures completion check(s) failed" >&2
    exit 1
fi
echo "all completion checks passed ($count options from --help)"
