#!/usr/bin/env bash
# Builds the Python wheel of this checkout (pyproject.toml), installs it into
# a fresh virtual environment with the pinned scripts/requirements-wheel.txt,
# and runs the binding's tests there with nothing in the environment that
# points at a library.
#
#   scripts/wheel-test.sh [work folder]      (default: build/wheel)
#
# The compile takes /tmp/quelto-build.lock, as every build in this tree does.
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
work=$(mkdir -p "${1:-$source/build/wheel}" && cd "${1:-$source/build/wheel}" && pwd)
rm -rf "$work/venv" "$work/dist" "$work/log"
mkdir -p "$work/dist" "$work/log"

/usr/bin/python3 -m venv "$work/venv"
python=$work/venv/bin/python
"$python" -m pip install --quiet --disable-pip-version-check --no-deps -r "$source/scripts/requirements-wheel.txt"
"$python" -m pip check

# Timed inside the lock: the wait for another build is not the wheel's.
CMAKE_BUILD_PARALLEL_LEVEL=2 flock /tmp/quelto-build.lock sh -c '
  start=$(date +%s)
  "$1" -m pip wheel --quiet --disable-pip-version-check --no-build-isolation --no-deps --wheel-dir "$2" "$3"
  echo "wheel built in $(( $(date +%s) - start )) s"' sh "$python" "$work/dist" "$source"
wheel=$(ls "$work"/dist/quelto-*.whl)
echo "$(basename "$wheel"): $(du -k "$wheel" | cut -f1) KiB"
"$python" -m pip install --quiet --disable-pip-version-check --no-deps "$wheel"
"$python" -m pip check

# From another folder, with no variable that could lead to a library.
cd "$work"
"$python" -m mypy --no-incremental --ignore-missing-imports -p quelto   # the installed type hints
env -u QUELTO_BRIDGE_LIBRARY -u LD_LIBRARY_PATH -u PYTHONPATH -u PYTHONHOME \
  QUELTO_BRIDGE_LOG_DIR="$work/log" MPLBACKEND=Agg PYTHONDONTWRITEBYTECODE=1 \
  "$python" "$source/python/tests/run_installed.py"
