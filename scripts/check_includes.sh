#!/usr/bin/env bash
# check_includes.sh: every folder includes only its own headers and those of
# the folders below it; the arrows between folders form no cycle. Prints
# each offending include and fails when there is one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# What each folder may include besides itself.
declare -A allowed=(
    [app]="ui dialogs widgets files settings recording history engine base"
    [ui]="dialogs widgets files settings recording history engine base"
    [dialogs]="widgets files settings history engine base"
    [widgets]="files settings engine base"
    [files]="settings base"
    [settings]="engine base"
    [recording]="history engine base"
    [history]="base"
    [engine]="base"
    [base]=""
    [cli]="recording history engine base"
    [bench]="files settings history engine base"
)

status=0
# A folder of code missing above would go unchecked.
for listing in */CMakeLists.txt; do
    folder=${listing%%/*}
    case $folder in tests | packaging | res | translations | build*) continue ;; esac
    if [[ -z ${allowed[$folder]+set} ]]; then
        echo "check_includes.sh: $folder/ has no place in the table of folders" >&2
        status=1
    fi
done

# Which folders hold a header of each name.
declare -A holders=()
for folder in "${!allowed[@]}"; do
    [[ -d $folder ]] || continue
    while IFS= read -r header; do
        name=${header##*/}
        holders[$name]+="$folder "
    done < <(find "$folder" -name '*.h')
done

edges=()
for folder in "${!allowed[@]}"; do
    [[ -d $folder ]] || continue
    while IFS=: read -r file line text; do
        included=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/' <<<"$text")
        if [[ $included == */* ]]; then
            # A relative path names its folder itself.
            target=$(realpath -m --relative-to="$root" "$(dirname "$file")/$included")
            target=${target%%/*}
        elif [[ -e $(dirname "$file")/$included ]]; then
            continue
        else
            target=""
            for holder in ${holders[$included]:-}; do
                if [[ " ${allowed[$folder]} " == *" $holder "* ]]; then
                    target=$holder
                    break
                fi
            done
            if [[ -z $target ]]; then
                read -r target _ <<<"${holders[$included]:-}" || true
                [[ -z $target ]] && continue # a system or generated header
            fi
        fi
        [[ $target == "$folder" ]] && continue
        edges+=("$folder $target")
        if [[ " ${allowed[$folder]} " != *" $target "* ]]; then
            echo "$file:$line: $folder/ may not include $included from $target/" >&2
            status=1
        fi
    done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$folder" \
                 --include='*.h' --include='*.cpp' || true)
done

if ((${#edges[@]})) && ! printf '%s\n' "${edges[@]}" | sort -u | tsort >/dev/null 2>&1; then
    echo "the includes between folders form a cycle:" >&2
    printf '%s\n' "${edges[@]}" | sort -u | tsort 2>&1 >/dev/null | sed 's/^/  /' >&2
    status=1
fi
if ((status == 0)); then
    echo "includes: every folder uses only the folders below it"
fi
exit $status
