#!/usr/bin/env bash
# Renders the start screen, every page and every view at the window's minimum size into PNG files (the
# data feed and the chart also at 1920x1080, beyond the offscreen screen's 800x600), offscreen: first
# with no instrument (screenshots/no-device/), then connected to the simulated one; then connected
# again on a 1280x720 screen (screenshots/1280x720/) and at 200% scaling on a 2560x1440 one
# (screenshots/1280x720@2x/; the same layout in twice the pixels).
# The program runs with a home folder of its own under the build folder.
set -euo pipefail
build=${1:-build}
app="$build/app/mervik-connect"
sim="$build/tools/sim/mervik-sim"
out="$(mkdir -p "$build/screenshots" && cd "$build/screenshots" && pwd)"
home="$(mkdir -p "$build/screenshots-home" && cd "$build/screenshots-home" && pwd)"

rm -rf "${out:?}"/* "${home:?}"/*
mkdir -p "$home/runtime" && chmod 700 "$home/runtime"
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$home/runtime"
export QT_QPA_PLATFORM=offscreen
export QT_LOGGING_RULES="${QT_LOGGING_RULES:-mervik.*.debug=false}"

"$app" --screenshots "$out/no-device" --quit-after 60000

# A short port path, as an adapter's would be.
link="${TMPDIR:-/tmp}/ttyMERVIK$$"
sim_pid=
trap '[ -z "$sim_pid" ] || kill $sim_pid 2>/dev/null || true; rm -f "$link"' EXIT

# One tour with a fresh simulated instrument (the last picture takes it into its loader): the folder,
# then the environment the program runs with.
connected_tour() {
    local folder=$1
    shift
    # With wire timing, so that the firmware upload is seen halfway.
    "$sim" --pty --wire --link "$link" --weight 123.45 --decimals 2 --unit g --stream 700 --max-seconds 120 \
        --model "PS 750.X2" --serial 654321 > "$home/sim.out" &
    sim_pid=$!
    for _ in $(seq 50); do
        [ -e "$link" ] && break
        sleep 0.1
    done
    [ -e "$link" ] || { echo "screenshots: the simulated instrument did not start"; exit 1; }
    env "$@" "$app" --connect "$link@9600" --screenshots "$folder" --quit-after 60000
    kill $sim_pid 2>/dev/null || true
    wait $sim_pid 2>/dev/null || true
    sim_pid=
    rm -f "$link"
}

connected_tour "$out"
connected_tour "$out/1280x720" MERVIK_SCREENSHOT_SIZE=1280x720
connected_tour "$out/1280x720@2x" MERVIK_SCREENSHOT_SIZE=1280x720 QT_SCALE_FACTOR=2
find "$out" -name '*.png' | sort
