# Helpers shared by the bench scripts (sourced, not run).

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# The median of the ratios of runs made one right after the other: the
# machine's speed drifts over a bench, a pair sees the same machine.
pair_ratio() { paste "$1" "$2" | awk '{ printf "%.4f\n", $1 / $2 }' | median; }

# Milliseconds one command takes, its output thrown away.
time_ms() {
    local start end
    start=$(now_ms)
    "$@" > /dev/null 2>&1
    end=$(now_ms)
    echo $(( end - start ))
}

# alternate RUNS A FILE_A B FILE_B: runs the commands (or functions) A and B
# RUNS times each, appending what each prints to its file. Which goes first
# alternates, so that neither always runs on a warmer machine.
alternate() {
    local runs=$1 a=$2 file_a=$3 b=$4 file_b=$5 i
    : > "$file_a"; : > "$file_b"
    for i in $(seq "$runs"); do
        if (( i % 2 )); then
            "$a" >> "$file_a"; "$b" >> "$file_b"
        else
            "$b" >> "$file_b"; "$a" >> "$file_a"
        fi
    done
}
