#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 The Tactimo developers
# SPDX-License-Identifier: GPL-3.0-or-later

# CPU of the programs themselves, idle (no MIDI service, no clock), with Link
# off and on side by side over the same seconds: the window (offscreen), then
# tactimo-watch, then all four with one Link peer. Inside a private network
# namespace of its own (Link never reaches a real network). Prints figures.
#   bench/link/program_idle.sh [BUILD-DIR=build/test] [SECONDS=30]
set -eu
cd "$(dirname "$0")/../.."
if [ -z "${TACTIMO_PRIVATE_NETWORK:-}" ]; then
  TACTIMO_PRIVATE_NETWORK=1 exec tests/support/private-network.sh "$0" "$@"
fi
build=$PWD/${1:-build/test}
seconds=${2:-30}
for f in app/tactimo watch/tactimo-watch tests/support/tactimo_link_peer; do
  [ -x "$build/$f" ] || { echo "build $build/$f first" >&2; exit 1; }
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/off/Tactimo" "$tmp/on/Tactimo"
printf '[General]\nlink=true\n' >"$tmp/on/Tactimo/Tactimo.conf"
export JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER=tactimo-no-such-server QT_QPA_PLATFORM=offscreen
hz=$(getconf CLK_TCK)

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
sockets() { find "/proc/$1/fd" -lname 'socket:*' 2>/dev/null | wc -l; }
started=()
start() { "$@" >/dev/null 2>&1 & started+=($!); }
window() { XDG_CONFIG_HOME=$tmp/$1 "$build/app/tactimo" >/dev/null 2>&1 & started+=($!); }
# measure LABEL...: CPU of each process started since, over the same
# seconds, a few seconds after their start; then ends them.
measure() {
  sleep 3
  local labels=("$@") before=() i
  for i in "${!labels[@]}"; do before+=("$(ticks "${started[$i]}")"); done
  sleep "$seconds"
  for i in "${!labels[@]}"; do
    awk -v l="${labels[$i]}" -v u="$(($(ticks "${started[$i]}") - before[i]))" -v hz="$hz" -v s="$seconds" \
      -v k="$(sockets "${started[$i]}")" \
      'BEGIN { printf "%-28s %d s: CPU %.2f s = %.3f %% of one core; sockets %d\n", l, s, u / hz, 100 * u / hz / s, k }'
  done
  kill "${started[@]}" 2>/dev/null || true
  wait "${started[@]}" 2>/dev/null || true
  started=()
}

window off; window on
measure "window, Link off" "window, Link on, alone"
start "$build/watch/tactimo-watch"; start "$build/watch/tactimo-watch" --link
measure "watch, Link off" "watch, Link on, alone"

window off; window on
start "$build/watch/tactimo-watch"; start "$build/watch/tactimo-watch" --link
sleep $((seconds + 10)) | "$build/tests/support/tactimo_link_peer" 120 >/dev/null & peer=$!
measure "window, Link off, peers up" "window, Link on, 2 peers" "watch, Link off, peers up" "watch, Link on, 2 peers"
kill "$peer" 2>/dev/null || true
