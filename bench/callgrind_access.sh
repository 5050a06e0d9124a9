#!/usr/bin/env bash
# Instructions per register access of whole pelmok-daq runs under callgrind:
# one record of 100,000 frames (tone, --bare, TZ=UTC0, fixed start time),
# start-up included, at each rate given (default 100 kHz and 1 MHz).
# SAMPLES=N: records of N frames instead (SAMPLES=1: the start-up's cost).
# TRACE=compact or TRACE=every: the same runs traced to /dev/null (--trace,
# --trace-every-access).
#   bench/callgrind_access.sh build/host/bin/pelmok-daq [RATE...]
set -euo pipefail
daq=${1:?usage: $0 PELMOK-DAQ [RATE...]}
shift
rates=("$@")
[ ${#rates[@]} -eq 0 ] && rates=(100000 1000000)
traced=()
case ${TRACE:-} in
  '') ;;
  compact) traced=(--trace /dev/null) ;;
  every) traced=(--trace /dev/null --trace-every-access) ;;
  *) echo "$0: TRACE is compact or every, not $TRACE" >&2; exit 2 ;;
esac
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for rate in "${rates[@]}"; do
  root=$work/device-$rate
  mkdir -p "$root/FlashFX Disk/Pelmok" "$root/Hard Disk/Pelmok/Data"
  printf 'Sample rate:%s\r\nNumber of samples per record:%s\r\nNumber of hydrophones:4\r\nNumber of records per Flash Disk file:1\r\nNumber of Flash Disk files per USB write:1\r\nSeconds to sleep between acquisitions:1\r\n' \
    "$rate" "${SAMPLES:-100000}" > "$root/FlashFX Disk/Pelmok/PelmokConfig.txt"
  report=$(TZ=UTC0 valgrind --tool=callgrind --callgrind-out-file="$work/cg.$rate" "$daq" --bare \
    --device-root "$root" --frame-rate "$rate" --start-time 2026-01-01T00:00:00Z "${traced[@]}" 2>/dev/null)
  accesses=$(sed -n 's/.* \([0-9]*\) register accesses$/\1/p' <<<"$report")
  instructions=$(sed -n 's/^totals: //p' "$work/cg.$rate")
  awk -v r="$rate" -v a="$accesses" -v i="$instructions" \
    'BEGIN { printf "%8d Hz: %d instructions, %d accesses, %.1f an access\n", r, i, a, i / a }'
done
