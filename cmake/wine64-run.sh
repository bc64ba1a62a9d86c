#!/bin/sh
# Runs a 64-bit Windows program under Wine: wine64-run.sh PREFIX PROGRAM [ARGS].
# Every build tree keeps its own Wine prefix, so tests never touch ~/.wine. The
# prefix is made on first use, once, even when several tests start together;
# that first start takes a while.
set -eu
WINEPREFIX=$1
shift
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG
wine=/usr/lib/wine/wine64

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  flock "$WINEPREFIX.lock" sh -c '[ -f "$WINEPREFIX/system.reg" ] || "$1" wineboot --init' \
    sh "$wine" >/dev/null 2>&1 || {
    echo "wine64-run.sh: could not create the Wine prefix $WINEPREFIX" >&2
    exit 1
  }
fi
exec "$wine" "$@"
