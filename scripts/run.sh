#!/usr/bin/env bash
# Builds the gateway and its simulated peers and runs the main job.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/build.sh" "$top/build"
echo "Build complete in $top/build."
