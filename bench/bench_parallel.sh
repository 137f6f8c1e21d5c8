#!/bin/bash
# Two conversions at once against one after the other, through movenna-batch
# with the MPEG-4 video profile (700): --jobs 2 against --jobs 1 on the same
# two 30 s clips. A ratio near 0.5 means the second core is fully used; ffmpeg
# already spreads one conversion over both cores, so expect less.
# usage: bench/bench_parallel.sh [bin folder] [runs]
set -euo pipefail
. "$(dirname "$0")/lib.sh"

BIN=${1:-$(dirname "$0")/../build/bin}
RUNS=${2:-5}
BATCH="$BIN/movenna-batch"
[ -x "$BATCH" ] || { echo "no movenna-batch in $BIN" >&2; exit 1; }

WORK=$(mktemp -d /tmp/movenna-bench-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/src" "$WORK/data"

echo "making two 30 s 640x480 h264 + aac clips..."
for name in a b; do
    ffmpeg -hide_banner -loglevel error -y \
        -f lavfi -i testsrc=size=640x480:rate=25:duration=30 \
        -f lavfi -i sine=frequency=440:sample_rate=44100:duration=30 \
        -ac 2 -c:v libx264 -preset veryfast -b:v 1500k -c:a aac -b:a 128k -shortest \
        "$WORK/src/$name.mp4"
done

# Both clips with N conversions at once.
run_ms() {
    rm -rf "$WORK/out"
    time_ms "$BATCH" --data-dir "$WORK/data" --profile 700 --jobs "$1" --dest "$WORK/out" \
        "$WORK/src/a.mp4" "$WORK/src/b.mp4"
}

one_by_one() { run_ms 1; }
two_at_once() { run_ms 2; }
alternate "$RUNS" one_by_one "$WORK/one" two_at_once "$WORK/two"
ONE=$(median < "$WORK/one")
TWO=$(median < "$WORK/two")
RATIO=$(pair_ratio "$WORK/two" "$WORK/one")
echo "two clips, median of $RUNS: one after the other $ONE ms, two at once $TWO ms," \
     "median ratio of pairs $RATIO (on $(nproc) cores)"
echo "  runs (ms), --jobs 1: $(tr '\n' ' ' < "$WORK/one")"
echo "  runs (ms), --jobs 2: $(tr '\n' ' ' < "$WORK/two")"
