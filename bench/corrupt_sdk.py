#!/usr/bin/env python3
"""What a damaged SDK assembly does to the host: copies the managed simulated
SDK's folder (bridge, helper, assemblies, shim), changes 1 to 16 random bytes
of one assembly, and runs a short capture from the copy with quelto-capture.
Counts each outcome: captured, failed with the runtime's exception (exit
code 1, the process lived), ended by a signal, or hung.

    bench/corrupt_sdk.py --tool build/default/bin/quelto-capture \\
        --managed build/default/managed --assembly Quelto.dll --trials 120 --seed 1
"""
import argparse
import collections
import os
import random
import shutil
import signal
import subprocess
import tempfile


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--managed", required=True, help="the managed simulated SDK's folder")
    parser.add_argument("--assembly", default="Quelto.dll")
    parser.add_argument("--trials", type=int, default=120)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--limit", type=float, default=60, help="seconds before a run counts as hung")
    args = parser.parse_args()
    rng = random.Random(args.seed)
    outcomes = collections.Counter()
    first = {}
    for _ in range(args.trials):
        folder = tempfile.mkdtemp(prefix="quelto-corrupt-")
        try:
            for name in os.listdir(args.managed):
                path = os.path.join(args.managed, name)
                if os.path.isfile(path):
                    shutil.copy(path, folder)
            target = os.path.join(folder, args.assembly)
            data = bytearray(open(target, "rb").read())
            for _ in range(rng.randint(1, 16)):
                data[rng.randrange(len(data))] = rng.randrange(256)
            open(target, "wb").write(data)
            env = dict(os.environ, LD_LIBRARY_PATH=folder, QUELTO_BRIDGE_LOG_DIR=folder)
            command = [args.tool, "--fast", "--duration", "0.5", "--output", os.path.join(folder, "out.bdf")]
            try:
                run = subprocess.run(command, capture_output=True, timeout=args.limit, env=env, text=True,
                                     errors="replace")
                if run.returncode == 0:
                    kind = "captured"
                elif run.returncode < 0:
                    kind = "ended by " + signal.Signals(-run.returncode).name
                else:
                    kind = f"failed (exit code {run.returncode})"
                text = run.stdout + run.stderr
            except subprocess.TimeoutExpired:
                kind, text = "hung", ""
            outcomes[kind] += 1
            first.setdefault(kind, text.strip().splitlines()[:1])
        finally:
            shutil.rmtree(folder, ignore_errors=True)
    print(f"{args.assembly}, {args.trials} corruptions (seed {args.seed}):")
    for kind, count in outcomes.most_common():
        print(f"  {count:4d}  {kind}  {first[kind][0] if first[kind] else ''}")


if __name__ == "__main__":
    main()
