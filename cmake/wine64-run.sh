#!/bin/sh
# Runs a 64-bit Windows program under Wine: wine64-run.sh PREFIX PROGRAM [ARGS];
# without PROGRAM it only makes sure that the prefix exists.
#
#   wine64-run.sh PREFIX --start-server    start the prefix's Wine server for a
#                                          test run, to stay up until
#   wine64-run.sh PREFIX --stop-server     ends it and every program in it
#
# Every build tree keeps its own Wine prefix, so tests never touch ~/.wine. The
# prefix is made on first use, once, even when several tests start together;
# that first start takes a while.
#
# A Wine server ends a moment after its last program, and a program that
# connects just as it ends fails ("recvmsg: Connection reset by peer"). A test
# run therefore keeps one server up from before its first Windows program to
# after its last (the CTest fixture wine_server), which every program run
# here joins. Without one, as when a program is run by hand, Wine starts a
# server of its own as usual.
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
# What the persistent server and the programs it starts in the background
# print, instead of the output of the test that happened to start them.
server_log=$WINEPREFIX.server.log

# Ending the server needs no prefix, and where there is none, there is no
# server to end.
if [ "${1:-}" = --stop-server ]; then
  if [ -d "$WINEPREFIX" ]; then
    # Status 1: no server was running, which leaves nothing to do.
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w
  fi
  exit 0
fi

if [ ! -f "$complete" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  flock "$WINEPREFIX.lock" sh -c \
    '[ -f "$3" ] || { "$1" wineboot --init && "$2" -w && touch "$3"; }' \
    sh "$wine" "$wineserver" "$complete" >/dev/null 2>&1 || {
    echo "wine64-run.sh: could not create the Wine prefix $WINEPREFIX" >&2
    exit 1
  }
fi

case ${1:-} in
--start-server)
  # A server already running may be one that ends after its last program, of
  # a program run by hand, or a persistent one left by an interrupted test
  # run: it is ended, so that the one started here is certainly persistent.
  # Status 2 is the server's "one is already running".
  : >"$server_log"
  attempt=0
  until "$wineserver" -p </dev/null >>"$server_log" 2>&1; do
    status=$?
    attempt=$((attempt + 1))
    if [ "$status" -ne 2 ] || [ "$attempt" -ge 5 ]; then
      cat "$server_log" >&2
      echo "wine64-run.sh: could not start a Wine server for $WINEPREFIX (status $status)" >&2
      exit 1
    fi
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w
  done
  # The first program starts Wine's own background programs (services.exe and
  # the like), which then live as long as the server: started here, away from
  # any test's output or terminal, which they would otherwise hold open.
  "$wine" cmd.exe /c exit </dev/null >>"$server_log" 2>&1 || {
    cat "$server_log" >&2
    echo "wine64-run.sh: Wine could not run a program in $WINEPREFIX" >&2
    exit 1
  }
  ;;
?*) exec "$wine" "$@" ;;
esac
