#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 The Tactimo developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Builds the Debian package build/package/tactimo_<version>_<arch>.deb from a
# Release build with Debian's own hardening flags, and checks it with lintian.
# Extra arguments go to cmake, e.g. -DTACTIMO_DONATE_URL=https://example.org/donate
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
source scripts/debian-package.sh
tactimo_install "${TACTIMO_RUNTIME_PACKAGES[@]}" "${TACTIMO_PACKAGE_PACKAGES[@]}"

dir=build/package
tactimo_debian_cmake_options
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "${TACTIMO_DEBIAN_CMAKE_OPTIONS[@]}" \
  -DTACTIMO_TESTS=OFF -DTACTIMO_BENCH=OFF "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
tactimo_make_deb "$dir"
deb=$(echo "$dir"/tactimo_*.deb)
echo "Install it with: sudo apt install ./$deb"
