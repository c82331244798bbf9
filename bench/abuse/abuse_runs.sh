#!/bin/bash

# SPDX-FileCopyrightText: 2026 The Tactimo developers
# SPDX-License-Identifier: GPL-3.0-or-later

# The abuse runs, with printed figures. Every JACK server here is private
# (dummy driver, named tactimo-acc) and every process is stopped by its pid.
#
#   bench/abuse/abuse_runs.sh [build-dir]      (ONLY="1 5" for some runs, LOAD_SECONDS=60,
#                                               RESTARTS=10000 for run 7)
#
# Builds what it needs: the intake programs in build-dir (default build-acc),
# an AddressSanitizer build of them in build-dir-asan, and the window under
# AddressSanitizer in build-dir-app, which runs offscreen through the churn,
# the server kill and the settings runs (NO_APP=1 leaves it out;
# TACTIMO_APP_BUILD=<dir> takes the window from another build).
set -u
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-$ROOT/build-acc}
ASAN=$BUILD-asan
APP_BUILD=${TACTIMO_APP_BUILD:-}
LOAD_SECONDS=${LOAD_SECONDS:-60}

for tool in jackd jack_midi_clock jack_transport jack_lsp jack_property cmake ninja; do
    command -v "$tool" >/dev/null || { echo "missing $tool"; exit 1; }
done

echo "== building (build dirs: $BUILD, $ASAN and, for the window, $BUILD-app)"
build() { # dir, extra cmake args...
    local dir=$1; shift
    cmake -S "$ROOT" -B "$dir" -G Ninja -DTACTIMO_APP=OFF -DTACTIMO_TESTS=ON -DTACTIMO_BENCH=ON "$@" >/dev/null || return 1
    ninja -C "$dir" -j2 tactimo_jack_load tactimo_jack_churn tactimo_intake_flood >/dev/null
}
build "$BUILD" || { echo "build failed"; exit 1; }
build "$ASAN" -DTACTIMO_SANITIZE=address || { echo "AddressSanitizer build failed"; exit 1; }
LOAD=$BUILD/bench/abuse/tactimo_jack_load
LOAD_ASAN=$ASAN/bench/abuse/tactimo_jack_load
if [ -z "$APP_BUILD" ] && [ -z "${NO_APP:-}" ]; then
    APP_BUILD=$BUILD-app
    { cmake -S "$ROOT" -B "$APP_BUILD" -G Ninja -DTACTIMO_APP=ON -DTACTIMO_TESTS=OFF -DTACTIMO_BENCH=OFF \
        -DTACTIMO_SANITIZE=address >/dev/null && ninja -C "$APP_BUILD" -j2 tactimo >/dev/null; } ||
        echo "the window did not build: its runs are left out"
fi
APP=""
[ -n "$APP_BUILD" ] && [ -x "$APP_BUILD/app/tactimo" ] && APP=$APP_BUILD/app/tactimo

# A fixed name: JACK reclaims its registry slot on the next run, where a
# name of its own each run would leave one stale slot per run (8 in all).
export JACK_DEFAULT_SERVER=tactimo-acc
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
TMP=$(mktemp -d)
PIDS=()
stop_all() {
    local pid
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
    PIDS=()
}
trap 'stop_all; [ -n "${KEEP_LOGS:-}" ] && mkdir -p "$KEEP_LOGS" && cp -r "$TMP"/. "$KEEP_LOGS"/; rm -rf "$TMP"' EXIT

wait_for() { # command, tries of 0.1 s
    local i
    for ((i = 0; i < $2; i++)); do eval "$1" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}
start_server() { # real-time scheduling as JACK normally runs, else without
    local mode
    for mode in "-R -P 70" "--no-realtime"; do
        jackd -n "$JACK_DEFAULT_SERVER" $mode -d dummy -r 48000 -p 256 >"$TMP/jackd.log" 2>&1 &
        JACKD=$!
        if wait_for "timeout 5 jack_lsp" 50; then
            PIDS+=("$JACKD")
            JACK_MODE=$([ "$mode" = "--no-realtime" ] && echo "not real-time" || echo "real-time")
            return 0
        fi
        kill "$JACKD" 2>/dev/null; wait "$JACKD" 2>/dev/null
    done
    echo "JACK server did not start:"; cat "$TMP/jackd.log"; exit 1
}
senders() { timeout 5 jack_lsp 2>/dev/null | grep -c ':mclk_out$'; }
cpu_ticks() { # utime + stime of a pid, in clock ticks
    awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0
}
field() { awk -v k="$1" '/^SUMMARY/ { for (i = 1; i < NF; i++) if ($i == k) print $(i + 1) }' "$2"; }
HZ=$(getconf CLK_TCK)
# The window, offscreen. Under AddressSanitizer a preloaded handler runs the
# leak check on SIGTERM (a killed window never reaches the check at exit).
APP_ASAN=0
if [ -n "$APP" ] && ldd "$APP" | grep -q libasan; then
    APP_ASAN=1
    ASANLIB=$(ldd "$APP" | awk '/libasan/ { print $3 }')
    gcc -shared -fPIC -O1 "$ROOT/bench/abuse/leak_check_on_term.c" -o "$TMP/leakcheck.so" || exit 1
fi
start_app() { # log, config dir; sets APPPID
    if [ "$APP_ASAN" = 1 ]; then
        ASAN_OPTIONS=fast_unwind_on_malloc=0:malloc_context_size=40:detect_leaks=1 \
            LD_PRELOAD="$ASANLIB $TMP/leakcheck.so" XDG_CONFIG_HOME=$2 QT_QPA_PLATFORM=offscreen "$APP" >"$1" 2>&1 &
    else
        XDG_CONFIG_HOME=$2 QT_QPA_PLATFORM=offscreen "$APP" >"$1" 2>&1 &
    fi
    APPPID=$!
}
stop_app() { # log; sets APP_VERDICT
    local alive=NO rc errors leaks ours
    kill -0 "$APPPID" 2>/dev/null && alive=yes
    kill -TERM "$APPPID" 2>/dev/null
    wait "$APPPID"
    rc=$?
    errors=$(grep -c 'ERROR: AddressSanitizer' "$1")
    leaks=$(sed -n 's/^SUMMARY: AddressSanitizer: \([0-9]*\) byte(s) leaked in \([0-9]*\).*/\1 bytes in \2 blocks/p' "$1")
    # Blocks lost by Tactimo's own code. Those that went to the QML engine (its
    # JavaScript heap holds them where the check cannot look) are the engine's,
    # and those in libjack's metadata database are libjack's.
    ours=$(awk 'BEGIN { RS = "" } /leak of/ && /in (tactimo::|ClockStore|ClockStatusValue|InputListModel|Settings|SignatureInput|Clipboard|NumberFormat)/ && !/openMainWindow|QV4|QQml|JITCode|QmlCacheGenerated|qt_static_metacall|libjack|libdb-/ { n++ } END { print n + 0 }' "$1")
    if [ "$APP_ASAN" = 1 ]; then
        APP_VERDICT="alive $alive; exit $rc; AddressSanitizer errors $errors; unreachable ${leaks:-0 bytes} (QML engine, libjack), from Tactimo's own code: $ours"
    else
        APP_VERDICT="alive $alive; exit $rc"
    fi
}
# ONLY="1 4" runs those runs alone.
want() { [ -z "${ONLY:-}" ] || [[ " $ONLY " == *" $1 "* ]]; }

echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p')"

# ---------------------------------------------------------------------------
if want 1; then
echo
echo "== 1. 64 sources at 300 BPM through JACK for ${LOAD_SECONDS} s"
start_server
echo "  JACK server: dummy driver, 48 kHz, 256 frames, $JACK_MODE"
SENDERS=()
for i in $(seq 64); do
    jack_midi_clock -b 300 -B >/dev/null 2>&1 &
    SENDERS+=($!)
    PIDS+=($!)
done
wait_for '[ "$(senders)" -ge 64 ]' 300 || echo "only $(senders) senders came up"
"$LOAD" --expect 64 --bpm 300 --seconds $((LOAD_SECONDS + 3)) --after-first-tick >"$TMP/load.txt" 2>&1 &
LOADPID=$!
wait_for "grep -q READY $TMP/load.txt" 300
grep READY "$TMP/load.txt" | sed 's/^/  /'
# Independent receivers on three of the senders, to tell a tick the sender
# never sent from one the intake lost.
ports=($(jack_lsp | grep ':mclk_out$' | sort))
DUMPED=("${ports[0]}" "${ports[31]}" "${ports[63]}")
for i in 0 1 2; do
    stdbuf -oL jack_midi_dump "tactimo_dump_$i" >"$TMP/dump_$i.txt" 2>/dev/null &
    PIDS+=($!)
    wait_for "jack_lsp | grep -q '^tactimo_dump_$i:'" 100
    jack_connect "${DUMPED[$i]}" "$(jack_lsp | grep "^tactimo_dump_$i:" | head -1)" 2>/dev/null
done
own0=$(cpu_ticks "$LOADPID"); jackd0=$(cpu_ticks "$JACKD"); s0=0; for p in "${SENDERS[@]}"; do s0=$((s0 + $(cpu_ticks "$p"))); done
t0=$(date +%s.%N)
echo play | jack_transport >/dev/null 2>&1
sleep "$LOAD_SECONDS"
# Stopped transport, every sender has sent exactly as many ticks as the others.
echo stop | jack_transport >/dev/null 2>&1
t1=$(date +%s.%N)
own1=$(cpu_ticks "$LOADPID"); jackd1=$(cpu_ticks "$JACKD"); s1=0; for p in "${SENDERS[@]}"; do s1=$((s1 + $(cpu_ticks "$p"))); done
wait "$LOADPID"
stop_all
expected=$(awk -v s="$LOAD_SECONDS" 'BEGIN { printf "%.0f", s * 300 * 24 / 60 }')
L=$TMP/load.txt
verdict=$([ "$(field ticks_min "$L")" = "$(field ticks_max "$L")" ] && echo "all equal: none lost" ||
    echo "NOT equal: ticks lost, by the senders or by Tactimo (see jack_midi_dump below)")
printf '  sources with clock %s; ticks per source %s to %s (about %s in %s s at 300 BPM; %s)\n' \
    "$(field sources_with_clock "$L")" "$(field ticks_min "$L")" "$(field ticks_max "$L")" "$expected" "$LOAD_SECONDS" "$verdict"
printf '  packet lists dropped by the backend: %s; bytes in its ring that were no record: %s times\n' \
    "$(field dropped_lists "$L")" "$(field rejected_records "$L")"
for i in 0 1 2; do
    printf '  %s: Tactimo counted %s ticks, jack_midi_dump %s\n' "${DUMPED[$i]}" \
        "$(awk -v n="${DUMPED[$i]}" '$1 == "COUNT" && $3 == n { print $2 }' "$L")" "$(grep -ci 'f8' "$TMP/dump_$i.txt")"
done
printf '  the server'"'"'s log: %s lines about late or missed cycles (xruns)\n' "$(grep -ciE 'xrun|not finished|timeout' "$TMP/jackd.log")"
printf '  timing: gaps over 1.5 intervals %s, longest %s ms (nominal 8.33); tempo from first to last tick %s to %s BPM\n' \
    "$(field long_gaps "$L")" "$(field max_gap_ms "$L")" "$(field bpm_min "$L")" "$(field bpm_max "$L")"
printf '  refresh: %s Hz (%s refreshes, %s later than 1/60 s, latest %s ms at %s s)\n' \
    "$(field rate_hz "$L")" "$(field refreshes "$L")" "$(field late "$L")" "$(field max_late_ms "$L")" "$(field max_late_at "$L")"
printf '  set-up work on the main thread (sources connected after a change): at most %s ms, at %s s\n' \
    "$(field setup_work_max_ms "$L")" "$(field setup_work_at "$L")"
printf '  one refresh of 64 sources (readings and status): p99 %s us, max %s us\n' "$(field refresh_p99_us "$L")" \
    "$(field refresh_max_us "$L")"
awk -v a="$jackd0" -v b="$jackd1" -v c="$s0" -v d="$s1" -v e="$own0" -v f="$own1" -v t0="$t0" -v t1="$t1" -v hz="$HZ" \
    'BEGIN { w = t1 - t0; printf "  CPU share while clocking (of one core): Tactimo intake %.1f%%, jackd %.1f%%, the 64 senders together %.1f%%\n", 100 * (f - e) / hz / w, 100 * (b - a) / hz / w, 100 * (d - c) / hz / w }'
fi

# ---------------------------------------------------------------------------
if want 2; then
echo
echo "== 2. 1 MB of SysEx and random bytes interleaved with a clock (fake service)"
"$BUILD/bench/abuse/tactimo_intake_flood" 2>&1 | sed 's/^/  /'
"$ASAN/bench/abuse/tactimo_intake_flood" >"$TMP/asan_tests.txt" 2>&1 &&
    echo "  the same under AddressSanitizer: passed, no leak" || { echo "  under AddressSanitizer: FAILED"; tail -20 "$TMP/asan_tests.txt"; }
fi

# ---------------------------------------------------------------------------
if want 3; then
echo
echo "== 3. source names through JACK metadata: invalid UTF-8, 10 000 characters, empty"
start_server
NAMED=()
for i in 1 2 3; do jack_midi_clock -b 120 -B >/dev/null 2>&1 & NAMED+=($!); PIDS+=($!); done
wait_for '[ "$(senders)" -ge 3 ]' 100
PRETTY=http://jackaudio.org/metadata/pretty-name
ports=($(jack_lsp | grep ':mclk_out$'))
jack_property -s --port "${ports[0]}" "$PRETTY" $'Synth \xff\xfe\xc3 end' >/dev/null
jack_property -s --port "${ports[1]}" "$PRETTY" "$(head -c 10000 /dev/zero | tr '\0' 'x')" >/dev/null
jack_property -s --port "${ports[2]}" "$PRETTY" "" >/dev/null 2>&1 ||
    echo "  (JACK refuses an empty pretty name; that port keeps its port name, the empty name is in the tests)"
echo play | jack_transport >/dev/null 2>&1
"$LOAD_ASAN" --expect 3 --seconds 3 >"$TMP/names.txt" 2>"$TMP/names.err"
rc=$?
grep '^SOURCE' "$TMP/names.txt" | cut -c8- | while IFS= read -r name; do
    valid=yes; printf '%s' "$name" | iconv -f UTF-8 -t UTF-8 >/dev/null 2>&1 || valid=NO
    printf '  listed: %-40s bytes %5d, valid UTF-8 %s\n' "$(printf '%s' "$name" | cut -c1-40)" "$(printf '%s' "$name" | wc -c)" "$valid"
done
printf '  listed %s (with the virtual port); exit %s; sanitizer reports: %s\n' "$(grep -c '^SOURCE' "$TMP/names.txt")" "$rc" \
    "$(grep -c 'Sanitizer' "$TMP/names.err")"
echo "  on screen the name is shortened in the middle: $(grep -l 'ElideMiddle' "$ROOT"/app/qml/*.qml 2>/dev/null | xargs -n1 basename | tr '\n' ' ')"
stop_all
fi

# ---------------------------------------------------------------------------
if want 4; then
echo
echo "== 4. 200 senders started and stopped while the store runs (AddressSanitizer build)"
start_server
echo play | jack_transport >/dev/null 2>&1 # senders clock from the moment they start
if [ -n "$APP" ]; then
    start_app "$TMP/app_idle.log" "$TMP/appconfig"
    sleep 10
    stop_app "$TMP/app_idle.log"
    echo "  the window alone for 10 s, no sender: $APP_VERDICT"
fi
"$LOAD_ASAN" --seconds 75 >"$TMP/churn.txt" 2>"$TMP/churn.err" &
CHURN=$!
[ -n "$APP" ] && start_app "$TMP/app_churn.log" "$TMP/appconfig"
sleep 2
started=0
for wave in $(seq 10); do
    WAVE=()
    for i in $(seq 20); do jack_midi_clock -b $((60 + wave * 10 + i)) -B >/dev/null 2>&1 & WAVE+=($!); started=$((started + 1)); done
    sleep 3
    if [ "$wave" -lt 10 ]; then
        for pid in "${WAVE[@]}"; do kill "$pid" 2>/dev/null; done
        for pid in "${WAVE[@]}"; do wait "$pid" 2>/dev/null; done
    else # the last wave: 17 go, 3 stay
        for pid in "${WAVE[@]:3}"; do kill "$pid" 2>/dev/null; done
        for pid in "${WAVE[@]:3}"; do wait "$pid" 2>/dev/null; done
        PIDS+=("${WAVE[@]:0:3}")
    fi
done
wait "$CHURN"
rc=$?
present=$(jack_lsp | grep ':mclk_out$' | sort)
listed=$(grep '^SOURCE' "$TMP/churn.txt" | cut -c8- | grep -v '^Virtual port$' | sort)
printf '  senders started %s; setup changes seen %s; listed at the end %s (present %s): %s\n' "$started" \
    "$(field setup_changes "$TMP/churn.txt")" "$(grep -c . <<<"$listed")" "$(grep -c . <<<"$present")" \
    "$([ "$listed" = "$present" ] && echo "the list is right" || echo "MISMATCH")"
printf '  store: refresh %s Hz, set-up work at most %s ms; exit %s; AddressSanitizer/LeakSanitizer reports: %s\n' \
    "$(field rate_hz "$TMP/churn.txt")" "$(field setup_work_max_ms "$TMP/churn.txt")" "$rc" \
    "$(grep -c 'ERROR: .*Sanitizer' "$TMP/churn.err")"
grep -m5 'ERROR: .*Sanitizer' "$TMP/churn.err" | sed 's/^/    /'
if [ -n "$APP" ]; then
    # The window's own list: its JACK ports, one per source it connected.
    ports=$(jack_lsp -c | awk '/^Tactimo:Input-/ { p = 1; next } /^[^ ]/ { p = 0 } p && /mclk_out/ { print $1 }' | sort)
    printf '  the window is connected to %s senders at the end: %s\n' "$(grep -c . <<<"$ports")" \
        "$([ "$ports" = "$present" ] && echo "the right ones" || echo "NOT the present ones")"
    stop_app "$TMP/app_churn.log"
    echo "  the window through the churn: $APP_VERDICT"
fi
stop_all
fi

# ---------------------------------------------------------------------------
if want 5; then
echo
echo "== 5. the JACK server killed while the store runs"
start_server
jack_midi_clock -b 120 -B >/dev/null 2>&1 & PIDS+=($!)
wait_for '[ "$(senders)" -ge 1 ]' 100
echo play | jack_transport >/dev/null 2>&1
"$LOAD" --seconds 12 >"$TMP/kill.txt" 2>&1 &
KILLRUN=$!
[ -n "$APP" ] && start_app "$TMP/app_kill.log" "$TMP/appconfig"
sleep 5
{ kill -KILL "$JACKD"; wait "$JACKD"; } 2>/dev/null
echo "  server killed 5 s in"
[ -n "$APP" ] && a0=$(cpu_ticks "$APPPID")
wait "$KILLRUN"
rc=$?
grep '^t ' "$TMP/kill.txt" | sed -n '4p;7p;9p;12p' | sed 's/^/  /'
printf '  refresh over the whole run %s Hz, %s later than 1/60 s (latest %s ms); end: state %s, server %s; exit %s\n' \
    "$(field rate_hz "$TMP/kill.txt")" "$(field late "$TMP/kill.txt")" "$(field max_late_ms "$TMP/kill.txt")" \
    "$(field state "$TMP/kill.txt")" "$(field server "$TMP/kill.txt")" "$rc"
if [ -n "$APP" ]; then
    a1=$(cpu_ticks "$APPPID")
    printf '  the window after the kill: CPU share %.1f%% over 7 s (no busy loop)\n' \
        "$(awk -v a="$a0" -v b="$a1" -v hz="$HZ" 'BEGIN { print 100 * (b - a) / hz / 7 }')"
    stop_app "$TMP/app_kill.log"
    echo "  the window: $APP_VERDICT"
fi
stop_all
fi

# ---------------------------------------------------------------------------
if want 6; then
echo
echo "== 6. settings files of garbage, wrong types and huge numbers"
if [ -n "$APP" ]; then
    mkdir -p "$TMP/settings/Tactimo"
    i=0
    for content in "$(head -c 3000 "$(command -v jackd)" | tr -d '\0')" \
                   $'[General]\nselection=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x1fgarbage)\nnumerator=@ByteArray(zz)\ndenominator=true' \
                   $'[General]\nselection=12\nnumerator=99999999999999999999999\ndenominator=-9223372036854775809' \
                   $'[General\nnumerator=4\xff\xfe\n[General]\nnumerator=@Rect(1 2 3 4)\ndenominator=@Size(-1 -1)'; do
        i=$((i + 1))
        printf '%s' "$content" >"$TMP/settings/Tactimo/Tactimo.conf"
        before=$(md5sum <"$TMP/settings/Tactimo/Tactimo.conf")
        start_app "$TMP/app_settings_$i.log" "$TMP/settings"
        sleep 4
        stop_app "$TMP/app_settings_$i.log"
        after=$(md5sum <"$TMP/settings/Tactimo/Tactimo.conf")
        printf '  settings file %d: %s; file %s\n' "$i" "$APP_VERDICT" \
            "$([ "$before" = "$after" ] && echo "left alone" || echo "rewritten")"
    done
    echo "  (that the store then holds its defaults is checked by tests/app/ClockStoreTest.cpp)"
else
    echo "  no window built: only the store tests cover the settings"
fi
fi

# ---------------------------------------------------------------------------
if want 7; then
echo
echo "== 7. senders restarted ${RESTARTS:-10000} times, four at a time: what the tables and memory keep"
start_server
"$BUILD/bench/abuse/tactimo_jack_churn" --restarts "${RESTARTS:-10000}" --every 1000 --parallel 4 >"$TMP/churn7.txt" 2>&1
rc=$?
awk '/^(AT|SUMMARY)/ { printf "  %-7s restarts %6s after %6s s: intake records %4s, source table %s keys and %s names, resident %s KiB\n", $1, $3, $5, $7, $9, $11, $15 }' "$TMP/churn7.txt"
printf '  exit %s; restarts never heard %s, ports refused %s, packet lists dropped %s\n' "$rc" \
    "$(field unheard "$TMP/churn7.txt")" "$(field refused "$TMP/churn7.txt")" "$(field dropped_lists "$TMP/churn7.txt")"
stop_all
fi
