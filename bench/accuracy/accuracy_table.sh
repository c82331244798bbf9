#!/bin/bash

# SPDX-FileCopyrightText: 2026 The Tactimo developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Builds and prints the tempo accuracy table (simulated clocks, deterministic).
#
#   bench/accuracy/accuracy_table.sh [build-dir] [--minutes N]
set -eu
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$ROOT/build-acc
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then BUILD=$1; shift; fi
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DTACTIMO_APP=OFF -DTACTIMO_BENCH=ON >/dev/null
ninja -C "$BUILD" -j2 tactimo_accuracy >/dev/null
exec "$BUILD/bench/accuracy/tactimo_accuracy" "$@"
