#!/usr/bin/env python3
"""The C example's EMG level: the RMS about each block's mean. At rest it is
the amplifier's noise floor (a few uV), not the electrodes' DC offset, and
it rises in the bursts of a stride."""
import re
import subprocess
import sys

LINE = re.compile(r"EMG1 rms +([0-9.]+) uV \(offset +([-+0-9.]+) uV, (\d+) samples\)")


def main(example):
    out = subprocess.run([example], capture_output=True, text=True, timeout=60, check=True).stdout
    levels = [(float(m.group(1)), float(m.group(2))) for m in LINE.finditer(out)]
    assert len(levels) >= 10, out
    rms = sorted(level for level, _ in levels)
    offsets = [offset for _, offset in levels]
    # The simulated sensor 1 of the default seed sits 55 uV off zero.
    assert all(abs(o - offsets[0]) < 10 for o in offsets) and abs(offsets[0]) > 20, offsets
    assert rms[0] < 10, f"quietest block {rms[0]} uV: the offset is in the level"
    assert rms[-1] > 3 * rms[0], rms
    print(f"EMG1: {len(levels)} blocks, level {rms[0]:.1f} to {rms[-1]:.1f} uV, offset {offsets[0]:+.1f} uV")


if __name__ == "__main__":
    main(sys.argv[1])
