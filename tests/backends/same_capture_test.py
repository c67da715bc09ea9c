#!/usr/bin/env python3
"""quelto-capture on both backends: the same seed gives the same recording.

Runs the tool twice: with the bridge of the native SDK's folder, then with
the copy of the bridge in the managed SDK's folder (LD_LIBRARY_PATH), so the
lookup beside the bridge finds the .NET assemblies. The CSV files of every
sample the listener received, the BDF header but for its start date and time, and
the data records of the BDF file but for the annotation signal (whose time
stamps carry each run's start) must be equal byte for byte.
"""
import argparse
import glob
import os
import subprocess
import sys


def capture(tool, work, name, env):
    os.makedirs(work, exist_ok=True)
    cmd = [tool, "--fast", "--seed", "7", "--duration", "3", "--period", "25", "--sensors", "1-4,30",
           "--output", name + ".bdf", "--csv", name + ".csv", "--summary", name + ".json", "--overwrite"]
    result = subprocess.run(cmd, cwd=work, env=env, capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        raise AssertionError(f"{name}: {cmd} failed ({result.returncode}):\n{result.stdout}\n{result.stderr}")
    with open(os.path.join(work, name + ".bdf"), "rb") as f:
        bdf = f.read()
    csv = []  # one file per rate group: (".emg.csv", its bytes), ...
    for path in sorted(glob.glob(os.path.join(work, name + ".*.csv"))):
        with open(path, "rb") as f:
            csv.append((os.path.basename(path)[len(name):], f.read()))
    return signal_data(bdf), csv, header_without_start(bdf)


def header_without_start(bdf):
    """The header with the start date and time (bytes 168 to 183) left out."""
    header = int(bdf[184:192].decode().strip())
    return bdf[:168] + bdf[184:header]


def signal_data(bdf):
    """The data records without the annotation signal, whose time stamps
    carry each run's own start time."""
    header = int(bdf[184:192].decode().strip())
    ns = int(bdf[252:256].decode().strip())
    labels = [bdf[256 + 16 * i:272 + 16 * i].decode().strip() for i in range(ns)]
    at = 256 + ns * 216
    sizes = [3 * int(bdf[at + 8 * i:at + 8 * i + 8].decode().strip()) for i in range(ns)]
    record = sum(sizes)
    out = bytearray()
    for start in range(header, len(bdf) - record + 1, record):
        offset = start
        for label, size in zip(labels, sizes):
            if not label.endswith("Annotations"):
                out += bdf[offset:offset + size]
            offset += size
    return bytes(out)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--tool", required=True)
    p.add_argument("--managed", required=True, help="folder of the managed SDK and the bridge copy")
    p.add_argument("--work", required=True)
    args = p.parse_args()
    native_env = dict(os.environ)
    native_env.pop("LD_LIBRARY_PATH", None)
    managed_env = dict(os.environ, LD_LIBRARY_PATH=args.managed)
    native = capture(args.tool, args.work, "native", native_env)
    managed = capture(args.tool, args.work, "managed", managed_env)
    csv_bytes = sum(len(data) for _, data in native[1])
    assert csv_bytes > 100000 and len(native[0]) > 100000, (csv_bytes, len(native[0]))
    assert native[1] == managed[1], "the listener's samples differ between the backends"
    assert native[0] == managed[0], "the BDF data records differ between the backends"
    assert native[2] == managed[2], "the BDF headers differ between the backends"
    print(f"same recording from both backends: {len(native[0])} data bytes, {csv_bytes} CSV bytes in {len(native[1])} files")


if __name__ == "__main__":
    sys.exit(main())
