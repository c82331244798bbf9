#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 The Tactimo developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Measures what the suite catches: applies each one-line fault of a list
# (scripts/faults.txt) in turn to a scratch copy of this worktree's HEAD,
# builds the normal build and runs its tests (all but the sequencer's, with a
# /dev/shm of their own), and prints whether each fault was caught (with the
# first failing test), survived, did not compile, or is stale (its text is no
# longer found exactly once). Slow; it builds at nice 10, but runs the tests
# unniced, whose timing checks fail when starved (so start it unniced):
#   scripts/fault-check.sh [--faults FILE] [--no-baseline] [ID...]
# Needs root (a private /dev/shm and PID namespace, as scripts/test.sh).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
faults=$here/scripts/faults.txt
baseline=1
ids=()
while [ $# -gt 0 ]; do
  case $1 in
  --faults) faults=$(realpath "$2"); shift 2 ;;
  --no-baseline) baseline=0; shift ;;
  -h | --help) sed -n '6,14p' "$0"; exit 0 ;;
  -*) echo "unknown option $1" >&2; exit 2 ;;
  *) ids+=("$1"); shift ;;
  esac
done
[ -r "$faults" ] || { echo "no fault list $faults" >&2; exit 2; }

# A fixed place per worktree: compiler cache hits survive from run to run.
scratch=${TMPDIR:-/tmp}/tactimo-fault-check-$(echo "$here" | md5sum | cut -c1-8)
src=$scratch/src build=$scratch/build logs=$scratch/logs
exec 9>"$scratch.lock"
flock -n 9 || { echo "another fault check of this worktree runs" >&2; exit 1; }

child=
cleanup() {
  # Each long step leads a process group of its own (timeout makes it so);
  # the tests' PID namespace, JACK servers included, dies with its leader.
  if [ -n "$child" ]; then
    kill -TERM -- "-$child" 2>/dev/null || true # ninja stops its compilers only on a signal of its own
    for _ in $(seq 50); do kill -0 "$child" 2>/dev/null && sleep 0.1; done
    kill -KILL -- "-$child" 2>/dev/null || true
  fi
  rm -rf "$scratch" "$scratch.lock"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# run SECONDS CMD...: runs in the background so that a signal is not held up.
run() {
  local limit=$1 rc=0
  shift
  timeout -k 10 "$limit" "$@" &
  child=$!
  wait "$child" || rc=$?
  child=
  return "$rc"
}

rm -rf "$scratch"
mkdir -p "$src" "$logs"
git -C "$here" archive HEAD | tar -x -C "$src"
commit=$(git -C "$here" rev-parse --short HEAD)
export CCACHE_BASEDIR=$scratch CCACHE_NOHASHDIR=1 QT_QPA_PLATFORM=offscreen

build() {
  [ -f "$build/build.ninja" ] ||
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTACTIMO_BENCH=OFF \
      -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >"$logs/configure.log" &&
    run 3600 nice -n 10 cmake --build "$build" -j"$(nproc)" >"$logs/build.log" 2>&1
}

# The fast unit tests first, then the views and the window, then the JACK
# tests; each stops at its first failure. A test that fails counts only when
# it fails again: some timing checks fail now and then on a busy machine.
phases=("-LE sequencer|jack" "-R ^app\.(views|window)$" "-L jack")
skip=("^app\.(views|window)$|jack_server" "^$" "^$") # -E: the next phases', unlabelled JACK fixtures
limits=(900 900 1200)                                # seconds, until the baseline has measured them
stop=--stop-on-failure

# tests [PHASE...]: runs the phases (all by default); sets failed to the
# first failing test, or empty.
tests() {
  local i rc
  failed=
  [ $# -gt 0 ] || set -- "${!phases[@]}"
  for i in "$@"; do
    rc=0
    rm -rf "$scratch/tmp" && mkdir "$scratch/tmp" # JACK's pid files: never those of a run before
    # bash, not ctest, is the namespace's init (so "$@" is not its last
    # command, which it would exec): it reaps the JACK servers that the
    # tests' scripts leave to it.
    # shellcheck disable=SC2086 # a phase is a list of ctest options
    run "${limits[$i]}" unshare -m -p -f --kill-child --mount-proc --propagation private \
      env --default-signal TMPDIR="$scratch/tmp" bash -c 'mount -t tmpfs -o size=1g,mode=1777 tmpfs /dev/shm || exit; "$@"; exit' _ \
      ctest --test-dir "$build" $stop --repeat until-pass:2 --output-on-failure ${phases[$i]} -E "${skip[$i]}" \
      >"$logs/phase$i.log" 2>&1 || rc=$?
    [ "$rc" -eq 0 ] && continue
    failed=$(sed -n '/The following tests FAILED/{n;p;q}' "$logs/phase$i.log" | sed -E 's/^\s*[0-9]+ - //')
    [ "$rc" -ge 124 ] && failed="${failed:-phase $((i + 1))} (hang: the run was stopped)"
    [ -n "$failed" ] || failed="phase $((i + 1)) (ctest exited $rc)"
    return
  done
}

if [ "$baseline" -eq 1 ]; then
  echo "Baseline: $commit without faults"
  start=$(date +%s)
  build || { echo "the code does not build without faults: $logs/build.log" >&2; tail -n 20 "$logs/build.log"; exit 1; }
  stop=
  for i in "${!phases[@]}"; do
    t=$(date +%s)
    tests "$i"
    [[ "$failed" != *hang* ]] || { echo "the tests hang without faults: $failed" >&2; exit 1; }
    # A test that fails without faults catches none: it is left out.
    while read -r name; do
      echo "  left out, as it fails without faults: $name"
      skip[i]+="|^${name//./\\.}\$"
    done < <(sed -n '/The following tests FAILED/,$p' "$logs/phase$i.log" | sed -nE 's/^\s*[0-9]+ - (\S+) .*/\1/p')
    # A run slower than three times the clean one is a hang.
    t=$(($(date +%s) - t))
    limits[i]=$((3 * t + 120))
    echo "  tests ${phases[$i]}: $t s"
  done
  stop=--stop-on-failure
  echo "Baseline built and tested in $(($(date +%s) - start)) s"
fi

# Records: "ID FILE KIND...", "- find", "+ replace".
declare -A file kind find replace
order=()
id=
while IFS= read -r line; do
  case $line in
  '#'* | '') ;;
  '- '*) find[$id]=${line:2} ;;
  '+ '*) replace[$id]=${line:2} ;;
  *)
    read -r id f k <<<"$line"
    file[$id]=$f kind[$id]=$k
    order+=("$id")
    ;;
  esac
done <"$faults"
[ ${#ids[@]} -gt 0 ] || ids=("${order[@]}")

# apply ID: replaces the anchor in the scratch copy; fails when it is not there once.
apply() {
  FIND=${find[$1]} REPLACE=${replace[$1]} perl -e '
    my ($path, $f, $n, $at) = ($ARGV[0], $ENV{FIND}, 0, -1);
    open(my $in, "<", $path) or exit 1;
    my $text = do { local $/; <$in> };
    $n++ while ($at = index($text, $f, $at + 1)) >= 0;
    exit 1 unless $n == 1;
    substr($text, index($text, $f), length $f) = $ENV{REPLACE};
    open(my $out, ">", $path) or exit 1;
    print $out $text;
  ' "$src/${file[$1]}"
}

caught=0 total=0 start=$(date +%s)
printf '%-4s  %-28s  %-20s  %-16s  %s\n' id file kind result "first failing test"
for id in "${ids[@]}"; do
  [ -n "${file[$id]:-}" ] || { echo "no fault $id in $faults" >&2; exit 2; }
  f=${file[$id]} first="" t=$(date +%s)
  total=$((total + 1))
  if [ ! -f "$src/$f" ] || [ -z "${find[$id]:-}" ] || ! cp -p "$src/$f" "$scratch/original" || ! apply "$id"; then
    result=stale
  elif ! build; then
    result=no-build first=$(grep -m1 -E 'error:' "$logs/build.log" | cut -c1-100 || true)
  else
    tests
    if [ -z "$failed" ]; then
      result=survived
    else
      result=caught first=$failed
    fi
  fi
  # Back to HEAD's text, newer than anything built from the fault.
  if [ -f "$scratch/original" ]; then
    cp "$scratch/original" "$src/$f" && touch "$src/$f" && rm "$scratch/original"
  fi
  # A catch by a timing check counts only if that test passes again without
  # the fault: on a busy machine the window and JACK tests fail on their own.
  name=${first%% *}
  if [ "$result" = caught ] && [[ "$name" =~ ^(app\.(views|window)|.*jack.*)$ ]]; then
    saved=("${phases[@]}") saved_skip=("${skip[@]}")
    phases=("-R ^${name//./\\.}\$") skip=("^$")
    build && tests 0 && [ -z "$failed" ] || result=load
    phases=("${saved[@]}") skip=("${saved_skip[@]}")
  fi
  [ "$result" = caught ] && caught=$((caught + 1))
  printf '%-4s  %-28s  %-20s  %-16s  %s\n' "$id" "$f" "${kind[$id]}" "$result ($(($(date +%s) - t)) s)" "$first"
done
echo "caught $caught of $total (commit $commit, $(($(date +%s) - start)) s)"
