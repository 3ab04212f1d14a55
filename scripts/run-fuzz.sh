#!/usr/bin/env bash
# Runs each fuzz target for a given time: run-fuzz.sh BUILD_DIR SECONDS TARGET...
# Each starts from its committed seeds (tests/fuzz/corpus/TARGET, never written to) plus what
# earlier runs found (BUILD_DIR/corpus/TARGET), with tests/fuzz/TARGET.dict when there is one. Any
# finding fails the run; its input is kept in BUILD_DIR/findings.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=$1 seconds=$2
shift 2

# ASan's default quarantine (256 MiB of freed blocks) grows a fuzzer to over 1 GiB and slows it
# threefold on this machine; 32 MiB still catches a use after free within a run.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=32}

mkdir -p "$build_dir/findings"
failed=()
for target in "$@"; do
    mkdir -p "$build_dir/corpus/$target"
    echo "fuzz: $target for ${seconds}s"
    dictionary=()
    [ -f "tests/fuzz/$target.dict" ] && dictionary=(-dict="tests/fuzz/$target.dict")
    # libFuzzer's timeout is wall-clock time: on a shared machine a starved run can stall for
    # seconds on an input that takes milliseconds, so only a true hang may count.
    if ! "$build_dir/bin/$target" "${dictionary[@]}" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build_dir/findings/$target-" \
        "$build_dir/corpus/$target" "tests/fuzz/corpus/$target" >"$build_dir/$target.log" 2>&1; then
        failed+=("$target")
        echo "fuzz: $target FOUND A FAULT; its log follows (input in $build_dir/findings)" >&2
        tail -n 40 "$build_dir/$target.log" >&2
        continue
    fi
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$build_dir/$target.log" | sed "s/^/fuzz: $target /"
done
[ ${#failed[@]} -eq 0 ] || { echo "fuzz: findings in ${failed[*]}" >&2; exit 1; }
