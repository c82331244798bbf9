#!/usr/bin/env bash
# Starts or stops a private JACK server for the tests: dummy driver, no
# real-time, a server name of its own, so a user's server is never touched.
#   jack-server.sh start NAME    (returns once clients can connect)
#   jack-server.sh stop NAME
set -u
cmd=${1:-}
name=${2:-}
if [ -z "$cmd" ] || [ -z "$name" ]; then
  echo "usage: $0 start|stop NAME" >&2
  exit 2
fi
export JACK_NO_START_SERVER=1
dir=${TMPDIR:-/tmp}/tactimo-jack-$name
pidfile=$dir/pid

stop_server() {
  [ -f "$pidfile" ] || return 0
  local pid
  pid=$(cat "$pidfile")
  if kill -0 "$pid" 2>/dev/null; then
    # Only a server that exits by itself takes its name out of JACK's registry
    # of servers, which has room for eight names: give it time.
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 200); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
      echo "JACK server $name did not stop; killed" >&2
      kill -KILL "$pid" 2>/dev/null
    fi
  fi
  rm -f "$pidfile"
}

start_server() {
  # 48 kHz and 256 frames: a 5.3 ms cycle, as on a desktop.
  jackd -n "$name" --no-realtime -d dummy -r 48000 -p 256 -C 0 -P 0 >"$dir/log" 2>&1 </dev/null &
  echo $! >"$pidfile"
  timeout 15 jack_wait -s "$name" -w -t 10 >/dev/null 2>&1
}

case $cmd in
start)
  mkdir -p "$dir"
  stop_server # a server left over by an interrupted run
  if start_server; then
    exit 0
  fi
  echo "JACK server $name did not start:" >&2
  cat "$dir/log" >&2
  stop_server
  exit 1
  ;;
stop)
  stop_server
  # A server that goes while clients are connected (as the tests make it)
  # leaves its name in the registry; one start and stop without clients
  # takes it out again.
  mkdir -p "$dir"
  start_server >/dev/null 2>&1
  stop_server
  rm -rf "$dir"
  ;;
*)
  echo "usage: $0 start|stop NAME" >&2
  exit 2
  ;;
esac
