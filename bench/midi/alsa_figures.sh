#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 The Tactimo developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Figures of the ALSA sequencer backend through a kernel's sequencer, in the
# small VM of scripts/run-in-vm.sh (needs root; about 10 minutes under
# emulation): tempo against a clock of known tempo for a minute, before and
# after smoothing the queue's mapping; then the table and memory over 10,000
# restarts of a sender, first silent, then sending a tick each time.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTACTIMO_APP=OFF >/dev/null
cmake --build build/bench --target tactimo_alsa_tempo tactimo_alsa_churn >/dev/null
bin=build/bench/bench/midi
nice -n -10 scripts/run-in-vm.sh --timeout 3600 -- bash -c \
  "$bin/tactimo_alsa_tempo 60 123.4 && echo && $bin/tactimo_alsa_churn 10000 0 && echo && $bin/tactimo_alsa_churn 10000 1"
