#!/usr/bin/env bash
# foreign_signin.sh TEST-EXE OUT-FILE: writes OUT-FILE, an account.json saved
# by another Windows user, for the test that checks it is refused. Wine's
# protection key follows the user name, so the file is made in a throwaway
# prefix under another name, once per build tree (making a prefix costs
# tens of seconds); the prefix is removed again.
set -eu
exe=$1
out=$2
[ -s "$out" ] && exit 0

prefix=$(mktemp -d /tmp/ember-foreign-prefix.XXXXXX)
folder=$(mktemp -d /tmp/ember-foreign-config.XXXXXX)
cleanup() {
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    rm -rf "$prefix" "$folder"
}
trap cleanup EXIT

env -u DISPLAY WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=" \
    USER=emberguest LOGNAME=emberguest EMBERLANE_CONFIG_DIR="Z:$folder" \
    wine "$exe" --gtest_also_run_disabled_tests --gtest_filter='*DISABLED_WriteForAnotherUser' </dev/null >"$folder.log" 2>&1 ||
    { cat "$folder.log" >&2; rm -f "$folder.log"; exit 1; }
rm -f "$folder.log"
cp "$folder/account.json" "$out"
