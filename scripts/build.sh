#!/usr/bin/env bash
# Configures and builds one flavour of the project: build.sh DIR [cmake options...]
# JOBS limits the parallel build jobs (all cores by default).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
cmake --build "$dir" -j"${JOBS:-$(nproc)}"
