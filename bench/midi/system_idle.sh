#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 The Tactimo developers
# SPDX-License-Identifier: GPL-3.0-or-later

# What the system's MIDI service costs while nothing changes: CPU, threads,
# descriptors and memory of a process that only holds a ClockInput over it,
# with no MIDI service, with a JACK server, and with the ALSA sequencer only
# (inside the VM, whose emulated CPU inflates the figure); then many failed
# tries to reach a JACK server, for leaks.
#   bench/midi/system_idle.sh [BUILD-DIR=build/test] [SECONDS=60]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/test}
seconds=${2:-60}
bin=$PWD/$build/bench/midi/tactimo_system_idle
vm=${ALSA_VM:-/work/shared/alsa-vm/run-in-vm.sh}
server=tactimo-idle-bench # a fixed name: JACK's registry keeps only eight
export JACK_NO_START_SERVER=1
[ -x "$bin" ] || { echo "build $bin first" >&2; exit 1; }

echo "== No MIDI service"
if [ -e /dev/snd/seq ]; then
  echo "(this machine has an ALSA sequencer: skipped)"
else
  JACK_DEFAULT_SERVER=tactimo-absent "$bin" idle "$seconds"
fi

echo "== JACK (private server, dummy driver, 48 kHz, 256 frames)"
tests/midi/jack-server.sh start "$server"
JACK_DEFAULT_SERVER=$server "$bin" idle "$seconds" || true
tests/midi/jack-server.sh stop "$server"

echo "== ALSA sequencer only, inside the VM"
if [ -x "$vm" ]; then
  (cd "$build" && JACK_DEFAULT_SERVER=tactimo-absent "$vm" --timeout $((seconds + 180)) -- "$bin" idle "$seconds") || true
else
  echo "(no $vm: skipped)"
fi

echo "== Failed tries to reach a JACK server"
JACK_DEFAULT_SERVER=tactimo-absent "$bin" tries 5000
