#!/bin/sh
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for a bounded number of
# executions (FUZZ_RUNS, default one million) and at most FUZZ_SECONDS
# (default 1200) each; FUZZ_TARGETS picks some of them. The seed corpus in tests/fuzz/corpus is copied, never
# changed; a crash leaves its input in build-fuzz/crashes and fails the run.
set -eu
cd "$(dirname "$0")/.."
BUILD=${FUZZ_BUILD:-build-fuzz}
RUNS=${FUZZ_RUNS:-1000000}
SECONDS_EACH=${FUZZ_SECONDS:-1200}
TARGETS=${FUZZ_TARGETS:-"store settings oldrecord recordline expiry csv"}

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNLOCK_FUZZ=ON \
      -DCMAKE_CXX_COMPILER=clang++ >/dev/null
mkdir -p "$BUILD"
if ! cmake --build "$BUILD" -j "$(nproc)" >"$BUILD/build.log" 2>&1; then
    cat "$BUILD/build.log"
    exit 1
fi

mkdir -p "$BUILD/crashes"
report="$BUILD/fuzz-report.txt"
: > "$report"
failed=0
for t in $TARGETS; do
    work="$BUILD/corpus/$t"
    mkdir -p "$work"
    cp tests/fuzz/corpus/"$t"/* "$work"/
    log="$BUILD/fuzz_$t.log"
    if "$BUILD/fuzz_$t" -runs="$RUNS" -max_total_time="$SECONDS_EACH" \
          -max_len=4096 -artifact_prefix="$BUILD/crashes/$t-" "$work" >"$log" 2>&1; then
        outcome="no crash"
    else
        outcome="CRASH (see $log and $BUILD/crashes)"
        failed=1
    fi
    runs=$(sed -n 's/^Done \([0-9]*\) runs in \([0-9]*\) second.*/\1 executions in \2 s/p' "$log")
    echo "fuzz_$t: ${runs:-no figure} - $outcome" | tee -a "$report"
done
exit $failed
