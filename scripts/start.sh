#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 The Tactimo developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Installs what is missing, builds Tactimo and starts its window.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
tactimo_install "${TACTIMO_RUNTIME_PACKAGES[@]}"

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DTACTIMO_TESTS=OFF -DTACTIMO_BENCH=OFF >/dev/null
cmake --build build/release -j"$(nproc)"
echo "Starting build/release/app/tactimo"
exec build/release/app/tactimo
