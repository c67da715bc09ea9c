#!/usr/bin/env bash
# Makes the project's own Python environment, .venv, from the pinned
# scripts/requirements-streaming.txt (never touches the system's Python).
# Safe to run again: nothing is fetched when .venv already matches the list.
set -euo pipefail
cd "$(dirname "$0")/.."
requirements=scripts/requirements-streaming.txt
venv=.venv
if [[ -x $venv/bin/python && -f $venv/requirements.txt ]] && cmp -s "$requirements" "$venv/requirements.txt"; then
  echo "The Python environment $venv is up to date."
  exit 0
fi
rm -rf "$venv"
/usr/bin/python3 -m venv "$venv"
"$venv/bin/python" -m pip install --quiet --disable-pip-version-check --no-deps -r "$requirements"
"$venv/bin/python" -m pip check
cp "$requirements" "$venv/requirements.txt"
echo "The Python environment $venv is ready."
