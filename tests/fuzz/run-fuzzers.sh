#!/usr/bin/env bash
# Runs each fuzzer for a fixed time from the checked-in seeds; any finding fails the run.
set -euo pipefail
build_dir=${1:?usage: run-fuzzers.sh BUILD_DIR [SECONDS]}
seconds=${2:-30}
here=$(cd "$(dirname "$0")" && pwd)

run() {
    local fuzzer=$1 seeds=$2
    local scratch
    scratch=$(mktemp -d)
    echo "Fuzzing with $fuzzer for ${seconds}s"
    (cd "$scratch" && "$build_dir/tests/fuzz/$fuzzer" -max_total_time="$seconds" -print_final_stats=0 \
        "$scratch" "$here/corpus/$seeds" 2>"$scratch.log") || {
        tail -40 "$scratch.log"
        exit 1
    }
    rm -rf "$scratch" "$scratch.log"
}

run FuzzSummaryPlist status_plist
run FuzzManifestMbdb manifest_mbdb
run FuzzEntryRecord entry_record
run FuzzKeybag keybag
run FuzzPreview preview
