#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 The Tactimo developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Installs what building, running and testing Tactimo needs on Debian 12.
# Sourced by start.sh, test.sh and package.sh; installs only what is missing.
set -euo pipefail

TACTIMO_RUNTIME_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libasound2-dev libjack-jackd2-dev libutf8proc-dev nlohmann-json3-dev
  ableton-link-dev # Link's headers, with asio
  qt6-base-dev qt6-declarative-dev
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-templates
  qml6-module-qtquick-window qml6-module-qtqml-workerscript qml6-module-qtquick-layouts
  libqt6svg6
)
TACTIMO_TEST_PACKAGES=(
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libfuzzer-14-dev libclang-rt-14-dev
  llvm-14 # llvm-symbolizer-14: sanitizer reports with file and line, not bare addresses
  qml6-module-qttest
  jackd2 jack-midi-clock
  a2jmidid pipewire pipewire-jack wireplumber dbus-daemon # the bridges a user meets, for trying by hand
  xvfb xauth procps
  iproute2 # ip: loopback and a multicast route in the Link tests' private network
  desktop-file-utils appstream man-db # the packaging data's validators
  reuse # every file's licence and copyright
)
TACTIMO_PACKAGE_PACKAGES=(
  dpkg-dev file # dpkg-shlibdeps, which computes the package's dependencies
  librsvg2-bin  # renders the PNG icons from the SVG
  lintian appstream
)

tactimo_install() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "These Debian packages are missing, and installing them needs root (sudo is not installed)." >&2
      echo "Run this as root, then run $0 again:" >&2
      echo "  apt-get update && apt-get install --no-install-recommends ${missing[*]}" >&2
      exit 1
    fi
    # sudo drops DEBIAN_FRONTEND from the environment; env passes it through.
    sudo=(sudo env DEBIAN_FRONTEND=noninteractive)
  fi
  echo "Installing: ${missing[*]}"
  # jackd2 asks whether to allow real-time priority; answer its default (no)
  # beforehand, so that nothing waits for a reply and no limits are changed.
  if [[ " ${missing[*]} " == *" jackd2 "* ]]; then
    echo "jackd2 jackd/tweak_rt_limits boolean false" | "${sudo[@]}" debconf-set-selections
  fi
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
