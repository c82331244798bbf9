#!/bin/sh

# SPDX-FileCopyrightText: 2026 The Tactimo developers
# SPDX-License-Identifier: GPL-3.0-or-later

# CPU of a process with Link off, on and alone, and on with one peer, in a
# private network namespace (Link never reaches a real network).
#   bench/link/link_idle.sh [BUILD-DIR=build/test] [SECONDS=30]
set -eu
cd "$(dirname "$0")/../.."
bin=$PWD/${1:-build/test}/bench/link/tactimo_link_idle
[ -x "$bin" ] || { echo "build $bin first" >&2; exit 1; }
exec tests/support/private-network.sh "$bin" "${2:-30}"
