#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 The Tactimo developers
# SPDX-License-Identifier: GPL-3.0-or-later

# A private JACK server for the tests: dummy driver, no real-time, a name of
# its own, so a user's server is never touched. Returns once clients can connect.
#   jack-server.sh start|stop|kill NAME
set -u
name=${2:?usage: $0 start|stop|kill NAME}
dir=${TMPDIR:-/tmp}/tactimo-jack-$name
export JACK_NO_START_SERVER=1

# As a crash would, clients and all; only a server that exits by itself leaves JACK's registry (room for 8).
stop_server() {
  [ -f "$dir/pid" ] || return 0
  local pid
  pid=$(cat "$dir/pid")
  kill -TERM "$pid" 2>/dev/null && for _ in $(seq 200); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && kill -KILL "$pid"
  rm -f "$dir/pid"
}

start_server() {
  # 48 kHz and 256 frames: a 5.3 ms cycle, as on a desktop.
  jackd -n "$name" --no-realtime -d dummy -r 48000 -p 256 -C 0 -P 0 >"$dir/log" 2>&1 </dev/null &
  echo $! >"$dir/pid"
  timeout 15 jack_wait -s "$name" -w -t 10 >/dev/null 2>&1
}

mkdir -p "$dir"
case $1 in
start)
  stop_server # one left over by an interrupted run
  start_server && exit 0
  echo "JACK server $name did not start:" >&2
  cat "$dir/log" >&2
  stop_server
  exit 1
  ;;
# A server killed with clients leaves its name registered; a start and stop without clients takes it out.
stop) stop_server; start_server >/dev/null 2>&1; stop_server; rm -rf "$dir" ;;
kill) stop_server ;;
*) exit 2 ;;
esac
