#!/usr/bin/env bash
# Runs the benchmarks from a build of the tree before a change and from a build after it,
# alternately and for several rounds, so that both sides meet the same machine in the same
# minutes (it is shared: a figure means something only beside the other side's figure of
# the same round). Every output is kept in <after>/bench_results/before_after/, named
# <benchmark>.<before|after>.<round>.txt, with the load average at its start.
#
# The "before" build must have the same benchmark sources (copy bench/ into the old tree
# and build it there), so that both sides are measured the same way.
#
#   bench/before_after.sh <before build dir> [after build dir] [rounds] [benchmarks...]
set -euo pipefail
before=${1:?usage: $0 <before build dir> [after build dir] [rounds] [benchmarks...]}
top=$(cd "$(dirname "$0")/.." && pwd)
after=${2:-$top/build}
rounds=${3:-3}
shift $(( $# < 3 ? $# : 3 ))
benchmarks=("$@")
if [ ${#benchmarks[@]} -eq 0 ]; then
    benchmarks=(platform_wait_bench shared_queue_bench main_road_bench fix_order_bench)
fi
out=$after/bench_results/before_after
mkdir -p "$out"
export TZ=Asia/Kolkata

run_one() {
    local side=$1 dir=$2 bench=$3 round=$4
    local file=$out/$bench.$side.$round.txt
    echo "load average $(cut -d' ' -f1-3 /proc/loadavg) at $(date +%T)" > "$file"
    case $bench in
        main_road_bench|fix_order_bench|main_road_soak_bench)
            "$dir/bench/$bench" "$out/$bench.$side.$round.report.txt" >> "$file" 2>&1 || true ;;
        *)
            "$dir/bench/$bench" >> "$file" 2>&1 || true ;;
    esac
    echo "$bench $side round $round: $file"
}

for round in $(seq 1 "$rounds"); do
    for bench in "${benchmarks[@]}"; do
        # The side that goes first changes every round.
        if [ $((round % 2)) -eq 1 ]; then
            run_one before "$before" "$bench" "$round"
            run_one after "$after" "$bench" "$round"
        else
            run_one after "$after" "$bench" "$round"
            run_one before "$before" "$bench" "$round"
        fi
    done
done
