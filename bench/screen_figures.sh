#!/usr/bin/env bash
# screen_figures.sh [Emberlane.exe]: the screens' figures under Wine and Xvfb
# (reported, never asserted):
#   - process start to the first presented frame of the real home page (no
#     demo), from the UI trace, the median of 5 runs;
#   - the CPU time of the Emberlane.exe process over 10 s, on the demo home
#     page with nothing animating, with a field focused (Tab focuses the
#     first field), and on home-progress while the progress block animates.
set -u
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
exe=${1:-$top/build/windows/Emberlane.exe}
winerun=$top/tools/wine-run
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A copy under a name of its own, so that its process is found (and ended) by
# its pid alone.
tag=emberfig$$
cp "$exe" "$work/$tag.exe"
export EMBERLANE_UI_TRACE=1
"$winerun" cmd /c exit >/dev/null 2>&1  # a warm Wine server
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)] }'; }

for i in $(seq "${FIGURES_STARTS:-5}"); do
    mkdir -p "$work/start$i"
    EMBERLANE_CONFIG_DIR="Z:$work/start$i" "$winerun" "$work/$tag.exe" --warp --shot "Z:$work/start$i.png" \
        --frames 2 >/dev/null 2>&1
    sed -n 's/.*first frame presented \([0-9.]*\) ms after start.*/\1/p' "$work/start$i/ui-trace.log"
done | median | xargs printf "start to the first frame of the home page (median of 5): %s ms\n"

# cpu <slug> <label> [--focus] <args...>: 10 s of the process's CPU.
cpu() {
    local slug=$1 label=$2 focus=0
    shift 2
    if [ "$1" = --focus ]; then focus=1; shift; fi
    mkdir -p "$work/$slug"
    EMBERLANE_CONFIG_DIR="Z:$work/$slug" "$winerun" "$work/$tag.exe" --warp "$@" >/dev/null 2>&1 &
    local runner=$!
    for _ in $(seq 300); do grep -q "first frame" "$work/$slug/ui-trace.log" 2>/dev/null && break; sleep 0.1; done
    local pid
    pid=$(pgrep -f "$tag.exe" | while read -r p; do [ "$p" != "$runner" ] && grep -q "$tag.exe" /proc/"$p"/cmdline 2>/dev/null && echo "$p"; done | tail -1)
    if [ "$focus" = 1 ]; then
        local wid
        wid=$(DISPLAY=$(cat "$top/build/wineprefix.state/display" 2>/dev/null || echo "$DISPLAY") xdotool search --name '^Emberlane$' | head -1)
        DISPLAY=$(cat "$top/build/wineprefix.state/display" 2>/dev/null || echo "$DISPLAY") xdotool windowfocus "$wid" key Tab 2>/dev/null
    fi
    sleep 2
    local frames0 a b hz
    frames0=$(grep -c '^ *[0-9]* frame ' "$work/$slug/ui-trace.log")
    a=$(awk '{ print $14 + $15 }' "/proc/$pid/stat")
    sleep 10
    b=$(awk '{ print $14 + $15 }' "/proc/$pid/stat")
    hz=$(getconf CLK_TCK)
    local frames1
    frames1=$(grep -c '^ *[0-9]* frame ' "$work/$slug/ui-trace.log")
    awk -v a="$a" -v b="$b" -v hz="$hz" -v l="$label" -v f=$((frames1 - frames0)) \
        'BEGIN { printf "%s: %.2f %% of a core over 10 s, %d frames woken by a timer\n", l, (b - a) / hz / 10 * 100, f }'
    kill "$pid" 2>/dev/null
    wait "$runner" 2>/dev/null
}
cpu idle "home, nothing animating" --demo home
cpu focus "home, a field focused" --focus --demo home
cpu progress "home-progress, the block animating" --demo home-progress
[ -n "${FIGURES_KIT:-}" ] && cpu kit "kit (spinners, a focused field)" --demo kit
exit 0
