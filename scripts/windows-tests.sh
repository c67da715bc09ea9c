#!/usr/bin/env bash
# Cross-builds the Windows DLLs and test programs with MinGW-w64 and runs the
# tests under Wine, headless, in a fresh Wine prefix of the build's own.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh windows
cmake --preset windows
cmake --build --preset windows -j "$(nproc)"

export WINEDEBUG=-all
export WINEPREFIX="$PWD/build/windows/wineprefix"
# No Mono or Gecko installers, no desktop menu entries, no display.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
# A server left by an interrupted run would outlive its deleted prefix.
if [[ -d $WINEPREFIX ]]; then wineserver -k >/dev/null 2>&1 || true; fi
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"

stop_wine() { wineserver -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT

if ! wineboot -i >"$WINEPREFIX.log" 2>&1; then
  cat "$WINEPREFIX.log" >&2
  exit 1
fi
wineserver -w
# One persistent server for every test, warmed up once: otherwise each test
# program pays for a server start.
wineserver -p
wine cmd /c exit 0

ctest --preset windows -j "$(nproc)"
