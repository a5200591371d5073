#!/usr/bin/env bash
# Fails, naming the files, when a source file under git differs from what clang-format makes of
# it with the project's .clang-format. `clang-format -i FILE` mends one.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
unformatted=()
for f in "${files[@]}"; do
    clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || unformatted+=("$f")
done
if ((${#unformatted[@]})); then
    echo "Not formatted with clang-format: ${unformatted[*]}" >&2
    exit 1
fi
echo "clang-format: ${#files[@]} files formatted"
