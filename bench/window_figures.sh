#!/usr/bin/env bash
# window_figures.sh [Emberlane.exe]: the window's figures under Wine and Xvfb,
# read from the UI trace of real runs (nothing is asserted; see the tests).
#   - process start to the first presented frame, WARP and the default
#     device, the median of 5 runs each;
#   - frame time (build + layout + draw list + render + present) of
#     --demo kit at 1600x1000, the median over 60 frames;
#   - idle CPU: the process's CPU time over 5 s of an idle window.
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
exe=${1:-$top/build/windows/Emberlane.exe}
winerun=$top/tools/wine-run
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$exe" "$work/Emberlane.exe"
export EMBERLANE_UI_TRACE=1

# run <name> <args...>: one run with its own configuration folder; prints the trace's path.
run() {
    local name=$1
    shift
    mkdir -p "$work/$name"
    EMBERLANE_CONFIG_DIR="Z:$work/$name" "$winerun" "$work/Emberlane.exe" "$@" >/dev/null 2>&1
    echo "$work/$name/ui-trace.log"
}
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)] }'; }

"$winerun" cmd /c exit >/dev/null 2>&1  # a warm Wine server for every run
for device in warp default; do
    flag=()
    [ "$device" = warp ] && flag=(--warp)
    for i in 1 2 3 4 5; do
        trace=$(run "start-$device-$i" "${flag[@]}" --shot "Z:$work/start.png" --frames 2)
        sed -n 's/.*first frame presented \([0-9.]*\) ms after start.*/\1/p' "$trace"
    done | median | xargs printf "start to first presented frame (%s, median of 5): %s ms\n" "$device"
done

trace=$(run kit --warp --demo kit --size 1600x1000 --shot "Z:$work/kit.png" --frames 60)
sed -n 's/.*frame times: \(.*\)/kit at 1600x1000, WARP: \1/p' "$trace"
trace=$(run kit-default --demo kit --size 1600x1000 --shot "Z:$work/kit.png" --frames 60)
sed -n 's/.*frame times: \(.*\)/kit at 1600x1000, default device: \1/p' "$trace"

# Idle CPU: start, wait for the first frame and a second more, measure 5 s.
mkdir -p "$work/idle"
EMBERLANE_CONFIG_DIR="Z:$work/idle" "$winerun" "$work/Emberlane.exe" --warp >/dev/null 2>&1 &
pid=$!
for _ in $(seq 300); do grep -q "first frame" "$work/idle/ui-trace.log" 2>/dev/null && break; sleep 0.1; done
sleep 1
ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
a=$(ticks)
sleep 5
b=$(ticks)
hz=$(getconf CLK_TCK)
awk -v a="$a" -v b="$b" -v hz="$hz" 'BEGIN { printf "idle CPU over 5 s: %.2f %% of a core\n", (b - a) / hz / 5 * 100 }'
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
exit 0
