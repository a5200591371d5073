#!/usr/bin/env bash
# Shows Quorvane's window on a virtual X screen (Xvfb) with a small fixture Favorites folder
# and saves a screenshot of it as PNG.   Usage: scripts/screenshot.sh [OUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/screenshot.png}")
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_TESTS=OFF >/dev/null
cmake --build build --target quorvane >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
favorites="$work/home/Favorites"
shortcut() {  # shortcut RELATIVE-PATH ADDRESS
    mkdir -p "$(dirname "$favorites/$1")"
    printf '[DEFAULT]\r\nBASEURL=%s\r\n[InternetShortcut]\r\nURL=%s\r\n' "$2" "$2" >"$favorites/$1"
}
shortcut "Bramwick Homepage.url" "https://bramwick.example/"
shortcut "Suchmaschine.url" "https://suche.example/"
shortcut "Wörterbuch.url" "https://woerterbuch.example/de/"
shortcut "Nachrichten/Tageszeitung.url" "https://zeitung.example/"
shortcut "Nachrichten/Wetter.url" "https://wetter.example/heute"
shortcut "Reisen/Fahrplan.url" "https://fahrplan.example/"
shortcut "Reisen/Bahn/Sitzplatz reservieren.url" "https://bahn.example/reservierung"
shortcut "Reisen/Bahn/Verspätungen.url" "https://bahn.example/live"
shortcut "Software/Compiler-Handbuch.url" "https://compiler.example/doc/index.html"
shortcut "Software/Paketquellen.url" "https://pakete.example/"

mkdir "$work/fb"
export HOME="$work/home" LANG=C.UTF-8
export QT_QPA_PLATFORM=xcb
xvfb-run -a -s "-screen 0 1024x768x24 -br -nocursor -fbdir $work/fb" bash -c '
    build/src/app/quorvane & pid=$!
    for _ in $(seq 60); do  # up to 30 s for the window to appear
        /usr/bin/python3 scripts/xwd2png.py "$1/Xvfb_screen0" --check && break
        sleep 0.5
    done
    sleep 1.5  # let it finish painting
    /usr/bin/python3 scripts/xwd2png.py "$1/Xvfb_screen0" "$2"
    kill "$pid"; wait "$pid" || true
' screenshot "$work/fb" "$out"
echo "Screenshot: $out"
