#!/usr/bin/env bash
# Runs a command with an X display: the current one, or a private Xvfb
# started for the command and stopped after it.
set -uo pipefail
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec "$@"
fi
fifo="$(mktemp -u)"; mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
xpid=$!
read -r num <"$fifo"; rm -f "$fifo"
export DISPLAY=":$num"
"$@"; rc=$?
kill "$xpid" 2>/dev/null; wait "$xpid" 2>/dev/null
exit $rc
