#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer) in
# build-fuzz/ and runs each for a while from its kept corpus; inputs that reach new code
# are merged into the kept corpus (tests/data/<target>_corpus/, replayed by the normal
# tests). A failing input is left as build-fuzz/findings/<target>/crash-* (make it a
# test, then mend).
#   scripts/fuzz.sh [seconds per target, default 600] [target...]
# Targets: unpack host_frame workstation_frame console_request fix_order fix_reply fix_stream
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(unpack host_frame workstation_frame console_request fix_order fix_reply fix_stream)
dir=$top/build-fuzz
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$top" -B "$dir" -G Ninja "${launcher[@]}" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DQEL_FUZZ=ON -DQEL_SANITIZE=address >/dev/null
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]/%/_fuzz}"
export TZ=Asia/Kolkata
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
for target in "${targets[@]}"; do
    kept=$top/tests/data/${target}_corpus
    work=$dir/corpus/$target
    findings=$dir/findings/$target
    mkdir -p "$kept" "$work" "$findings"
    echo "== $target: $seconds s"
    status=0
    # Refused input logs to standard error, which is closed for the target; libFuzzer keeps
    # its own report (and a finding's) on a copy of it, in the log file.
    "$dir/fuzz/${target}_fuzz" "$work" "$kept" -max_total_time="$seconds" -close_fd_mask=2 \
        -artifact_prefix="$findings/" -print_final_stats=1 > "$dir/${target}_fuzz.log" 2>&1 || status=$?
    grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb|^Done" "$dir/${target}_fuzz.log" || true
    if [ $status -ne 0 ]; then
        echo "$target: finding (exit $status), see $dir/${target}_fuzz.log and $findings/"
        continue
    fi
    # Only inputs that reach code the kept ones do not are added; the hand-written ones stay.
    "$dir/fuzz/${target}_fuzz" -merge=1 "$kept" "$work" -close_fd_mask=2 > "$dir/${target}_merge.log" 2>&1
    echo "$target: kept corpus now $(ls "$kept" | wc -l) inputs"
done
