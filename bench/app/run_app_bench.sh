#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 The Tactimo developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Measures the real window under a virtual display with a 120 BPM clock
# arriving through a private JACK server: CPU share while idle, while
# following, and while following with the history open, resident memory,
# and launch-to-first-frame.
#
#   bench/app/run_app_bench.sh [BUILD_DIR] [SECONDS]
#
# BUILD_DIR defaults to build/ at the project root and must hold app/tactimo
# and bench/app/tactimo_first_frame (configure with -DTACTIMO_BENCH=ON).
# First frame: the program prints nothing, so tactimo_first_frame opens the
# same window through the same code and prints the wall-clock time of its
# first swapped frame; the figure is that minus the time just before exec.
set -euo pipefail

# JACK keeps a registry of at most eight servers in /dev/shm, and a server
# that was killed leaves its entry behind. As root, run in a mount namespace
# with a /dev/shm of our own so that neither side disturbs the other.
if [ -z "${TACTIMO_BENCH_ISOLATED:-}" ] && [ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null &&
   unshare -m sh -c 'mount -t tmpfs tmpfs /dev/shm' 2>/dev/null; then
  export TACTIMO_BENCH_ISOLATED=1
  exec unshare -m sh -c 'mount -t tmpfs -o size=512m tmpfs /dev/shm && exec "$0" "$@"' "$0" "$@"
fi

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
secs=${2:-20}
app=$build/app/tactimo
harness=$build/bench/app/tactimo_first_frame
for f in "$app" "$harness"; do
  [ -x "$f" ] || { echo "missing $f (build with -DTACTIMO_BENCH=ON)" >&2; exit 1; }
done
for t in Xvfb jackd jack_midi_clock jack_transport jack_lsp; do
  command -v "$t" >/dev/null || { echo "missing $t (see scripts/deps.sh)" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A settings folder of its own, so that a remembered input does not skew the run.
export XDG_CONFIG_HOME=$work/config
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# Virtual display: Xvfb picks a free number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=:$(head -n1 "$work/display")
export QT_QPA_PLATFORM=xcb

# Private JACK server, so that a user's or another test's server is untouched.
export JACK_DEFAULT_SERVER=tactimo-bench-$$
export JACK_NO_AUDIO_RESERVATION=1
jackd -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do jack_lsp >/dev/null 2>&1 && break; sleep 0.1; done
jack_lsp >/dev/null 2>&1 || { echo "jackd did not start" >&2; cat "$work/jackd.log" >&2; exit 1; }

clk=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
# Ticks per thread: "tid name ticks" (names without spaces here).
task_ticks() {
  for t in /proc/"$1"/task/*; do
    awk -v tid="${t##*/}" '{ sub(/^[0-9]+ \(/, ""); split($0, a, ") "); split(a[2], f, " "); print tid, a[1], f[12] + f[13] }' "$t/stat" 2>/dev/null || true
  done | tr ' ' '_' | sed 's/_\([0-9]*\)$/ \1/'
}
# CPU share of one core, in percent, over $2 seconds; the per-thread split
# goes to $work/threads-$3.
cpu_share() {
  local pid=$1 span=$2 t0 t1 w0 w1
  task_ticks "$pid" >"$work/t0"
  t0=$(cpu_ticks "$pid"); w0=$(date +%s%N)
  sleep "$span"
  t1=$(cpu_ticks "$pid"); w1=$(date +%s%N)
  task_ticks "$pid" >"$work/t1"
  join "$work/t0" "$work/t1" | awk -v hz="$clk" -v s="$(((w1 - w0) / 1000000))" \
    '{ d = $3 - $2; if (d > 0) printf "%s %.2f%%  ", $1, 100 * d / hz / (s / 1000) }' >"$work/threads-$3"
  awk -v d="$((t1 - t0))" -v hz="$clk" -v ns="$((w1 - w0))" 'BEGIN { printf "%.2f", 100 * d / hz / (ns / 1e9) }'
}
rss_mb() { awk '/^VmRSS/ { printf "%.1f", $2 / 1024 }' "/proc/$1/status"; }
# Private memory, mapped files (libraries) and shared memory (JACK's segments) apart.
rss_parts() { awk '/^Rss(Anon|File|Shmem)/ { printf "%s %.1f MB  ", $1, $2 / 1024 }' "/proc/$1/status"; }
hwm_mb() { awk '/^VmHWM/ { printf "%.1f", $2 / 1024 }' "/proc/$1/status"; }

# 1. Launch to first frame, five cold-ish runs; the median is reported.
frames=()
for run in 1 2 3 4 5; do
  start=$(date +%s%N)
  shown=$("$harness" 2>>"$work/harness.log") || { echo "harness failed" >&2; cat "$work/harness.log" >&2; exit 1; }
  frames+=("$(( (shown - start) / 1000000 ))")
done
first_frame=$(printf '%s\n' "${frames[@]}" | sort -n | sed -n 3p)

# 2. The real program, idle: no clock on any input.
"$app" >"$work/app.log" 2>&1 &
app_pid=$!
pids+=($app_pid)
sleep 3
idle=$(cpu_share "$app_pid" "$secs" idle)
idle_rss=$(rss_mb "$app_pid")

# 3. Following a 120 BPM clock (transport rolling, so Start and ticks arrive).
jack_midi_clock -b 120 -B >"$work/clock.log" 2>&1 &
pids+=($!)
sleep 1
{ echo play; sleep $((2 * secs + 150)); } | jack_transport >"$work/transport.log" 2>&1 &
pids+=($!)
sleep 3
connections=$(jack_lsp -c 2>/dev/null | tr '\n' ' ')
following=$(cpu_share "$app_pid" "$secs" following)
follow_rss=$(rss_mb "$app_pid")
peak_rss=$(hwm_mb "$app_pid")
parts=$(rss_parts "$app_pid")
biggest=$(awk '/^[0-9a-f]+-/ { name = $6 } /^Rss:/ { rss[name] += $2 } END { for (n in rss) printf "%d kB %s\n", rss[n], n }' \
  "/proc/$app_pid/smaps" | sort -rn | head -6 | tr '\n' ';')
kill -0 "$app_pid" 2>/dev/null || { echo "the program exited" >&2; cat "$work/app.log" >&2; exit 1; }

# 4. The program again, with the history open as it remembers it, after the
# history's first minute has filled.
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
mkdir -p "$XDG_CONFIG_HOME/Tactimo"
printf '[General]\nhistory=true\n' >"$XDG_CONFIG_HOME/Tactimo/Tactimo.conf"
"$app" >>"$work/app.log" 2>&1 &
app_pid=$!
pids+=($app_pid)
sleep "${TACTIMO_BENCH_HISTORY_FILL:-60}"
history=$(cpu_share "$app_pid" "$secs" history)
history_rss=$(rss_mb "$app_pid")
kill -0 "$app_pid" 2>/dev/null || { echo "the program exited" >&2; cat "$work/app.log" >&2; exit 1; }

echo "JACK ports and connections: $connections"
echo "first frame runs (ms): ${frames[*]}"
printf '%-34s %s\n' \
  "launch to first frame (median)" "$first_frame ms   (goal < 1000 ms)" \
  "CPU idle, ${secs} s" "$idle % of a core   (goal < 0.5 %)" \
  "CPU following 120 BPM, ${secs} s" "$following % of a core   (goal < 3 %)" \
  "  with the history open" "$history % of a core   (goal: under 1 % more)" \
  "resident memory idle" "$idle_rss MB" \
  "resident memory following" "$follow_rss MB (peak $peak_rss MB; goal < 80 MB)" \
  "  with the history open" "$history_rss MB" \
  "  of which" "$parts" \
  "  threads idle" "$(cat "$work/threads-idle")" \
  "  threads following" "$(cat "$work/threads-following")" \
  "  threads, history open" "$(cat "$work/threads-history")" \
  "  largest mappings" "$biggest"
