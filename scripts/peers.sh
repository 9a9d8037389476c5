#!/usr/bin/env bash
# Measures Tavrin beside the LV2 synthesizers of the README's Performance section: installs them with lilv
# (Debian 12, as root) when missing, builds tavrin-peers, and prints the machine, the commit, the peers'
# package versions and the table.
#   peers.sh [tavrin-peers options]    BUILD=DIR picks the build folder (build/release)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build/release}
packages=(liblilv-dev synthv1-lv2 padthv1-lv2 zynaddsubfx-lv2)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "peers: missing ${missing[*]}; install them as root (apt-get install ${missing[*]})" >&2
    exit 1
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target tavrin-peers >/dev/null
echo "Machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores, Linux $(uname -r), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Tavrin: $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown commit), $(sed -n 's/^CMAKE_BUILD_TYPE:[^=]*=//p' "$build/CMakeCache.txt") build"
echo "Peers: $(dpkg-query -W -f='${Package} ${Version}, ' "${packages[@]:1}" | sed 's/, $//')"
echo
# The peers talk on the error stream; only the host's own messages are passed on.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$build/bench/tavrin-peers" "$@" 2>"$log" || { cat "$log" >&2; exit 1; }
grep '^tavrin-peers:' "$log" >&2 || true
