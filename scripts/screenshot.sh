#!/usr/bin/env bash
# Shows Quorvane's window on a virtual X screen (Xvfb) with a small fixture Favorites folder
# and saves a screenshot of it as PNG.
#
#   scripts/screenshot.sh [--size WxH] [--scale F] [--scene NAME] [--natural] [OUT.png]
#
#   --size WxH    the screen (default 1024x768); the window fills it unless --natural
#   --scale F     QT_SCALE_FACTOR for the window (default 1)
#   --natural     the window at the size the program gives it, on the black screen
#   --build DIR   the build folder to build the program in (default build, a Release build)
#   --scene NAME  list        the fixture list as read (default)
#                 first-start an empty HOME: no Favorites folder, no bookmarks
#                 run         a finished "Alle überprüfen" over the fixture, whose addresses a
#                             local server (scripts/fixture_server.py) answers with 200, a date,
#                             401 and 404, plus a mailto: address: every verdict's colour
#                 menu        the run above, then the row context menu open over the third row
# The run and the menu are started by the program itself through QUORVANE_SCENE (see
# src/app/DemoScene.h), which nothing but this script sets; no input is faked.
set -euo pipefail
cd "$(dirname "$0")/.."

size=1024x768 scale=1 scene=list natural=0 build=build out=
while (($#)); do
    case "$1" in
        --size) size=$2; shift 2 ;;
        --scale) scale=$2; shift 2 ;;
        --scene) scene=$2; shift 2 ;;
        --natural) natural=1; shift ;;
        --build) build=$2; shift 2 ;;
        -h|--help) sed -n '2,19p' "$0"; exit 0 ;;
        -*) echo "screenshot.sh: unknown option $1" >&2; exit 2 ;;
        *) out=$1; shift ;;
    esac
done
[[ $size =~ ^[0-9]+x[0-9]+$ ]] || { echo "screenshot.sh: --size wants WxH" >&2; exit 2; }
case "$scene" in list|first-start|run|menu) ;; *)
    echo "screenshot.sh: unknown scene $scene" >&2; exit 2 ;;
esac
out=$(realpath -m "${out:-build/screenshot-$scene.png}")

bash scripts/deps.sh
[[ -f $build/CMakeCache.txt ]] ||
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_TESTS=OFF >/dev/null
cmake --build "$build" --target quorvane >/dev/null

work=$(mktemp -d)
server_pid=
cleanup() {
    [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
# The program's own folder holds its result file: a copy in the scratch folder keeps earlier
# results out of the picture and this run's out of the build.
mkdir -p "$work/bin" "$work/home" "$work/fb"
cp "$build/src/app/quorvane" "$work/bin/"

base=https://example.invalid
if [[ $scene == run || $scene == menu ]]; then
    /usr/bin/python3 scripts/fixture_server.py "$work/port" 120 & server_pid=$!
    for _ in $(seq 50); do [[ -s $work/port ]] && break; sleep 0.1; done
    base=http://127.0.0.1:$(cat "$work/port")
fi

favorites="$work/home/Favorites"
shortcut() {  # shortcut RELATIVE-PATH ADDRESS
    mkdir -p "$(dirname "$favorites/$1")"
    printf '[DEFAULT]\r\nBASEURL=%s\r\n[InternetShortcut]\r\nURL=%s\r\n' "$2" "$2" >"$favorites/$1"
}
if [[ $scene != first-start ]]; then
    shortcut "Bramwick Homepage.url" "$base/ok/bramwick"
    shortcut "Suchmaschine.url" "$base/dated/suche"
    shortcut "Wörterbuch.url" "$base/gone/woerterbuch"
    shortcut "Nachrichten/Tageszeitung.url" "$base/ok/zeitung"
    shortcut "Nachrichten/Wetter.url" "$base/dated/wetter"
    shortcut "Reisen/Fahrplan.url" "$base/login/fahrplan"
    shortcut "Reisen/Bahn/Sitzplatz reservieren.url" "$base/gone/reservierung"
    shortcut "Reisen/Bahn/Verspätungen.url" "$base/ok/live"
    shortcut "Software/Compiler-Handbuch.url" "$base/dated/compiler"
    shortcut "Software/Kontakt.url" "mailto:kontakt@example.invalid"
fi

scene_steps=
case "$scene" in run) scene_steps=check ;; menu) scene_steps=check,menu ;; esac
geometry=()
# -geometry counts in the window's own (scaled) pixels.
logical=$(awk -v s="$size" -v f="$scale" 'BEGIN { split(s, d, "x"); printf "%dx%d", d[1] / f, d[2] / f }')
((natural)) || geometry=(-geometry "$logical+0+0")

export HOME="$work/home" LANG=C.UTF-8 QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale"
export QUORVANE_SCENE="$scene_steps"
unset XDG_CONFIG_HOME XDG_DATA_HOME http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
xvfb-run -a -s "-screen 0 ${size}x24 -br -nocursor -fbdir $work/fb" bash -c '
    "$1/bin/quorvane" "${@:4}" & pid=$!
    for _ in $(seq 60); do  # up to 30 s for the window to appear
        /usr/bin/python3 scripts/xwd2png.py "$1/fb/Xvfb_screen0" --check && break
        sleep 0.5
    done
    if [[ -n $QUORVANE_SCENE ]]; then  # the run writes its results when it ends
        for _ in $(seq 120); do [[ -e $1/bin/urls.dat ]] && break; sleep 0.5; done
    fi
    sleep 1.5  # let it finish painting
    /usr/bin/python3 scripts/xwd2png.py "$1/fb/Xvfb_screen0" "$2"
    kill "$pid"; wait "$pid" || true
' screenshot "$work" "$out" unused "${geometry[@]}"
echo "Screenshot: $out"
