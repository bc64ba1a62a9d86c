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

# The registry files are written when the Wine server ends, so their presence
# marks a finished prefix.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  flock "$WINEPREFIX.lock" sh -c \
    '[ -f "$WINEPREFIX/system.reg" ] || { "$1" wineboot --init && "$2" -w; }' \
    sh "$wine" /usr/lib/wine/wineserver >/dev/null 2>&1 || {
    echo "wine64-run.sh: could not create the Wine prefix $WINEPREFIX" >&2
    exit 1
  }
fi
if [ $# -gt 0 ]; then
  exec "$wine" "$@"
fi
