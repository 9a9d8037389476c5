#!/usr/bin/env bash
# Installs what Tavrin needs on Debian 12; idempotent; run as root.
#   setup.sh          what the demo needs: compiler, CMake, Ninja, pkg-config, cJSON, the CLAP headers
#   setup.sh --tests  that, plus what the test command needs: Node and npm (the editor document), GoogleTest
#                     and Google Benchmark, lilv (the LV2 host of the peer comparison), clang with its
#                     sanitizer runtimes (fuzz targets), clang-format 14 (the format check), jscpd from npm
#                     into scripts/clones (the clone check), Chromium (the page's smoke test), qtractor (its
#                     plug-in scanner), WebKitGTK, Xvfb, xdotool and ImageMagick (the Linux editor window),
#                     and a de_DE locale
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config libcjson-dev dpf-source)
case "${1:-}" in
  "") ;;
  --tests)
    # Any npm already on the path will do.
    command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)
    packages+=(clang clang-format-14 libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev liblilv-dev
      chromium qtractor libwebkit2gtk-4.1-dev xvfb xauth xdotool x11-utils imagemagick locales)
    ;;
  *)
    echo "usage: setup.sh [--tests]" >&2
    exit 2
    ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
if [ "${1:-}" = --tests ]; then
  # Tests format numbers under a locale with a decimal comma.
  locale -a | grep -qi '^de_DE\.utf-\?8$' || localedef -i de_DE -f UTF-8 de_DE.UTF-8
  # The clone check's jscpd at the version of its package lock, installed once per lock.
  clones=$(cd "$(dirname "$0")" && pwd)/clones
  lock=$(sha256sum "$clones/package-lock.json" | cut -d' ' -f1)
  stamp=$clones/node_modules/.tavrin-npm-ci
  if [ "$(cat "$stamp" 2>/dev/null)" != "$lock" ]; then
    echo "setup: installing jscpd into $clones"
    (cd "$clones" && npm ci --no-audit --no-fund --loglevel=error)
    echo "$lock" >"$stamp"
  fi
fi
echo "setup: all packages present"
