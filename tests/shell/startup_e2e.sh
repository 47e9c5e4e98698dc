#!/usr/bin/env bash
# End-to-end start-up of the real Emberlane.exe under Wine: which argument
# selects which mode, and the clean-up after a self-update.
# usage: startup_e2e.sh <wine-run> <Emberlane.exe>
set -u
winerun=$1
exe=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$exe" "$work/Emberlane.exe"
export EMBERLANE_CONFIG_DIR="Z:$work/config"
failures=0
# A normal start now opens the window: these runs photograph their second
# frame and end by themselves.
shot=(--shot "Z:$work/shot.png" --frames 2 --warp)

# expect_exit <code> <what> -- <arguments...>
expect_exit() {
    local want=$1 what=$2
    shift 3
    "$winerun" "$work/Emberlane.exe" "$@" >"$work/out.txt" 2>&1
    local got=$?
    if [ "$got" -ne "$want" ]; then
        echo "FAIL: $what: exit code $got, expected $want"
        sed 's/^/    /' "$work/out.txt"
        failures=$((failures + 1))
    else
        echo "ok: $what"
    fi
}

# --updated first removes the previous build's leftovers, then starts normally.
echo old >"$work/Emberlane.exe.old"
echo new >"$work/Emberlane.exe.new"
echo keep >"$work/Other.exe.old"
expect_exit 0 "--updated starts normally" -- --updated --demo home "${shot[@]}"
for leftover in Emberlane.exe.old Emberlane.exe.new; do
    if [ -e "$work/$leftover" ]; then
        echo "FAIL: --updated left $leftover behind"
        failures=$((failures + 1))
    fi
done
[ -e "$work/Other.exe.old" ] || { echo "FAIL: --updated removed another program's file"; failures=$((failures + 1)); }

# Without --updated first, leftovers stay.
echo old >"$work/Emberlane.exe.old"
expect_exit 0 "--updated later is no clean-up" -- --demo home --updated "${shot[@]}"
[ -e "$work/Emberlane.exe.old" ] || { echo "FAIL: a late --updated cleaned up"; failures=$((failures + 1)); }

# --check-manifest first hands over to the report: alone it is a usage error.
expect_exit 2 "--check-manifest first runs the report" -- --check-manifest
# Anywhere else it is an unknown argument, ignored.
expect_exit 0 "--check-manifest later is ignored" -- --warp --check-manifest "${shot[@]}"

# --swap with a target and a process id ends the process; with fewer it is ignored.
# (A real swap is tests/shell/selfupdate_e2e.sh; here the target does not
# exist, so nothing is replaced and nothing is started.)
expect_exit 0 "--swap with target and id" -- --swap "Z:$work/elsewhere/Emberlane.exe" 1
[ -e "$work/elsewhere" ] && { echo "FAIL: the swap created a launcher where none was"; failures=$((failures + 1)); }
# Without an id it starts normally: it draws its window (any extra argument
# would count as the id, so this run is ended once its first frame is up).
mkdir -p "$work/config"
EMBERLANE_UI_TRACE=1 "$winerun" "$work/Emberlane.exe" --swap "Z:$work/Emberlane.exe" >"$work/out.txt" 2>&1 &
pid=$!
for _ in $(seq 600); do
    grep -q "first frame presented" "$work/config/ui-trace.log" 2>/dev/null && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
if grep -q "first frame presented" "$work/config/ui-trace.log" 2>/dev/null; then
    echo "ok: --swap without an id starts normally"
else
    echo "FAIL: --swap without an id did not open the window"
    failures=$((failures + 1))
fi
# Ending wine-run leaves the Windows process running: end every process
# started from this run's own temporary folder too.
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
for p in $(pgrep -f -- "$work/Emberlane.exe"); do kill "$p" 2>/dev/null; done
[ -e "$work/Emberlane.exe" ] || { echo "FAIL: the swap touched the executable"; failures=$((failures + 1)); }

exit $((failures > 0))
