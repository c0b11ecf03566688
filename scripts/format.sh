#!/usr/bin/env bash
# The formatter over our own C++ sources (every tracked *.cpp and *.h; the FIX engine's
# patch series is the engine's code and keeps its own style).
#   scripts/format.sh          rewrites every file that differs from .clang-format
#   scripts/format.sh check    lists the files that differ and fails when there are any
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-fix}
mapfile -t files < <(git ls-files '*.cpp' '*.h' | grep -v '^fix_engine/')
case "$mode" in
    fix) clang-format -i "${files[@]}" ;;
    check)
        differ=0
        for f in "${files[@]}"; do
            if ! clang-format "$f" | cmp -s - "$f"; then
                echo "not formatted: $f"
                differ=$((differ + 1))
            fi
        done
        if [ "$differ" -gt 0 ]; then
            echo "$differ files differ from .clang-format; scripts/format.sh rewrites them" >&2
            exit 1
        fi
        echo "every file is formatted" ;;
    *) echo "usage: $0 [check]" >&2; exit 2 ;;
esac
