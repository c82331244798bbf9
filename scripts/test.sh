#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 The Tactimo developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Installs what is missing, builds everything and runs every test: the
# licence headers (reuse lint), the normal build (core, backends against a
# private JACK server, the Link session in a private network, the window) and
# its Debian package (lintian), the core, backends and Link session again
# under AddressSanitizer + UndefinedBehaviorSanitizer, the concurrency tests,
# the JACK backend and the Link session under ThreadSanitizer, a short fixed
# fuzzing run, and the tests that need a kernel's ALSA sequencer (label
# "sequencer") in a small virtual machine, normal and under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
source scripts/debian-package.sh
tactimo_install "${TACTIMO_RUNTIME_PACKAGES[@]}" "${TACTIMO_TEST_PACKAGES[@]}" "${TACTIMO_PACKAGE_PACKAGES[@]}"

# JACK keeps machine-wide state in /dev/shm (a registry of eight server slots,
# a metadata database) that crashed or killed clients can leave exhausted.
# Where we may, the tests get a /dev/shm of their own, so neither a user's
# servers nor leftovers of earlier runs can disturb them.
if [ -z "${TACTIMO_PRIVATE_SHM:-}" ]; then
  if unshare -m --propagation private true 2>/dev/null; then
    exec unshare -m --propagation private env TACTIMO_PRIVATE_SHM=1 bash -c \
      'mount -t tmpfs -o size=1g,mode=1777 tmpfs /dev/shm || echo "(tests share the machine /dev/shm)"; exec bash scripts/test.sh'
  fi
  echo "(tests share the machine /dev/shm: a /dev/shm of their own needs root and unshare -m)"
fi

jobs=$(nproc)
logs=build/logs
mkdir -p "$logs"
passed=0
failed=0
status=0

# run_ctest NAME BUILD-DIR [ctest options...]
run_ctest() {
  local name=$1 dir=$2
  shift 2
  echo "== $name"
  local rc=0
  ctest --test-dir "$dir" --output-on-failure --timeout 600 "$@" 2>&1 | tee "$logs/$name.log" || rc=$?
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$logs/$name.log" | tail -n 1 || true)
  if [ -n "$line" ]; then
    local total fails
    fails=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
    passed=$((passed + total - fails))
    failed=$((failed + fails))
  fi
  [ "$rc" -eq 0 ] || status=1
}

# run_step NAME COMMAND...: a check that counts as one test.
run_step() {
  local name=$1
  shift
  echo "== $name"
  if "$@" 2>&1 | tee "$logs/$name.log"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    status=1
  fi
}

# configure NAME [cmake options...]
configure() {
  local dir=build/$1
  shift
  cmake -S . -B "$dir" -G Ninja "$@" >"$logs/configure-$(basename "$dir").log"
  cmake --build "$dir" -j"$jobs"
}

export QT_QPA_PLATFORM=offscreen

run_step reuse-lint reuse lint

# The normal build takes Debian's flags, so that its package is the one
# scripts/package.sh makes but for the optimisation level, and lintian sees
# the same binaries without a build of their own.
tactimo_debian_cmake_options
configure test -DCMAKE_BUILD_TYPE=RelWithDebInfo "${TACTIMO_DEBIAN_CMAKE_OPTIONS[@]}"
run_ctest test build/test -LE sequencer
run_step package tactimo_make_deb build/test

configure asan -DCMAKE_BUILD_TYPE=Debug -DTACTIMO_SANITIZE=address,undefined \
  -DTACTIMO_APP=OFF -DTACTIMO_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:handle_abort=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest asan build/asan -LE sequencer

# ThreadSanitizer over the concurrency tests, the JACK backend against its
# private server (the ring between the real-time and the delivery thread, the
# port hand-over, the connector, shutdown), and the Link session with its
# threads in a private network.
configure tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTACTIMO_SANITIZE=thread \
  -DTACTIMO_APP=OFF -DTACTIMO_BENCH=OFF
TSAN_OPTIONS="halt_on_error=1 handle_abort=1 suppressions=$PWD/tests/tsan.supp" run_ctest tsan build/tsan -L 'concurrency|jack|link'

configure fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTACTIMO_FUZZ=ON -DTACTIMO_APP=OFF -DTACTIMO_BENCH=OFF
run_ctest fuzz build/fuzz -L fuzz

# The ALSA sequencer tests need a kernel with a sequencer, which this machine
# may lack: one boot of a small virtual machine runs them for the normal and
# the ThreadSanitizer build (scripts/vm-ctest.sh; it needs root).
echo "== sequencer (in a virtual machine)"
vm_start=$(date +%s)
vm_rc=0
TSAN_OPTIONS="halt_on_error=1 handle_abort=1 suppressions=$PWD/tests/tsan.supp" \
  scripts/vm-ctest.sh sequencer "$logs" build/test build/tsan 2> >(tee "$logs/vm-ctest.err" >&2) || vm_rc=$?
wait
vm_seconds=$(($(date +%s) - vm_start))
if [ "$vm_rc" -eq 3 ]; then
  vm_summary="ALSA sequencer tests: skipped (no VM: $(grep -v '^$' "$logs/vm-ctest.err" | tail -n 1))"
else
  vm_passed=0 vm_failed=0
  for log in "$logs/vm-test.log" "$logs/vm-tsan.log"; do
    line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" 2>/dev/null | tail -n 1 || true)
    if [ -z "$line" ]; then # the run never finished
      vm_failed=$((vm_failed + 1))
      continue
    fi
    fails=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
    vm_passed=$((vm_passed + total - fails))
    vm_failed=$((vm_failed + fails))
  done
  passed=$((passed + vm_passed))
  failed=$((failed + vm_failed))
  [ "$vm_rc" -eq 0 ] && [ "$vm_failed" -eq 0 ] || status=1
  vm_summary="ALSA sequencer tests (in a VM, normal and ThreadSanitizer, ${vm_seconds} s): $vm_passed passed, $vm_failed failed"
fi

echo "Screenshots of the window: build/test/screenshots/"
echo "$vm_summary"
echo "Total: $passed passed, $failed failed"
exit "$status"
