#!/usr/bin/env bash
# Installs the Debian packages a part of the project needs. Safe to run
# again: packages already installed are skipped, and nothing is fetched when
# none is missing.
#
#   scripts/install-deps.sh            the build, the tools, the tests
#   scripts/install-deps.sh fuzz       clang and its fuzzer runtime
#   scripts/install-deps.sh windows    the MinGW-w64 cross build and Wine
set -euo pipefail

group=${1:-build}
case "$group" in
  build)
    packages=(
      cmake g++ libgtest-dev libgmock-dev
      nlohmann-json3-dev
      libcli11-dev         # quelto-capture: command line
      libedf-dev           # quelto-capture and the simulated device's playback: EDF+/BDF+
      biosig-tools         # tests: save2gdf reads the capture files back independently
      python3-mne          # tests: MNE reads the capture files back as the field's analyses do
      python3-scipy        # scripts/signal-figures.py: spectra of the simulated signals
      pkg-config           # install test: the consumer built through quelto-bridge.pc
      python3-numpy        # Python binding
      python3-venv         # scripts/python-env.sh: the project's own environment (.venv) for the streaming tests
      iproute2             # streaming tests: network namespaces joined by veth
      python3-matplotlib   # Python binding: the drawing example
      libbenchmark-dev     # bench/: Google Benchmark
      valgrind             # bench/: instructions per raise (callgrind, --raise-cost)
      mono-runtime libmono-2.0-dev mono-mcs  # the simulated SDK as managed assemblies
      libmono-system-drawing4.0-cil          # its configuration colours (System.Drawing.Color)
      libboost-dev         # quelto-capture --view: the web server (Boost.Beast, Asio)
      nodejs               # with its npm (Node.js 20 or later): the live view's page (uPlot) and browser tests (playwright-core), pinned by package-lock.json
      chromium             # tests: the live view in a real browser
    ) ;;
  fuzz)
    packages=(clang libclang-rt-14-dev) ;;
  windows)
    packages=(
      g++-mingw-w64-x86-64-posix   # not the meta package: its default thread model lacks std::thread
      gcc-mingw-w64-x86-64-posix
      binutils-mingw-w64-x86-64    # objdump, dlltool
      wine
      wine64
      googletest                   # /usr/src/googletest, built with the cross toolchain
    ) ;;
  *)
    echo "usage: $0 [build|fuzz|windows]" >&2
    exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if ((${#missing[@]} == 0)); then
  echo "All $group dependencies are installed."
  exit 0
fi

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  sudo_cmd=(sudo)
fi
"${sudo_cmd[@]}" apt-get update
"${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
