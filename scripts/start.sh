#!/usr/bin/env bash
# Builds Quorvane and starts its window, or, without a display, the check without a window.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_TESTS=OFF >/dev/null
cmake --build build
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): checking the favourites without a window."
    exec build/src/app/quorvane-check
fi
exec build/src/app/quorvane
