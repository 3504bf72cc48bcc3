#!/usr/bin/env bash
# One Wine session for a whole ctest run of the Win32 tests: one virtual display
# and one wineserver kept alive between the tests, so that each test process starts
# in a fraction of a second instead of booting Wine again.
#
#   wine-session.sh start DIR EXE  start the display (unless DISPLAY is set; large
#                                  enough for the window at 200%) and the wineserver
#                                  of $WINEPREFIX (made anew for $WINEARCH when it was
#                                  made for another Wine), note them in DIR, and boot
#                                  the prefix and its desktop by running one window
#                                  test of EXE
#   wine-session.sh run DIR EXE..  run EXE under Wine in that session, or through
#                                  scripts/wine-run when no session is up
#   wine-session.sh stop DIR       end the wineserver of $WINEPREFIX (and the Wine
#                                  processes of that prefix) and the display
#
# Everything started here has its output sent to /dev/null, so that no process
# that outlives a test holds ctest's pipes.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
. "$root/scripts/lib.sh"
oru_wine_environment

command=${1:-}
dir=${2:-}
[ -n "$command" ] && [ -n "$dir" ] || { echo "usage: $0 start|run|stop DIR [EXE ARGS...]" >&2; exit 2; }
shift 2

session_alive() {
  [ -s "$dir/display" ] || return 1
  if [ -s "$dir/xvfb.pid" ]; then
    kill -0 "$(cat "$dir/xvfb.pid")" 2>/dev/null || return 1
  fi
  return 0
}

case "$command" in
start)
  mkdir -p "$dir"
  # A session left over by an interrupted run: its wineserver may be tied to a
  # display that is gone. End both (the display by the id noted for it).
  wineserver -k </dev/null >/dev/null 2>&1
  if [ -s "$dir/xvfb.pid" ]; then kill "$(cat "$dir/xvfb.pid")" 2>/dev/null; fi
  rm -f "$dir/display" "$dir/xvfb.pid"
  if [ -n "${DISPLAY:-}" ]; then
    echo "$DISPLAY" > "$dir/display"
  else
    fdfile="$dir/displayfd"
    : > "$fdfile"
    Xvfb -displayfd 3 -screen 0 2560x1600x24 -nolisten tcp 3>"$fdfile" </dev/null >/dev/null 2>&1 &
    echo $! > "$dir/xvfb.pid"
    waited=0
    while [ ! -s "$fdfile" ] && [ $waited -lt 300 ]; do sleep 0.1; waited=$((waited + 1)); done
    if [ ! -s "$fdfile" ]; then
      echo "could not start a virtual display" >&2
      kill "$(cat "$dir/xvfb.pid")" 2>/dev/null
      rm -f "$dir/xvfb.pid" "$fdfile"
      exit 1
    fi
    echo ":$(head -n1 "$fdfile")" > "$dir/display"
    rm -f "$fdfile"
  fi
  export DISPLAY=$(cat "$dir/display")
  status=0
  oru_prepare_wine_prefix || status=$?
  if [ "$status" -ne 0 ]; then
    if [ -s "$dir/xvfb.pid" ]; then kill "$(cat "$dir/xvfb.pid")" 2>/dev/null; fi
    rm -f "$dir/display" "$dir/xvfb.pid"
    exit "$status"
  fi
  wineserver -p </dev/null >/dev/null 2>&1
  # Boot the prefix and its desktop once, with nothing attached to ctest's output:
  # the Wine processes started now live until the stop.
  if [ $# -gt 0 ]; then
    oru_wine "$1" --gtest_filter=MainWindowTest.MenuBarItemsAndStates </dev/null >/dev/null 2>&1
  fi
  echo "Wine session on $DISPLAY for $WINEPREFIX"
  ;;
run)
  if session_alive; then
    export DISPLAY=$(cat "$dir/display")
    oru_wine_command || exit $?
    exec "${ORU_WINE[@]}" "$@"
  fi
  exec "$root/scripts/wine-run" "$@"
  ;;
stop)
  wineserver -k </dev/null >/dev/null 2>&1
  if [ -s "$dir/xvfb.pid" ]; then
    pid=$(cat "$dir/xvfb.pid")
    kill "$pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  fi
  rm -f "$dir/display" "$dir/xvfb.pid"
  ;;
*)
  echo "unknown command $command" >&2
  exit 2
  ;;
esac
