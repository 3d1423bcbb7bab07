#!/usr/bin/env bash
# Starts the simulated instrument on a pseudo-terminal and the program connected to it.
# Stops both when the program closes (or after MERVIK_DEMO_SECONDS, default one hour).
set -euo pipefail
build=${1:-build}
seconds=${MERVIK_DEMO_SECONDS:-3600}
sim="$build/tools/sim/mervik-sim"
app="$build/app/mervik-connect"
link="$(cd "$build" && pwd)/demo-tty"

"$sim" --pty --link "$link" --weight 123.45 --decimals 2 --unit g --stream 3000 --max-seconds "$seconds" \
    > "$build/demo-sim.out" &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    [ -e "$link" ] && break
    sleep 0.1
done
[ -e "$link" ] || { echo "demo: the simulated instrument did not start"; exit 1; }
echo "demo: simulated instrument on $(readlink "$link")"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: no display, running without a window for 20 s"
    export QT_QPA_PLATFORM=offscreen
    seconds=20
fi
export QT_LOGGING_RULES="${QT_LOGGING_RULES:-mervik.*.debug=false}"
timeout "$seconds" "$app" --connect "$link@9600" --echo || true
