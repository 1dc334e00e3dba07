#!/usr/bin/env bash
# Installs the peers the end-to-end benchmarks compare with (Debian
# packages) and builds the default preset. Run as root or through sudo; a
# peer that cannot be installed is skipped by the benchmarks with a note.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh deps
sudo=()
if ((EUID != 0)); then
  sudo=(sudo)
fi
for package in streamripper curl; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "$package" >/dev/null ||
      echo "bench/setup.sh: could not install $package; the benchmarks skip it" >&2
  fi
done
if [[ ! -f build/default/build.ninja ]]; then
  cmake --preset default >/dev/null
fi
cmake --build --preset default -- --quiet
