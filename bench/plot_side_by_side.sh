#!/usr/bin/env bash
# pelmok-data's pictures and levels side by side with sox and with themselves:
#   plot    one 2 MB record's plot (waveform and spectrogram from every window)
#           against sox's spectrogram of the same samples (exported to WAV),
#           in user + system CPU seconds, median of the rounds' ratios
#   jobs    levels, FLAC export and plot of a folder of 40 records of 100 s with --jobs 2
#           against --jobs 1, in wall seconds (the machine's other load counts too:
#           the load average is printed before and after), each pair's outputs compared
#   bench/plot_side_by_side.sh BUILD-DIR [plot|jobs]...
set -euo pipefail
build=${1:?usage: $0 BUILD-DIR [plot|jobs]...}
shift
which=("$@")
[ ${#which[@]} -eq 0 ] && which=(plot jobs)
data=$build/bin/pelmok-data
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rounds=${ROUNDS:-5}
export TZ=UTC0

# seconds FIELD COMMAND...: wall (FIELD=1) or user+system CPU (FIELD=cpu) seconds of one run.
seconds() {
  local field=$1 TIMEFORMAT='%3R %3U %3S'
  shift
  { time "$@" >/dev/null 2>&1; } 2>"$work/time"
  if [ "$field" = cpu ]; then awk '{ print $2 + $3 }' "$work/time"; else awk '{ print $1 }' "$work/time"; fi
}

# ratio FIELD "A" "B": the median over the rounds of A's seconds over B's, alternating.
ratio() {
  local field=$1 a=$2 b=$3 r=()
  for _ in $(seq $rounds); do
    local ta tb
    ta=$(seconds "$field" bash -c "$a")
    tb=$(seconds "$field" bash -c "$b")
    r+=("$(awk -v a="$ta" -v b="$tb" 'BEGIN { printf "%.3f", a / b }')")
    echo "  $ta s against $tb s" >&2
  done
  printf '%s\n' "${r[@]}" | sort -n | sed -n "$(((rounds + 1) / 2))p"
}

# Noise and a tone as converter codes, a data file named for 2026-10-25 01:30:00.
make_record() {
  python3 -c 'import random, struct, sys
random.seed(1)
n = int(sys.argv[2])
w = bytearray()
for i in range(n):
    c = int(random.gauss(0, 20000) + 300000 * ((i * 3000 // 48000) % 2 * 2 - 1))
    w += struct.pack("<I", c & 0xFFFFFF)
open(sys.argv[1], "wb").write(w)' "$1" "$2"
}

for w in "${which[@]}"; do
  case $w in
    plot)
      mkdir -p "$work/one"
      make_record "$work/one/126-297-1-30-0" 524288
      "$data" export --rate 48000 -o "$work/one.wav" "$work/one/126-297-1-30-0"
      echo "plot: pelmok-data plot against sox spectrogram, CPU seconds, one 2 MB record" >&2
      echo "plot/sox $(ratio cpu "$data plot --rate 48000 --force -o $work/p.png $work/one/126-297-1-30-0" \
        "sox $work/one.wav -n spectrogram -o $work/s.png")"
      ;;
    jobs)
      # 40 records of 100 s (19 MB each, 770 MB in all): long enough that one
      # job's FLAC export and levels last seconds, so the ratio is the tools'
      # and not the machine's noise. Named two minutes apart, so no record
      # overlaps the next.
      mkdir -p "$work/many"
      make_record "$work/r" 480000
      for _ in $(seq 10); do cat "$work/r"; done >"$work/r100"
      for k in $(seq 0 39); do
        m=$((30 + 2 * k))
        cp "$work/r100" "$work/many/126-297-$((1 + m / 60))-$((m % 60))-0"
      done
      rm "$work/r" "$work/r100"
      echo "jobs: --jobs 2 against --jobs 1, wall seconds, 40 records of 100 s at 48 kHz" >&2
      echo "jobs: load average before $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
      echo "levels 2/1 $(ratio 1 "$data levels --rate 48000 --jobs 2 -o $work/l2.csv --force $work/many" \
        "$data levels --rate 48000 --jobs 1 -o $work/l1.csv --force $work/many") (goal at most 0.6)"
      cmp "$work/l1.csv" "$work/l2.csv" >&2
      echo "export 2/1 $(ratio 1 "rm -rf $work/e2 && $data export --format flac --rate 48000 --jobs 2 -o $work/e2/ $work/many" \
        "rm -rf $work/e1 && $data export --format flac --rate 48000 --jobs 1 -o $work/e1/ $work/many") (goal at most 0.6)"
      diff -r "$work/e1" "$work/e2" >&2
      rm -rf "$work/e1" "$work/e2"
      echo "plot 2/1 $(ratio 1 "$data plot --rate 48000 --jobs 2 -o $work/p2.png --force $work/many" \
        "$data plot --rate 48000 --jobs 1 -o $work/p1.png --force $work/many")"
      cmp "$work/p1.png" "$work/p2.png" >&2
      echo "jobs: load average after $(cut -d' ' -f1-3 /proc/loadavg)"
      ;;
    *) echo "$0: unknown pair $w" >&2; exit 2 ;;
  esac
done
