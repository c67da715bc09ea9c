#!/usr/bin/env python3
"""Median of several runs of scripts/bench.sh: each figure's median, and the
median of the per-run ratios (the pairs measured in the same run).
Usage: bench/median.py run1.txt run2.txt run3.txt"""
import re
import statistics
import sys


def rows(path):
    out = []
    for line in open(path, encoding="utf-8"):
        if not line.startswith("| ") or line.startswith("| figure"):
            continue
        out.append([c.strip() for c in line.strip().strip("|").split("|")])
    return out


def number(text):
    m = re.match(r"^([0-9.]+)", text)
    return float(m.group(1)) if m else None


def fmt(v, like):
    if v is None:
        return like
    suffix = re.sub(r"^[0-9.]+", "", like)
    decimals = len(like.split(".")[1].split(" ")[0].rstrip("x+")) if "." in like.split(" ")[0] else 0
    return f"{v:.{decimals}f}{suffix}"


runs = [rows(p) for p in sys.argv[1:]]
first = runs[0]
print(f"| figure | project | reference | ratio | target | met |")
print("|---|--:|--:|--:|---|---|")
for i, row in enumerate(first):
    cells = [r[i] for r in runs]
    if len(row) < 6 or (not row[1] and not row[2]):
        print(f"| {row[0]} | | | | | |")
        continue
    out = [row[0]]
    for col in (1, 2, 3):
        values = [number(c[col]) for c in cells if number(c[col]) is not None]
        out.append(fmt(statistics.median(values), row[col]) if values else row[col])
    target = row[4]
    met = row[5]
    ratio = number(out[3])
    if target and ratio is not None:
        m = re.match(r"^(<=|>=) (0\.[0-9]+)", target)
        if m:
            bound = float(m.group(2))
            ok = ratio <= bound if m.group(1) == "<=" else ratio >= bound
            met = "yes" if ok else "NO"
    if target and met and any(c[5] != met for c in cells):
        met += f" ({sum(c[5] == 'yes' for c in cells)}/{len(cells)} runs)"
    out += [target, met]
    print("| " + " | ".join(out) + " |")
