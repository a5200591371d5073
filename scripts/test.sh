#!/usr/bin/env bash
# Builds Quorvane with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON -DQV_BENCH=ON >/dev/null
cmake --build build-test
cd build-test
ctest --output-on-failure --timeout 300 -j2
