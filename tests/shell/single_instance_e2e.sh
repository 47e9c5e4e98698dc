#!/usr/bin/env bash
# Two real launchers under Wine: a second normal start for the same settings
# brings the running launcher's window to the front and ends; the console
# report and the restart after a swap run beside it.
# usage: single_instance_e2e.sh <wine-run> <Emberlane.exe> <front_window.exe>
set -u
winerun=$1 exe=$2 helper=$3
work=$(mktemp -d)
mkdir -p "$work/config"
cp "$exe" "$work/Emberlane.exe"
export EMBERLANE_CONFIG_DIR="Z:$work/config"
export EMBERLANE_UI_TRACE=1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
log=$work/config/launcher.log
pids=()
cleanup() {
    "$winerun" "$helper" close >/dev/null 2>&1
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

# The first launcher, a normal start, with its window up.
"$winerun" "$work/Emberlane.exe" --warp >"$work/first.txt" 2>&1 &
first=$!
pids+=("$first")
for _ in $(seq 600); do
    grep -q "first frame presented" "$work/config/ui-trace.log" 2>/dev/null && break
    sleep 0.1
done
grep -q "first frame presented" "$work/config/ui-trace.log" 2>/dev/null || { fail "the first launcher has no window"; exit 1; }

# Another program in front of it.
"$winerun" "$helper" cover 60000 >/dev/null 2>&1 &
pids+=("$!")
for _ in $(seq 100); do
    [ "$("$winerun" "$helper" front | tr -d '\r')" = "FrontWindowCover" ] && break
    sleep 0.2
done
[ "$("$winerun" "$helper" front | tr -d '\r')" = "FrontWindowCover" ] || fail "the cover window never came to the front"

# The second start: it ends by itself, and the first launcher is in front.
start=$(date +%s.%N)
timeout 60 "$winerun" "$work/Emberlane.exe" --warp >"$work/second.txt" 2>&1
code=$?
end=$(date +%s.%N)
[ "$code" -eq 0 ] || fail "the second start ended with $code"
echo "second start to its end: $(echo "$end - $start" | bc) s"
grep -q "another launcher is already running for these settings; its window was brought to the front" "$log" ||
    fail "the second start did not hand over: $(tail -n 3 "$log")"
front=$("$winerun" "$helper" front | tr -d '\r')
[ "$front" = "EmberlaneLauncher" ] || fail "the window in front is '$front', not the launcher"
count=$("$winerun" "$helper" count | tr -d '\r')
[ "$count" = "1" ] || fail "$count launcher windows are open"
kill -0 "$first" 2>/dev/null || fail "the first launcher ended"
[ "$(grep -c "launcher 2.1.0 started" "$log")" = "1" ] || fail "a second controller started"

# The console report is no launcher: it runs beside one (alone it is a
# usage error, code 2).
"$winerun" "$work/Emberlane.exe" --check-manifest >/dev/null 2>&1
[ "$?" -eq 2 ] || fail "the console report was refused beside a running launcher"

# The restart after a swap is never refused: it draws its frames and ends.
"$winerun" "$work/Emberlane.exe" --updated --warp --shot "Z:$work/updated.png" --frames 2 >/dev/null 2>&1
[ "$?" -eq 0 ] && [ -s "$work/updated.png" ] || fail "the restart after a swap was refused"

[ "$failures" -eq 0 ] && echo "ok: one launcher at a time"
exit $((failures > 0))
