#!/usr/bin/env bash
# Runs the fuzz target for a while with its progress in a file: libFuzzer
# writes a line for every new input and doubling, which would bury a CI
# log. Prints the run's summary, and any finding: the fuzzer's report and
# where the input that caused it was saved.
#
#   run_fuzzer.sh FUZZER WORK_FOLDER SECONDS SEED_FOLDER
set -uo pipefail
fuzzer=$1 work=$2 seconds=$3 seeds=$4
mkdir -p "$work/corpus" "$work/artifacts"
progress=$work/progress.log
"$fuzzer" -max_total_time="$seconds" -max_len=20000 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" "$seeds" > "$progress" 2>&1
status=$?
grep -a -E '^Done [0-9]+ runs|^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' \
    "$progress"
echo "corpus: $(ls "$work/corpus" | wc -l) inputs; progress in $progress"
if [ "$status" -ne 0 ]; then
    echo "the fuzzer found a fault (exit $status):"
    sed -n '/^model violated\|^==[0-9]*== *ERROR/,$p' "$progress" | head -n 80
    ls "$work"/artifacts/* 2> /dev/null | sed 's/^/input saved as /'
fi
exit "$status"
