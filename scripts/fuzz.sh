#!/usr/bin/env bash
# The libFuzzer targets of fuzz/, built with clang and AddressSanitizer in build-fuzz/.
#   scripts/fuzz.sh build                       builds every target
#   scripts/fuzz.sh run SECONDS [TARGET...]     fuzzes each target (all by default) for
#                                               SECONDS, three at a time, starting from its
#                                               kept corpus; inputs found and any crash go
#                                               to build-fuzz/fuzz-work/TARGET/
#   scripts/fuzz.sh keep [TARGET...]            merges what a run found into the kept
#                                               corpus, adding only inputs that reach new edges
# A target's kept corpus is tests/data/NAME_corpus/ (NAME: the target without "_fuzz"),
# replayed by the normal test run. A crash file is a finding: make it a test, mend it,
# and add the file to the kept corpus.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$top/build-fuzz
all_targets=(unpack_fuzz host_frame_fuzz workstation_frame_fuzz console_request_fuzz fix_order_fuzz fix_reply_fuzz)

usage() {
    echo "usage: $0 build | run SECONDS [TARGET...] | keep [TARGET...]" >&2
    exit 2
}

corpus_of() {
    echo "$top/tests/data/${1%_fuzz}_corpus"
}

# Only the targets: the rest of a fuzzing build (tests, tools) is not meant to link.
build() {
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$top" -B "$dir" -G Ninja "${launcher[@]}" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DQEL_SANITIZE=address -DQEL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$dir" -j "$(nproc)" --target qel_fuzz_targets
}

run_one() {
    local target=$1 seconds=$2 work=$dir/fuzz-work/$1
    mkdir -p "$work/corpus" "$work/findings"
    # Every refused input logs a line; standard error is closed for speed (-close_fd_mask).
    (cd "$work/findings" &&
        "$dir/fuzz/$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
            -close_fd_mask=2 -print_final_stats=1 "$work/corpus" "$(corpus_of "$target")" \
            >"$work/log.txt" 2>&1) || true
    local runs
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/log.txt" | grep -o '[0-9]*$' || echo "?")
    local crashes
    crashes=$(find "$work/findings" -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' | wc -l)
    echo "$target: $runs executions, $crashes findings (log: $work/log.txt)"
}

case "${1:-}" in
build)
    build
    ;;
run)
    [ $# -ge 2 ] || usage
    seconds=$2
    shift 2
    targets=("$@")
    [ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")
    build
    running=0
    for target in "${targets[@]}"; do
        run_one "$target" "$seconds" &
        running=$((running + 1))
        if [ "$running" -ge 3 ]; then
            wait -n
            running=$((running - 1))
        fi
    done
    wait
    ;;
keep)
    shift
    targets=("$@")
    [ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")
    for target in "${targets[@]}"; do
        work=$dir/fuzz-work/$target
        [ -d "$work/corpus" ] || continue
        # Edges only (no hit counts), so that the kept corpus stays small.
        "$dir/fuzz/$target" -merge=1 -use_counters=0 -close_fd_mask=2 "$(corpus_of "$target")" "$work/corpus" \
            >/dev/null 2>&1
        echo "$target: $(find "$(corpus_of "$target")" -type f | wc -l) kept inputs"
    done
    ;;
*)
    usage
    ;;
esac
