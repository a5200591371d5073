#!/usr/bin/env bash
# Builds the message loop, socket, HTTP and shell tests with ThreadSanitizer in build-tsan and
# runs them: the resolver workers, the directory monitor's worker and the queue's posts from
# other threads are what it watches.
#   bash scripts/tsan.sh            # all four test programs
#   bash scripts/tsan.sh test_net   # one of them
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
flags="-fsanitize=thread -g -O1 -fno-omit-frame-pointer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=OFF \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" >/dev/null
targets=("${@:-test_sys test_net test_http test_shell}")
read -r -a targets <<<"${targets[*]}"
cmake --build build-tsan --target "${targets[@]}"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
# ThreadSanitizer needs the address layout it knows; newer kernels randomise more than it
# expects, so the programs run without address randomisation.
run=(setarch "$(uname -m)" -R)
"${run[@]}" true 2>/dev/null || run=()
for t in "${targets[@]}"; do
    echo "== $t"
    "${run[@]}" "build-tsan/tests/$t" --gtest_brief=1
done
