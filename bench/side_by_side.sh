#!/usr/bin/env bash
# The speed ratios users feel, each pair of commands run alternately, five
# rounds, the median of the rounds' ratios (wall times are noisy on a shared
# machine; a ratio of two commands run side by side is not):
#   terminal  pelmok-daq with its standard output a terminal (the progress
#             line) against the same run piped, 200 simulated seconds
#   trace     the default run traced to /dev/null against the simulated time
#             it covers (times real time), compact and every-access, and the
#             same run untraced
#   info      pelmok-data info against sox's stats on a 400 MB data file, in
#             user CPU seconds
#   bench/side_by_side.sh BUILD-DIR [terminal|trace|info]...
set -euo pipefail
build=${1:?usage: $0 BUILD-DIR [terminal|trace|info]...}
shift
which=("$@")
[ ${#which[@]} -eq 0 ] && which=(terminal trace info)
daq=$build/bin/pelmok-daq
data=$build/bin/pelmok-data
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rounds=5
export TZ=UTC0

# seconds COMMAND...: wall seconds of one run (with CPU=user its user CPU
# seconds, with CPU=all user and system).
seconds() {
  local TIMEFORMAT='%3R %3U %3S'
  if ! { time "$@" >/dev/null 2>"$work/err"; } 2>"$work/time"; then
    echo "$0: failed: $* ($(tail -1 "$work/err"))" >&2
    exit 1
  fi
  case ${CPU:-wall} in
  user) cut -d' ' -f2 "$work/time" ;;
  all) awk '{ print $2 + $3 }' "$work/time" ;;
  *) cut -d' ' -f1 "$work/time" ;;
  esac
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

device() {  # device ROOT SAMPLES FILES-PER-WRITE RECORDS-PER-FILE
  rm -rf "$1"
  mkdir -p "$1/FlashFX Disk/Pelmok" "$1/Hard Disk/Pelmok/Data"
  printf 'Sample rate:100000\r\nNumber of samples per record:%s\r\nNumber of hydrophones:4\r\nNumber of records per Flash Disk file:%s\r\nNumber of Flash Disk files per USB write:%s\r\nSeconds to sleep between acquisitions:1\r\n' \
    "$2" "$4" "$3" >"$1/FlashFX Disk/Pelmok/PelmokConfig.txt"
}

# The ratio is the median of each round's ratio: a load that comes and goes
# during the measurement then spoils rounds, not the comparison.
pair() {  # pair LABEL-A LABEL-B: reads $work/a.cmd and $work/b.cmd
  : >"$work/a" && : >"$work/b" && : >"$work/r"
  local a b
  for _ in $(seq $rounds); do
    a=$(seconds bash "$work/a.cmd")
    b=$(seconds bash "$work/b.cmd")
    echo "$a" >>"$work/a" && echo "$b" >>"$work/b"
    awk -v a="$a" -v b="$b" 'BEGIN { print (b > 0 ? a / b : 0) }' >>"$work/r"
  done
  awk -v la="$1" -v lb="$2" -v a="$(median <"$work/a")" -v b="$(median <"$work/b")" -v r="$(median <"$work/r")" \
    'BEGIN { printf "  %s %.3f s against %s %.3f s: %.2f\n", la, a, lb, b, r }'
}

for w in "${which[@]}"; do
  case $w in
  terminal)
    echo "terminal against pipe (200 simulated seconds, wall):"
    device "$work/t" 1000000 20 1
    echo "rm -rf '$work/t/Hard Disk/Pelmok/Data/'*; script -qec \"$daq --bare --device-root '$work/t' --start-time 2026-01-01T00:00:00Z >/dev/tty 2>/dev/null\" /dev/null" >"$work/a.cmd"
    # The piped run goes through script as well, so the pty's set-up is not
    # counted against the progress line.
    echo "rm -rf '$work/t/Hard Disk/Pelmok/Data/'*; script -qec \"$daq --bare --device-root '$work/t' --start-time 2026-01-01T00:00:00Z 2>/dev/null | cat >/dev/null\" /dev/null" >"$work/b.cmd"
    pair terminal pipe
    # The same two runs, 20 simulated seconds, counted in instructions, which
    # the machine's load does not move (under valgrind the progress line is
    # drawn far more often than in a plain run, so this is its upper bound).
    if command -v valgrind >/dev/null; then
      device "$work/t" 200000 10 1
      for form in tty pipe; do
        sed -e "s|script -qec \"|script -qec \"valgrind -q --tool=callgrind --callgrind-out-file=$work/cg.$form |" \
          "$work/$([ $form = tty ] && echo a || echo b).cmd" >"$work/cg.cmd"
        bash "$work/cg.cmd" >/dev/null 2>&1
      done
      awk '/^summary:/ { v[FILENAME] = $2 } END { for (f in v) if (f ~ /tty$/) t = v[f]; else p = v[f];
             printf "  in instructions (callgrind, 20 simulated seconds): %.1f million against %.1f million: %.3f\n",
                    t / 1e6, p / 1e6, t / p }' "$work/cg.tty" "$work/cg.pipe"
    fi
    ;;
  trace)
    echo "the default run traced to /dev/null (wall):"
    "$daq" --device-root "$work/d" --start-time 2026-01-01T00:00:00Z >"$work/report" 2>/dev/null
    simulated=$(sed -n 's/.*, \([0-9.]*\) s of simulated time.*/\1/p' "$work/report")
    for form in "" "--trace-every-access"; do
      : >"$work/a"
      for _ in $(seq $rounds); do
        rm -rf "$work/d"
        seconds "$daq" --device-root "$work/d" --start-time 2026-01-01T00:00:00Z --force \
          --trace /dev/null $form >>"$work/a"
      done
      awk -v s="$simulated" -v m="$(median <"$work/a")" -v f="${form:-compact}" \
        'BEGIN { printf "  %s: %.3f s for %.3f simulated s, %.0f times real time\n", f, m, s, s / m }'
    done
    : >"$work/a"
    for _ in $(seq $rounds); do
      rm -rf "$work/d"
      seconds "$daq" --device-root "$work/d" --start-time 2026-01-01T00:00:00Z >>"$work/a"
    done
    awk -v s="$simulated" -v m="$(median <"$work/a")" \
      'BEGIN { printf "  untraced: %.3f s, %.0f times real time\n", m, s / m }'
    ;;
  info)
    echo "pelmok-data info against sox stats, 400 MB data file (user CPU):"
    rm -rf "$work/i"
    "$daq" --device-root "$work/i" --start-time 2026-01-01T00:00:00Z >/dev/null 2>&1
    one=$(find "$work/i/Hard Disk/Pelmok/Data" -type f | head -1)
    for _ in $(seq 1000); do cat "$one"; done | head -c 400000000 >"$work/big"
    echo "$data info --rate 100000 '$work/big'" >"$work/a.cmd"
    echo "sox -t raw -e signed -b 32 -r 100000 -c 1 '$work/big' -n stats" >"$work/b.cmd"
    CPU=user pair info sox
    ;;
  *) echo "$0: no measurement named $w" >&2; exit 2 ;;
  esac
done
