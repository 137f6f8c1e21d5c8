#!/bin/bash
# movenna-convert against the stock tools on the same 60 s clip:
#  1. probe: movenna-convert (libavformat in-process) vs ffprobe, goal <= 0.65
#  2. conversion: movenna-convert vs ffmpeg run directly with the very options
#     movenna-convert hands it (--dry-run prints them), goal <= 1.03
#  3. the same conversion through movenna-batch (probe, scheduler, converter)
#     vs ffmpeg run directly, goal <= 1.03
# Runs alternate between the two sides; the medians are compared.
# usage: bench/bench_probe.sh [bin folder] [probe runs] [conversion runs]
set -euo pipefail
. "$(dirname "$0")/lib.sh"

BIN=${1:-$(dirname "$0")/../build/bin}
PROBE_RUNS=${2:-21}
CONVERT_RUNS=${3:-9}
CONVERT="$BIN/movenna-convert"
[ -x "$CONVERT" ] || { echo "no movenna-convert in $BIN" >&2; exit 1; }

WORK=$(mktemp -d /tmp/movenna-bench-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
SRC="$WORK/source clip.mp4"

echo "making a 60 s 640x480 h264 + aac clip..."
ffmpeg -hide_banner -loglevel error -y \
    -f lavfi -i testsrc=size=640x480:rate=25:duration=60 \
    -f lavfi -i sine=frequency=440:sample_rate=44100:duration=60 \
    -ac 2 -c:v libx264 -preset veryfast -b:v 1500k -c:a aac -b:a 128k -shortest "$SRC"

probe_ours() { time_ms "$CONVERT" -y -brmap 000000000000 -brind 0 -i "$SRC"; }
probe_ffprobe() { time_ms ffprobe -v error -show_entries format=duration -of csv=p=0 "$SRC"; }
alternate "$PROBE_RUNS" probe_ours "$WORK/probe_ours" probe_ffprobe "$WORK/probe_ffprobe"
OURS=$(median < "$WORK/probe_ours")
THEIRS=$(median < "$WORK/probe_ffprobe")
echo "probe, median of $PROBE_RUNS: movenna-convert $OURS ms, ffprobe $THEIRS ms," \
     "ratio $(awk -v a="$OURS" -v b="$THEIRS" 'BEGIN { printf "%.2f", a / b }') (goal <= 0.65)"

# Profile 500 (Zune 320x240 high quality), the line the program builds.
LINE=(-y -i "$SRC" -vcodec mpeg4 -acodec libfaac -s 320x240 -r 20000/1001 -b 1500kb
      -ab 128.0kb -ac 2 -ar 44100 -vol 256)
eval "DIRECT=($("$CONVERT" --dry-run "${LINE[@]}" "$WORK/direct.mp4"))"
echo "ffmpeg directly: ${DIRECT[*]}"

conv_ours() { time_ms "$CONVERT" "${LINE[@]}" "$WORK/ours.mp4"; }
conv_direct() { time_ms "${DIRECT[@]}"; }
alternate "$CONVERT_RUNS" conv_ours "$WORK/conv_ours" conv_direct "$WORK/conv_direct"
OURS=$(median < "$WORK/conv_ours")
THEIRS=$(median < "$WORK/conv_direct")
echo "conversion, median of $CONVERT_RUNS: movenna-convert $OURS ms, ffmpeg $THEIRS ms," \
     "median ratio of pairs $(pair_ratio "$WORK/conv_ours" "$WORK/conv_direct") (goal <= 1.03)"
echo "  runs (ms), movenna-convert: $(tr '\n' ' ' < "$WORK/conv_ours")"
echo "  runs (ms), ffmpeg:          $(tr '\n' ' ' < "$WORK/conv_direct")"

BATCH="$BIN/movenna-batch"
[ -x "$BATCH" ] || { echo "no movenna-batch in $BIN: batch part skipped"; exit 0; }
# Its own empty data folder: the defaults of profile 500 give the line above.
mkdir -p "$WORK/data" "$WORK/out"
batch() {
    rm -f "$WORK"/out/*
    time_ms "$BATCH" --data-dir "$WORK/data" --profile 500 --dest "$WORK/out" "$SRC"
}
alternate "$CONVERT_RUNS" batch "$WORK/batch" conv_direct "$WORK/batch_direct"
OURS=$(median < "$WORK/batch")
THEIRS=$(median < "$WORK/batch_direct")
echo "movenna-batch, median of $CONVERT_RUNS: $OURS ms, ffmpeg $THEIRS ms," \
     "median ratio of pairs $(pair_ratio "$WORK/batch" "$WORK/batch_direct") (goal <= 1.03)"
echo "  runs (ms), movenna-batch: $(tr '\n' ' ' < "$WORK/batch")"
echo "  runs (ms), ffmpeg:        $(tr '\n' ' ' < "$WORK/batch_direct")"
