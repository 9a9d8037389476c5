#!/usr/bin/env bash
# Looks for copy-paste twins in the C and C++ sources of the program (not the tests, benchmarks or build
# output) with jscpd, which `scripts/setup.sh --tests` installs into scripts/clones/node_modules. Names
# each pair of twins and fails when it finds one; else prints how many files it checked. Runs offline.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jscpd=scripts/clones/node_modules/.bin/jscpd
[ -x "$jscpd" ] || { echo "clones: jscpd not installed (run scripts/setup.sh --tests)" >&2; exit 1; }

# A twin is a run of at least 32 tokens over at least 5 lines found twice. The nearest pairs below that
# are left on purpose: the fill and element accessors of ml::DSPVectorArray and its integer sibling
# ml::DSPVectorArrayInt (31 tokens), and the render host's reader of a state held in memory (30 tokens),
# which keeps the host free of the plug-in's libraries, as any host loading the module is.
min_tokens=32
min_lines=5
# Skipped: include lists, and the misbehaviour-report one-liners that the plug-in class and its host
# proxy both declare as part of their CLAP helper interfaces.
skip='#include [^\n]*,void (host|plugin)Misbehaving\([^\n]*'

if ! report=$("$jscpd" --format c,c-header,cpp,cpp-header --min-tokens "$min_tokens" --min-lines "$min_lines" \
  --ignore '**/node_modules/**,**/build/**' --ignore-pattern "$skip" --reporters console --no-colors --no-tips \
  --fail-on-empty --exit-code 1 foundation engine tuning plugin state editor platform tools 2>&1); then
  echo "$report" >&2
  echo "clones: copy-paste twins found (move the shared code into one helper)" >&2
  exit 1
fi
files=$(echo "$report" | sed -n 's/^│ Total: *│ *\([0-9]*\) .*/\1/p')
echo "clones: ${files:-?} files without copy-paste twins of $min_tokens tokens or more"
