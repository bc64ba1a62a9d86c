#!/bin/sh
# Runs a 64-bit Windows program under Wine: wine64-run.sh PREFIX PROGRAM [ARGS];
# without PROGRAM it only makes sure that the prefix exists.
# Every build tree keeps its own Wine prefix, so tests never touch ~/.wine. The
# prefix is made on first use, once, even when several tests start together;
# that first start takes a while.
set -eu
WINEPREFIX=$1
shift
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
# Written once the prefix is whole: Wine writes the registry files long before
# that, every half minute, so they mark nothing.
complete=$WINEPREFIX/.complete

if [ ! -f "$complete" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  flock "$WINEPREFIX.lock" sh -c \
    '[ -f "$3" ] || { "$1" wineboot --init && "$2" -w && touch "$3"; }' \
    sh "$wine" "$wineserver" "$complete" >/dev/null 2>&1 || {
    echo "wine64-run.sh: could not create the Wine prefix $WINEPREFIX" >&2
    exit 1
  }
fi
if [ $# -gt 0 ]; then
  exec "$wine" "$@"
fi
