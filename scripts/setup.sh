#!/usr/bin/env bash
# Installs everything Tavrin needs to build and test on Debian 12. Idempotent; run as root.
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcjson-dev dpf-source qtractor chromium
  libwebkit2gtk-4.1-dev xvfb xauth xdotool x11-utils imagemagick locales)
# The editor document is built with Node and npm; any npm already on the path will do.
command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# Tests format numbers under a locale with a decimal comma.
locale -a | grep -qi '^de_DE\.utf-\?8$' || localedef -i de_DE -f UTF-8 de_DE.UTF-8
echo "setup: all packages present"
