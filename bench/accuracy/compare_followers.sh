#!/bin/bash

# SPDX-FileCopyrightText: 2026 The Tactimo developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Tempo errors of Tactimo's intake and of jack_mclk_dump side by side, both
# following the same jack_midi_clock at 123.4 BPM on a private JACK server
# (dummy driver, 48 kHz, 256 frames), without and with -J period jitter.
#
#   bench/accuracy/compare_followers.sh [build-dir] [seconds]
#
# Builds its one program in build-dir (default build-acc). The server and
# every client are started here and stopped by their pids.
set -u
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-$ROOT/build-acc}
SECONDS_MEASURED=${2:-60}
WARMUP=10
BPM=123.4
FOLLOW=$BUILD/bench/accuracy/tactimo_jack_follow
for tool in jackd jack_midi_clock jack_mclk_dump jack_transport jack_lsp; do
    command -v "$tool" >/dev/null || { echo "missing $tool (Debian: jackd2, jack-midi-clock)"; exit 1; }
done
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DTACTIMO_APP=OFF -DTACTIMO_BENCH=ON >/dev/null &&
    ninja -C "$BUILD" -j2 tactimo_jack_follow >/dev/null || { echo "build of tactimo_jack_follow failed"; exit 1; }

# A fixed name: JACK reclaims its registry slot on the next run, where a
# name of its own each run would leave one stale slot per run (8 in all).
export JACK_DEFAULT_SERVER=tactimo-acc
TMP=$(mktemp -d)
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
    PIDS=()
}
trap 'cleanup; rm -rf "$TMP"' EXIT

wait_for() { # command, tries of 0.1 s
    local i
    for ((i = 0; i < $2; i++)); do timeout 5 bash -c "$1" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}

# RMS and mean of the filtered tempo of jack_mclk_dump over the same span as
# Tactimo's: from WARMUP s after its first tick, for SECONDS_MEASURED s (frames at 48 kHz).
dump_stats() {
    tr '\r' '\n' < "$1" | awk -v bpm="$BPM" -v w="$WARMUP" -v s="$SECONDS_MEASURED" '
        /flt:/ && /@/ {
            flt = $0; sub(/.*flt: */, "", flt); sub(/\[BPM\].*/, "", flt)
            at = $0; sub(/.*@ */, "", at); at += 0
            if (flt !~ /^[0-9.]+$/) next
            if (first == "") first = at
            t = (at - first) / 48000
            if (t < w || t > w + s) next
            e = flt - bpm; sum += e; sum2 += e * e; n++
        }
        END { if (n) printf "%.4f %.4f %d\n", sqrt(sum2 / n), sum / n, n; else print "nan nan 0" }'
}

printf 'Following jack_midi_clock -b %s -B on a private JACK server (dummy, 48 kHz, 256 frames);\n' "$BPM"
printf 'errors in BPM against %s, measured for %s s after %s s of warm-up.\n' "$BPM" "$SECONDS_MEASURED" "$WARMUP"
printf 'Tactimo: exactBPM / bpm of the status and the raw fit; jack_mclk_dump: its filtered tempo (printed to 0.01);\n'
printf 'loop*: the reference loop re-implemented here, fed the time stamps that reached Tactimo.\n'
printf 'Machine: %s cores, %s. The dummy driver keeps time with the system timer: on a busy machine\n' "$(nproc)" \
    "$(lscpu | sed -n 's/^Model name: *//p')"
printf 'late cycles shift the time stamps, so run it on a quiet machine (the load average is printed).\n\n'
printf '%-10s %13s %13s %13s %13s %13s %13s %8s\n' "sender" "exactBPM rms" "exact mean" "bpm rms" "raw rms" \
    "mclk_dump rms" "loop* rms" "dump/raw"

# Real-time scheduling as JACK normally runs, else without.
started=""
for mode in "-R -P 70" "--no-realtime"; do
    jackd -n "$JACK_DEFAULT_SERVER" $mode -d dummy -r 48000 -p 256 >"$TMP/jackd.log" 2>&1 &
    pid=$!
    if wait_for jack_lsp 50; then PIDS+=("$pid"); started=$mode; break; fi
    kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
done
[ -n "$started" ] || { echo "JACK server did not start"; cat "$TMP/jackd.log"; exit 1; }
[ "$started" = "--no-realtime" ] && mode_note=", server not real-time" || mode_note=", server real-time"

for J in 0 1 5; do
    CLIENTS=()
    if [ "$J" = 0 ]; then jack_midi_clock -b "$BPM" -B >"$TMP/mclk_$J.log" 2>&1 &
    else jack_midi_clock -b "$BPM" -B -J "$J" >"$TMP/mclk_$J.log" 2>&1 &
    fi
    CLIENTS+=($!)
    PIDS+=($!)
    wait_for "jack_lsp | grep -q '^jack_midi_clock:mclk_out$'" 100 || { echo "jack_midi_clock did not start"; exit 1; }
    stdbuf -oL jack_mclk_dump -n jack_midi_clock:mclk_out >"$TMP/dump_$J.txt" 2>&1 &
    CLIENTS+=($!)
    PIDS+=($!)
    "$FOLLOW" --bpm "$BPM" --seconds "$SECONDS_MEASURED" --warmup "$WARMUP" >"$TMP/follow_$J.txt" 2>&1 &
    FOLLOW_PID=$!
    sleep 1
    echo play | jack_transport >/dev/null 2>&1
    wait "$FOLLOW_PID"
    for pid in "${CLIENTS[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    (echo stop; echo "locate 0"; sleep 0.3) | jack_transport >/dev/null 2>&1

    read -r dump_rms dump_mean dump_n < <(dump_stats "$TMP/dump_$J.txt")
    summary=$(grep '^SUMMARY' "$TMP/follow_$J.txt")
    if [ -z "$summary" ]; then
        echo "J=$J: Tactimo's intake printed no summary:"; tail -5 "$TMP/follow_$J.txt"; continue
    fi
    field() { awk -v k="$1" '{ for (i = 1; i < NF; i++) if ($i == k) print $(i + 1) }' <<<"$summary"; }
    label=$([ "$J" = 0 ] && echo "no -J" || echo "-J $J")
    printf '%-10s %13s %13s %13s %13s %13s %13s %8s\n' "$label" "$(field exact_rms)" "$(field exact_mean)" \
        "$(field bpm_rms)" "$(field raw_rms)" "$dump_rms" "$(field loop_rms)" \
        "$(awk -v a="$dump_rms" -v b="$(field raw_rms)" 'BEGIN { if (b > 0) printf "%.1f", a / b; else print "-" }')"
    printf '%-10s (jack_mclk_dump mean %s over %s clocks; Tactimo %s refreshes, %s; load average %s%s)\n' "" \
        "$dump_mean" "$dump_n" "$(field samples)" \
        "$(awk '{for(i=1;i<NF;i++) if($i=="late_refreshes") print "late refreshes " $(i+1) " of " $(i+3)}' <<<"$summary")" \
        "$(cut -d' ' -f1-3 /proc/loadavg)" "$mode_note"
done
