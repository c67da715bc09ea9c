#!/usr/bin/env python3
"""An inlet in a process of its own (another network namespace, or one the
test stops with SIGSTOP): resolves every stream of a run, prints "ready"
once all are connected, collects until they are lost, and saves what came
as an .npz (per stream: data, stamps, labels)."""
import argparse
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import streaming_support as support  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--prefix", required=True, help="source_id prefix of the run's streams")
    parser.add_argument("--out", required=True)
    parser.add_argument("--timeout", type=float, default=60)
    args = parser.parse_args()
    collectors = [support.Collector(info) for info in support.resolve(args.prefix, timeout=30)]
    print("ready", flush=True)
    saved = {}
    for c in collectors:
        c.stop(timeout=args.timeout)
    for c in collectors:
        data, stamps = c.arrays()
        key = c.info.source_id().rsplit("/", 1)[-1]
        saved[f"{key}.stamps"] = stamps
        saved[f"{key}.name"] = np.array(c.name)
        if c.info.type() == "Markers":
            saved[f"{key}.data"] = np.array(data, dtype=str)
        else:
            saved[f"{key}.data"] = data
            saved[f"{key}.labels"] = np.array([label for label, _, _ in support.channel_labels(c.full_info)])
    np.savez(args.out, **saved)
    print("saved", len(collectors), "streams", flush=True)


if __name__ == "__main__":
    main()
