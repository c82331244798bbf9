#!/usr/bin/env bash
# Installs what building, running and testing Tactimo needs on Debian 12.
# Sourced by start.sh and test.sh; installs only what is missing.
set -euo pipefail

TACTIMO_RUNTIME_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libasound2-dev libjack-jackd2-dev libutf8proc-dev nlohmann-json3-dev
  qt6-base-dev qt6-declarative-dev
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-templates
  qml6-module-qtquick-window qml6-module-qtqml-workerscript qml6-module-qtquick-layouts
  libqt6svg6
)
TACTIMO_TEST_PACKAGES=(
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libfuzzer-14-dev libclang-rt-14-dev
  qml6-module-qttest
  jackd2 jack-midi-clock
  xvfb xauth procps
)

tactimo_install() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
