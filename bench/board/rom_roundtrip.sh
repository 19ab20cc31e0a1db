#!/usr/bin/env bash
# Backup, transfer, verify and restore against quenlo-sim at each serial speed,
# with --wire-time so that replies take as long as on a real line. Prints the
# seconds of each step; the speed search (connect) is timed on its own, since
# every other step starts with one.
#   bench/board/rom_roundtrip.sh [BIN_DIR]      (default: build/bin)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
bin=${1:-$root/build/bin}
ex=$root/examples
work=$(mktemp -d)
trap 'kill "${sim_pid:-0}" 2>/dev/null || true; rm -rf "$work"' EXIT

now() { date +%s%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b - a) / 1e9 }'; }
search=0
timed() {  # timed NAME COMMAND...: runs it quietly, prints NAME=seconds without the speed search
    local t0 t1
    t0=$(now)
    "${@:2}" >"$work/$1.out" 2>&1 || { echo "$1 failed:"; tail -5 "$work/$1.out"; exit 1; }
    t1=$(now)
    if [ "$1" = connect ]; then
        search=$((t1 - t0))
        printf ' speed search %ss;' "$(seconds "$t0" "$t1")"
    else
        printf ' %s %ss' "$1" "$(seconds "$((t0 + search))" "$t1")"
    fi
}

# The ROM the robot held before: all four example motions.
"$bin/quenlo-cli" rom "$ex/robot.bac" "$ex"/{bow,wave,squat,walk}.tra -o "$work/earlier.bin" >/dev/null
echo "earlier ROM: $(stat -c %s "$work/earlier.bin") bytes; new image: robot.bac with bow and wave"

for speed in 0 1 2; do
    "$bin/quenlo-sim" --speed-index "$speed" --wire-time --rom-in "$work/earlier.bin" \
        --rom-out "$work/after.bin" >"$work/sim$speed.out" &
    sim_pid=$!
    for _ in $(seq 50); do [ -s "$work/sim$speed.out" ] && break; sleep 0.1; done
    pty=$(head -1 "$work/sim$speed.out")
    printf 'speed index %s:' "$speed"
    timed connect "$bin/quenlo-cli" connect --port "$pty"
    timed backup+transfer+verify "$bin/quenlo-cli" rom "$ex/robot.bac" "$ex"/{bow,wave}.tra \
        --port "$pty" --backup "$work/backup.bin"
    timed transfer "$bin/quenlo-cli" rom "$ex/robot.bac" "$ex"/{bow,wave}.tra --port "$pty" \
        --no-verify
    timed restore+verify "$bin/quenlo-cli" rom-write --port "$pty" "$work/backup.bin"
    kill "$sim_pid"
    wait "$sim_pid" || true
    sim_pid=
    cmp -s "$work/after.bin" "$work/earlier.bin" && echo ' restored: identical' ||
        { echo ' restored: DIFFERENT'; exit 1; }
done
echo "backup: $(stat -c %s "$work/backup.bin") bytes"
