#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 The Tactimo developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Runs the ctest tests of one label inside a small virtual machine that has
# the ALSA sequencer (scripts/run-in-vm.sh), for machines whose kernel has
# none; one boot serves several build folders.
#
#   scripts/vm-ctest.sh LABEL LOG-DIR BUILD-DIR [BUILD-DIR...]
#
# Run it from the source folder: the machine sees only the current folder
# writable, so LOG-DIR and the build folders must lie inside it. Each build
# folder's ctest output goes to stdout and to LOG-DIR/vm-<folder>.log.
# Exit status: 0 when every test passed, 1 when some failed or timed out,
# 3 when no machine could be had (not root, no packages, no boot); then the
# last line on stderr says why. Needs root (run-in-vm.sh installs qemu and a
# kernel, and reads /boot).
set -uo pipefail
[ $# -ge 3 ] || { sed -n '6p' "$0" | sed 's/^# *//' >&2; exit 2; }
label=$1 logs=$2
shift 2
cd "$(dirname "$0")/.." || exit 2
mkdir -p "$logs"
if [ "$(id -u)" -ne 0 ]; then
  echo "not root: run-in-vm.sh installs qemu and reads the kernel in /boot" >&2
  exit 3
fi
started=$logs/vm-started
rm -f "$started"
for dir in "$@"; do rm -f "$logs/vm-$(basename "$dir").log"; done
inner='
: >"$1/vm-started"
label=$2 logs=$1 rc=0
shift 2
for dir in "$@"; do
  ctest --test-dir "$dir" -L "$label" --output-on-failure --timeout 600 2>&1 | tee "$logs/vm-$(basename "$dir").log" || rc=1
done
exit $rc'
# An hour at most: under emulation on a busy machine the clock tests wait
# for quiet stretches. The emulator gets a higher priority than builds beside
# it (root may): a whole machine's timing is under test, and its stalls are
# the host's.
rc=0
nice -n -10 scripts/run-in-vm.sh --timeout 3600 -- bash -c "$inner" vm-ctest "$logs" "$label" "$@" 2> >(tee "$logs/vm-stderr.log" >&2) || rc=$?
wait
if [ ! -e "$started" ]; then
  why=$(grep -v '^$' "$logs/vm-stderr.log" | tail -n 1)
  echo "the machine did not start: ${why:-run-in-vm.sh exit status $rc}" >&2
  exit 3
fi
[ "$rc" -eq 0 ] || exit 1
