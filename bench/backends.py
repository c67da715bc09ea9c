#!/usr/bin/env python3
"""The backends side by side, in one run: runs the native and the managed
backend's bench programs in turn (ROUNDS times each, alternating, so both see
the same machine) and prints each figure's median over the rounds.
Usage: bench/backends.py NATIVE_PROGRAM MANAGED_PROGRAM [--quick] [--rounds N]"""
import argparse
import re
import statistics
import subprocess


def run(program, quick):
    out = subprocess.run([program] + (["--quick"] if quick else []), check=True, capture_output=True,
                         text=True).stdout
    rows = {}
    for line in out.splitlines():
        cells = line.split("|")
        if len(cells) == 4:
            rows[cells[0]] = cells[1:]
    return rows


def median(cells):
    """The median of cells such as "12.5 us" (empty cells stay empty)."""
    values = [re.match(r"^(-?[0-9.]+)\s*(.*)$", c) for c in cells if c]
    if not values or None in values:
        return cells[0] if cells else ""
    unit = values[0].group(2)
    v = statistics.median(float(m.group(1)) for m in values)
    return f"{v:.3f} {unit}" if abs(v) < 10 and "ms" in unit else f"{v:.1f} {unit}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("native")
    parser.add_argument("managed")
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--rounds", type=int, default=None)
    args = parser.parse_args()
    rounds = args.rounds or (1 if args.quick else 3)
    runs = {"native": [], "managed": []}
    for _ in range(rounds):
        runs["native"].append(run(args.native, args.quick))
        runs["managed"].append(run(args.managed, args.quick))
    names = list(runs["managed"][0])
    names += [n for n in runs["native"][0] if n not in names]
    print(f"backends, median of {rounds} alternating run(s) each")
    print("| figure | native p50 | native p99 | native | managed p50 | managed p99 | managed |")
    print("|---|--:|--:|--:|--:|--:|--:|")
    for name in names:
        cells = []
        for backend in ("native", "managed"):
            for i in range(3):
                column = [r[name][i] for r in runs[backend] if name in r]
                cells.append(median(column) if column else "n/a")
        print(f"| {name} | " + " | ".join(cells) + " |")


if __name__ == "__main__":
    main()
