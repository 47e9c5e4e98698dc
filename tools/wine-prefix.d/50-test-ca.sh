#!/usr/bin/env bash
# Trusts the throwaway test CA (tools/make-test-ca) inside the test Wine
# prefix, and nowhere else.
#
# Run two ways:
# - by tools/wine-run once, right after it creates the prefix: the prefix's
#   environment is set and wine-run holds its set-up lock, so wine is called
#   directly;
# - by the stand-in service fixture (tests/net/standin_fixture.cmake) before
#   the network tests, for a prefix that existed before this hook did:
#   EMBER_HOOK_WINE=tools/wine-run then routes the call through the runner.
# A marker file in the prefix, named after the CA's SHA-1, makes the second
# run a no-op once the certificate is in.
#
# Where the certificate goes: WinHTTP checks server chains with crypt32's
# current-user chain engine, whose Root store is the current user's registry
# store HKCU\Software\Microsoft\SystemCertificates\Root\Certificates together
# with the machine's HKLM\...\Root\Certificates. Wine fills the machine key at
# run time from the host's certificates as *volatile* keys; while the shared
# wineserver runs, a persistent key cannot be created below them, so the CA
# goes into the user's store. Each certificate is a subkey named by the
# upper-case SHA-1 of its DER form, holding a REG_BINARY value "Blob": a
# serialized store element, here one property header (id 32 = the encoded
# certificate, the constant 1, the length; little-endian 32-bit words)
# followed by the DER bytes.
#
# Usage: 50-test-ca.sh [--remove]   (--remove takes every test CA out again)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
prefix="${WINEPREFIX:-${EMBER_WINEPREFIX:-$top/build/wineprefix}}"
cadir="${EMBER_TESTCA_DIR:-$top/build/testca}"
wine_cmd="${EMBER_HOOK_WINE:-wine}"

# Runs a wine command with every output on /dev/null: the first program run
# in a fresh session starts Wine's own services, which inherit its output
# handles and live as long as the wineserver; on a pipe they would keep the
# caller (ctest) waiting for its end.
quiet_wine() { "$wine_cmd" "$@" </dev/null >/dev/null 2>&1; }
store='HKCU\Software\Microsoft\SystemCertificates\Root\Certificates'

# Takes out the certificate recorded by one marker file.
remove_marker() {
    local marker="$1" sha
    sha=${marker##*.ember-testca-}
    quiet_wine reg delete "$store\\$sha" /f || true
    rm -f "$marker"
}

if [ "${1:-}" = "--remove" ]; then
    for marker in "$prefix"/.ember-testca-*; do
        [ -e "$marker" ] && remove_marker "$marker"
    done
    exit 0
fi

"$top/tools/make-test-ca" "$cadir"
sha=$(cat "$cadir/ca.sha1")
[ -f "$prefix/.ember-testca-$sha" ] && exit 0

# A CA made again (build/testca deleted) replaces the one trusted before.
for marker in "$prefix"/.ember-testca-*; do
    [ -e "$marker" ] && remove_marker "$marker"
done

# The serialized element: header (32, 1, length) then the certificate.
len=$(stat -c %s "$cadir/ca.der")
le32() { printf '%02x%02x%02x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)); }
blob="$(le32 32)$(le32 1)$(le32 "$len")$(od -An -tx1 -v "$cadir/ca.der" | tr -d ' \n')"
if ! quiet_wine reg add "$store\\$sha" /v Blob /t REG_BINARY /d "$blob" /f; then
    echo "50-test-ca: could not add the test CA to $prefix" >&2
    exit 1
fi
touch "$prefix/.ember-testca-$sha"
echo "50-test-ca: test CA $sha trusted in $prefix" >&2
