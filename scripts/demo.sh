#!/usr/bin/env bash
# Builds the plug-in and renders a short phrase through it with the render host.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${TAVRIN_BUILD_ROOT:-$root/build}/release
"$root/scripts/build.sh" "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIN_TESTS=OFF -DTAVRIN_BENCH=OFF
wav=${1:-$root/tavrin-demo.wav}
"$out/tools/tavrin-render" --plugin "$out/Tavrin.clap" --rate 48000 --seconds 6 \
  --notes "0:60:0.8:1.0,0.5:64:0.7:1.0,1:67:0.7:1.5,2.5:72:0.9:2" --out "$wav"
echo "demo: wrote $wav"
