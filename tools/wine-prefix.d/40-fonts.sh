#!/usr/bin/env bash
# Maps the faces the stylesheet names to open fonts from Debian (installed by
# tools/setup-deps: fonts-liberation, fonts-dejavu-core), so that screenshots
# taken under Wine look like what a player sees on Windows. Wine finds the
# Debian fonts through fontconfig; a replacement makes a face name open them.
#
# Run by tools/wine-run once, right after it creates the prefix (wine is then
# called directly); EMBER_HOOK_WINE=tools/wine-run routes the calls through
# the runner for a prefix that existed before this hook did.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
prefix="${WINEPREFIX:-${EMBER_WINEPREFIX:-$top/build/wineprefix}}"
wine_cmd="${EMBER_HOOK_WINE:-wine}"
marker="$prefix/.ember-fonts-1"
[ -f "$marker" ] && exit 0

key='HKCU\Software\Wine\Fonts\Replacements'
replace() { "$wine_cmd" reg add "$key" /v "$1" /t REG_SZ /d "$2" /f </dev/null >/dev/null 2>&1; }
for face in Georgia Constantia "Times New Roman" Cambria; do replace "$face" "Liberation Serif"; done
for face in "Segoe UI" Arial Tahoma Verdana Calibri; do replace "$face" "Liberation Sans"; done
for face in Consolas "Courier New" "Lucida Console"; do replace "$face" "Liberation Mono"; done
replace "Segoe UI Symbol" "DejaVu Sans"
touch "$marker"
echo "40-fonts: font replacements set in $prefix" >&2
