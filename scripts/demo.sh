#!/usr/bin/env bash
# Builds the plug-in (no editor, no tests) and renders a short phrase through it with the render host:
#   demo.sh [OUT.wav]   the WAV file to write (tavrin-demo.wav in the repository)
# The build folder is build/demo, or $TAVRIN_BUILD_ROOT/demo; JOBS limits the parallel build jobs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${TAVRIN_BUILD_ROOT:-$root/build}/demo
wav=$(realpath -m "${1:-$root/tavrin-demo.wav}")
"$root/scripts/build.sh" "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIN_EDITOR=OFF -DTAVRIN_TESTS=OFF \
  -DTAVRIN_BENCH=OFF -DTAVRIN_SANITIZE=OFF -DTAVRIN_TSAN=OFF -DTAVRIN_FUZZ=OFF
# The default output gain is -20 dB; at -1 dB the phrase peaks near -6 dBFS.
"$out/tools/tavrin-render" --plugin "$out/Tavrin.clap" --rate 48000 --seconds 6 \
  --notes "0:60:0.8:1.0,0.5:64:0.7:1.0,1:67:0.7:1.5,2.5:72:0.9:2" --params "Output Gain=-1 dB" --out "$wav"
echo "demo: listen to $wav"
