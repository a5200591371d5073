#!/usr/bin/env bash
# Builds Quorvane and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_TESTS=OFF >/dev/null
cmake --build build
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): Quorvane's window cannot open here."
    exit 0
fi
exec build/src/app/quorvane
