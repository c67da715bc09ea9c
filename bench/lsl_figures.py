#!/usr/bin/env python3
"""The capture tool's cost and latency with and without LSL, in one run.

For a capture of the simulated device (100 ms blocks): without --lsl, and
with --lsl and 0, 1 or 2 inlets of every stream (threads of this process),
it prints the time the bridge's worker spends in the tool's listeners per
block, arrival -> listener, the stamp of a block's last sample -> its pull
by an inlet (p50, p99; on the 1-channel sync stream), the tool's CPU, and
how much later than its last stamp a block arrived (the stamps' accuracy);
then blocks/s in fast mode with one inlet.

  .venv/bin/python bench/lsl_figures.py [--duration 20] [--tool PATH]

Needs the project's .venv (scripts/python-env.sh): its pylsl carries liblsl.
"""
import argparse
import glob
import os
import subprocess
import sys
import tempfile
import time

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "streaming"))
import streaming_support as support  # noqa: E402
from tool_runs import finish  # noqa: E402


def run(tool, work, name, duration, inlets, lsl, fast=False, env=None):
    prefix = f"quelto-bench/{os.getpid()}/{name}"
    summary = os.path.join(work, name + ".json")
    cmd = [tool, "-d", str(duration), "-o", os.path.join(work, name + ".bdf"), "--overwrite", "--summary", summary,
           "-q", "--seed", "3"]
    if lsl:
        cmd += ["--lsl", "--lsl-source-id", prefix, "--no-markers"]
        if inlets:
            cmd += ["--lsl-wait", "30"]
    if fast:
        cmd.append("--fast")
    started = time.monotonic()
    proc = subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True)
    collectors = []
    for _ in range(inlets):
        collectors += [support.Collector(i) for i in support.resolve(prefix)]
    s, cpu, wall = finish(proc, name, summary, started)
    for c in collectors:
        c.stop(timeout=60)
    latency = []
    for c in collectors:
        # The sync stream: one channel at 2 kHz, so that the inlet's own
        # conversion of samples into Python lists hardly counts.
        if c.info.type() != "Sync":
            continue
        stamps, pulled = np.array(c.stamps), np.array(c.pulled)
        # The last sample of each 100 ms block, after the first second (the
        # streams hold their first half second until the clock has settled).
        last = np.arange(199 + 2000, len(stamps), 200)
        latency.append((pulled[last] - stamps[last]) * 1e3)
    latency = np.concatenate(latency) if latency else np.array([])
    return {
        "name": name,
        "listeners_p50": s["worker"]["listeners_us_p50"],
        "listeners_p99": s["worker"]["listeners_us_p99"],
        "arrival_p50": s["worker"]["arrival_to_listener_us_p50"],
        "arrival_p99": s["worker"]["arrival_to_listener_us_p99"],
        "inlet_p50": float(np.percentile(latency, 50)) if latency.size else None,
        "inlet_p99": float(np.percentile(latency, 99)) if latency.size else None,
        "cpu": cpu,
        "blocks": s["blocks_received"],
        "wall": wall,
        "elapsed": s["capture_elapsed_s"],
        "dropped": s.get("lsl", {}).get("blocks_dropped"),
        "late": s.get("lsl", {}).get("arrival_after_last_stamp_ms"),
    }


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--duration", type=float, default=20)
    parser.add_argument("--fast-duration", type=float, default=120)
    parser.add_argument("--tool", default=os.path.join(ROOT, "build", "default", "bin", "quelto-capture"))
    args = parser.parse_args()
    liblsl = glob.glob(os.path.join(os.path.dirname(support.pylsl.__file__), "lib", "liblsl.so.2"))[0]
    with tempfile.TemporaryDirectory() as work:
        config = support.lsl_config(os.path.join(work, "lsl_api.cfg"))
        os.environ["LSLAPICFG"] = config
        env = support.tool_env(liblsl, config)
        rows = [run(args.tool, work, "file only", args.duration, 0, False, env=env)]
        for n in (0, 1, 2):
            rows.append(run(args.tool, work, f"--lsl, {n} inlet{'s' if n != 1 else ''}", args.duration, n, True,
                            env=env))
        fast = run(args.tool, work, "fast, 1 inlet", args.fast_duration, 1, True, fast=True, env=env)
    print(f"quelto-capture, 100 ms blocks, {args.duration:.0f} s each (microseconds unless said)")
    print(f"{'':18} {'listeners p50':>13} {'p99':>7} {'arrival->listener p50':>22} {'p99':>7} "
          f"{'sample->inlet ms p50':>21} {'p99':>6} {'CPU %':>6} {'arrival-stamp ms p50':>21} {'p99':>6}")
    for r in rows:
        inlet = (f"{r['inlet_p50']:21.2f} {r['inlet_p99']:6.2f}" if r["inlet_p50"] is not None
                 else f"{'-':>21} {'-':>6}")
        print(f"{r['name']:18} {r['listeners_p50']:13.1f} {r['listeners_p99']:7.1f} {r['arrival_p50']:22.1f} "
              f"{r['arrival_p99']:7.1f} {inlet} {r['cpu']:6.1f} " +
              (f"{r['late']['p50']:21.2f} {r['late']['p99']:6.2f}" if r["late"] else f"{'-':>21} {'-':>6}"))
    print(f"fast mode, 1 inlet: {fast['blocks'] / fast['elapsed']:.0f} blocks/s "
          f"({fast['blocks']} blocks in {fast['elapsed']:.2f} s), {fast['dropped']} dropped for LSL, "
          f"CPU {fast['cpu']:.0f} %")


if __name__ == "__main__":
    main()
