#!/usr/bin/env bash
# Builds one libFuzzer target with clang (ASan + UBSan) in build-fuzz/ and runs it.
#   bash fuzz/run.sh fuzz_response [seconds]
# New inputs go to build-fuzz/corpus/<target>; the seeds in fuzz/corpus/<target> are read too.
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?usage: fuzz/run.sh <fuzz target> [seconds]}
seconds=${2:-30}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQV_FUZZ=ON -DQV_SANITIZE=ON -DQV_TESTS=OFF >/dev/null
cmake --build build-fuzz --target "$target"
mkdir -p "build-fuzz/corpus/$target"
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "build-fuzz/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
    "build-fuzz/corpus/$target" "fuzz/corpus/$target"
