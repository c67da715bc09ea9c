#!/usr/bin/env bash
# Installs the Debian packages the build needs. Safe to run again: packages
# already installed are skipped, and nothing is fetched when none is missing.
set -euo pipefail

packages=(
  nlohmann-json3-dev
  libcli11-dev   # quelto-capture: command line
  libedf-dev     # quelto-capture and the simulated device's playback: EDF+/BDF+
  biosig-tools   # tests: save2gdf reads the capture files back independently
  pkg-config           # install test: the consumer built through quelto-bridge.pc
  python3-numpy        # Python binding
  python3-matplotlib   # Python binding: the drawing example
  libbenchmark-dev     # bench/: Google Benchmark
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg -s "$package" >/dev/null 2>&1; then
    missing+=("$package")
  fi
done

if ((${#missing[@]} == 0)); then
  echo "All build dependencies are installed."
  exit 0
fi

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  sudo_cmd=(sudo)
fi
"${sudo_cmd[@]}" apt-get update
"${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
