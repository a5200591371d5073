#!/usr/bin/env bash
# Builds the Debian package of Quorvane (both programs, the menu entry, the icons, the man pages,
# the bash completion) in build-deb
# and prints its path.   Usage: scripts/deb.sh   Install: sudo apt install ./build-deb/quorvane_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_TESTS=OFF >/dev/null
cmake --build build-deb
(cd build-deb && rm -f quorvane_*.deb && cpack -G DEB >/dev/null)
ls build-deb/quorvane_*.deb
