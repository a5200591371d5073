#!/usr/bin/env bash
# The bash completion file: it parses, and completes what a user types at the prompt.
# Usage: completion_test.sh COMPLETION-FILE
set -u
bash -n "$1" || exit 1
source "$1"
failures=0
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/Favoriten" "$dir/Fotos"
touch "$dir/Favoriten.html"

# Completes the words (the last one is the one being typed) and compares the sorted answers.
expect() {
    local expected=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _quorvane "$1" "${COMP_WORDS[COMP_CWORD]}"
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' ')
    if [[ $got != "$expected" ]]; then
        echo "FAIL: $* -> \"$got\", expected \"$expected\"" >&2
        failures=$((failures + 1))
    fi
}

expect "--format" quorvane-check --form
expect "--color" quorvane-check --co
expect "" quorvane --form
expect "-V" quorvane -V
expect "csv" quorvane-check --format c
expect "json" quorvane-check --format = j
expect "always auto never" quorvane-check --color ""
expect "$dir/Favoriten $dir/Fotos" quorvane-check -f "$dir/F"
expect "$dir/Favoriten" quorvane --favorites "$dir/Fa"
expect "$dir/Favoriten $dir/Favoriten.html" quorvane-check --bookmarks "$dir/Fa"
expect "" quorvane-check --jobs ""
expect "--help" quorvane-check --he
expect "--no-save" quorvane-check -q --no
exit $((failures > 0))
