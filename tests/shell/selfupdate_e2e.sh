#!/usr/bin/env bash
# Self-update end to end under Wine with the real executables: an old
# Emberlane.exe (2.1.0) in a temporary folder is updated from a stand-in
# service publishing Emberlane-next.exe (2.2.0): an http:// build and a
# corrupted download change nothing; then download to .new, the swap (wait
# for the old process, copy to .old, the new build renamed over X, restart
# with --updated), the clean-up; the file in place then carries 2.2.0 and the
# new bytes. Last, a swap cut short with X gone is finished by starting X.new.
# usage: selfupdate_e2e.sh <source dir> <Emberlane.exe> <Emberlane-next.exe> <selfupdate_driver.exe>
set -u
top=$1 old=$2 next=$3 driver=$4
winerun=$top/tools/wine-run
work=$(mktemp -d)
state=$work/standin/state.json
cleanup() {
    python3 "$top/tools/standin/fixture.py" stop --state "$state" >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

python3 "$top/tools/standin/fixture.py" start --state "$state" --wine-trust -- \
    --launcher-file "$next" --launcher-version 2.2.0 >/dev/null || { echo "FAIL: no stand-in service"; exit 1; }
base() { python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])' "$state" "$1"; }
https=$(base https_base)
http=$(base http_base)

mkdir -p "$work/game" "$work/config"
cp "$old" "$work/game/Emberlane.exe"
export EMBERLANE_CONFIG_DIR="Z:$work/config"
export EMBERLANE_UI_TRACE=1
exe="Z:$work/game/Emberlane.exe"

# refused <what> <manifest URL> <expected output prefix>: the old build stays
# exactly as it was and nothing is left beside it.
refused() {
    "$winerun" "$driver" update "$2" "$exe" >"$work/out.txt" 2>&1
    local code=$? out
    out=$(tr -d '\r' <"$work/out.txt")
    [ "$code" -eq 1 ] && [ "${out#"$3"}" != "$out" ] || fail "$1: exit $code, '$out'"
    cmp -s "$old" "$work/game/Emberlane.exe" || fail "$1: the old build changed"
    for leftover in Emberlane.exe.new Emberlane.exe.new.part Emberlane.exe.old; do
        [ -e "$work/game/$leftover" ] && fail "$1: $leftover left behind"
    done
}
refused "an http:// build" "${http}client/manifest.json" "launcher update has no verifiable digest; ignored"
refused "a build spoilt on the way" "${https}client/manifest.json?launcherFault=corrupt" \
    "launcher self-update failed: checksum mismatch"

start=$(date +%s.%N)
"$winerun" "$driver" update "${https}client/manifest.json" "$exe" >"$work/out.txt" 2>&1
code=$?
[ "$code" -eq 0 ] || { fail "the self-update did not start the new build (exit $code)"; sed 's/^/    /' "$work/out.txt"; }

# The restarted launcher (2.2.0, with --updated) cleans up and draws its window.
for _ in $(seq 300); do
    grep -q "first frame presented" "$work/config/ui-trace.log" 2>/dev/null &&
        [ ! -e "$work/game/Emberlane.exe.new" ] && [ ! -e "$work/game/Emberlane.exe.old" ] && break
    sleep 0.1
done
end=$(date +%s.%N)
grep -q "first frame presented" "$work/config/ui-trace.log" 2>/dev/null || fail "the updated launcher did not open its window"
echo "self-update end to end (download, swap, restart to the first frame): $(echo "$end - $start" | bc) s"
for leftover in Emberlane.exe.new Emberlane.exe.old Emberlane.exe.new.part Emberlane.exe.tmp; do
    [ -e "$work/game/$leftover" ] && fail "$leftover left behind"
done
cmp -s "$next" "$work/game/Emberlane.exe" || fail "Emberlane.exe is not the published build"
version=$("$winerun" "$driver" version "$exe" | tr -d '\r')
[ "$version" = "2.2.0" ] || fail "the version resource in place is '$version', not 2.2.0"
grep -q "self-update: the new launcher is in place" "$work/config/launcher.log" 2>/dev/null ||
    fail "the swap did not log its outcome"
# The spoilt download was no attempt; the build that was started is one.
grep -q '"attempts": 1' "$work/config/config.json" || fail "config.json does not count the one started build alone"
"$winerun" "$driver" close "$exe" || fail "the updated launcher's window did not close"

# A swap cut short after X was moved aside (what a kill at the wrong moment
# left before: only X.old and X.new): a start of X.new finishes it and the
# launcher comes back as the new build.
rm -f "$work/game/Emberlane.exe" "$work/config/ui-trace.log"
cp "$old" "$work/game/Emberlane.exe.old"
cp "$next" "$work/game/Emberlane.exe.new"
"$winerun" "$work/game/Emberlane.exe.new" >/dev/null 2>&1
for _ in $(seq 300); do
    grep -q "first frame presented" "$work/config/ui-trace.log" 2>/dev/null &&
        [ ! -e "$work/game/Emberlane.exe.new" ] && [ ! -e "$work/game/Emberlane.exe.old" ] && break
    sleep 0.1
done
cmp -s "$next" "$work/game/Emberlane.exe" || fail "a start of X.new did not finish the cut-short swap"
for leftover in Emberlane.exe.new Emberlane.exe.old; do
    [ -e "$work/game/$leftover" ] && fail "$leftover left behind after the finished swap"
done
"$winerun" "$driver" close "$exe" || fail "the launcher after the finished swap did not open its window"

# Updated already: the same manifest offers nothing more.
"$winerun" "$driver" update "${https}client/manifest.json" "$exe" >"$work/out.txt" 2>&1
[ "$?" -eq 1 ] && [ "$(tr -d '\r' <"$work/out.txt")" = "" ] || fail "an up-to-date launcher updated again: $(cat "$work/out.txt")"
[ -e "$work/game/Emberlane.exe.new" ] && fail "an up-to-date launcher downloaded"

[ "$failures" -eq 0 ] && echo "ok: self-update end to end"
exit $((failures > 0))
