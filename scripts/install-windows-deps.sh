#!/usr/bin/env bash
# Installs what the Windows cross build and its tests need: the MinGW-w64
# compilers with the POSIX thread model (std::thread, std::mutex) and Wine
# to run the results. Safe to run again, like install-deps.sh.
set -euo pipefail

packages=(
  g++-mingw-w64-x86-64-posix   # not the meta package: its default thread model lacks std::thread
  gcc-mingw-w64-x86-64-posix
  binutils-mingw-w64-x86-64    # objdump, dlltool
  wine
  wine64
  googletest                   # /usr/src/googletest, built with the cross toolchain
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg -s "$package" >/dev/null 2>&1; then
    missing+=("$package")
  fi
done

if ((${#missing[@]} == 0)); then
  echo "All Windows build dependencies are installed."
  exit 0
fi

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  sudo_cmd=(sudo)
fi
"${sudo_cmd[@]}" apt-get update
"${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
