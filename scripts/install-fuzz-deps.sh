#!/usr/bin/env bash
# Installs clang and its sanitizer and fuzzer runtimes for scripts/fuzz.sh.
# Safe to run again: nothing is fetched when both are installed.
set -euo pipefail

packages=(clang libclang-rt-14-dev)
missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if ((${#missing[@]} == 0)); then
  echo "All fuzzing dependencies are installed."
  exit 0
fi

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  sudo_cmd=(sudo)
fi
"${sudo_cmd[@]}" apt-get update
"${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
