#!/usr/bin/env python3
"""quelto-capture end to end.

Captures with the tool (simulated device), converts the file with BioSig's
save2gdf to BioSig ASCII (one text file per channel plus a header) and
compares what BioSig reads with what the tool's listener received (the tool's
CSV holds every sample it wrote, before quantisation) and with its JSON
summary: channel count, labels, units, rates, duration, samples within the
format's resolution, annotations.
"""
import argparse
import csv
import json
import os
import shutil
import signal
import subprocess
import sys
import time


# BioSig reports units through its table of unit codes: microtesla as the
# equivalent uWb m-2, and "?" for degrees per second and dimensionless
# channels, which its table lacks.
BIOSIG_UNIT = {"uT": "uWb m-2", "deg/s": "?", "": "?"}


def run(cmd, **kw):
    result = subprocess.run(cmd, capture_output=True, text=True, **kw)
    if result.returncode != 0:
        raise AssertionError(f"{cmd} failed ({result.returncode}):\n{result.stdout}\n{result.stderr}")
    return result


def read_biosig(save2gdf, path, work):
    """Channels as BioSig reads them: label -> dict(unit, rate, min, max, dmin, dmax, samples[])."""
    base = os.path.join(work, os.path.basename(path) + ".ascii")
    run([save2gdf, "-f=ASCII", path, base])
    channels, current = {}, None
    with open(base) as header:
        for line in header:
            line = line.split("#", 1)[0].strip()
            if line.startswith("[Header 2]"):
                current = {}
            elif current is not None and "=" in line:
                key, value = (x.strip() for x in line.split("=", 1))
                current[key] = value
                if key == "NumberOfSamples":
                    channels[current["Label"]] = current
                    current = {}
    result = {}
    for label, c in channels.items():
        with open(os.path.join(work, c["Filename"])) as data:
            samples = [float(x) for x in data.read().split()]
        result[label] = dict(unit=c.get("PhysicalUnits", ""), rate=float(c["SamplingRate"]),
                             pmin=float(c["PhysMin"]), pmax=float(c["PhysMax"]),
                             dmin=float(c["DigMin"]), dmax=float(c["DigMax"]),
                             count=int(c["NumberOfSamples"]), samples=samples)
    text = run([save2gdf, "-JSON", path]).stdout
    events = json.loads(text[text.index("{"):]).get("EVENT", [])
    return result, events


def read_csv(path):
    out = {}
    with open(path) as f:
        for row in csv.DictReader(f):
            out.setdefault(row["channel"], []).append(float(row["value"]))
    return out


def check_file(args, stem, summary, listener, kind):
    """Compares BioSig's reading of `stem` with the summary and the listener's samples."""
    channels, events = read_biosig(args.save2gdf, stem, args.work)
    names = [c["label"] for c in summary["channels"]]
    assert list(channels) == names, f"labels differ:\n{list(channels)[:8]}...\n{names[:8]}..."
    assert len(channels) == len(summary["channels"])
    digital = {"bdf": 2**24 - 1, "edf": 2**16 - 1}[kind]
    worst = 0.0
    for c in summary["channels"]:
        got = channels[c["label"]]
        assert got["unit"] == BIOSIG_UNIT.get(c["unit"], c["unit"]), (c["label"], got["unit"], c["unit"])
        assert abs(got["rate"] - c["rate_hz"]) < 1e-6, (c["label"], got["rate"], c["rate_hz"])
        assert got["dmax"] - got["dmin"] == digital, (c["label"], got["dmin"], got["dmax"])
        duration = got["count"] / got["rate"]
        assert abs(duration - summary["duration_s"]) < 1e-9, (c["label"], duration, summary["duration_s"])
        sent = listener[c["label"]]
        assert len(sent) == len(got["samples"]) == c["samples"], (c["label"], len(sent), len(got["samples"]))
        resolution = (got["pmax"] - got["pmin"]) / (got["dmax"] - got["dmin"])
        for a, b in zip(sent, got["samples"]):
            # One quantisation step, plus the 6 digits BioSig prints.
            error = abs(a - b)
            worst = max(worst, error / resolution)
            assert error <= resolution + 6e-6 * abs(b) + 1e-9, (c["label"], a, b, resolution)
    return channels, events, worst


def edf_start(path):
    """Start of an EDF+/BDF+ file: (the header's local date and time in
    seconds since 1970, the fraction of a second in the first record's time
    stamp)."""
    with open(path, "rb") as f:
        header = f.read(256)
        ns = int(header[252:256])
        signals = f.read(ns * 256)
        data = f.read(1 << 20)
    date, clock = header[168:176].decode(), header[176:184].decode()
    day, month, year = (int(x) for x in date.split("."))
    hour, minute, second = (int(x) for x in clock.split("."))
    year += 1900 if year >= 85 else 2000
    whole = time.mktime((year, month, day, hour, minute, second, 0, 0, -1))
    labels = [signals[16 * i:16 * i + 16].decode().strip() for i in range(ns)]
    base = ns * (16 + 80 + 8 + 8 + 8 + 8 + 8 + 80)
    counts = [int(signals[base + 8 * i:base + 8 * i + 8]) for i in range(ns)]
    width = 3 if header[0:1] == b"\xff" else 2
    at = 0
    for label, count in zip(labels, counts):
        if label.endswith("Annotations"):
            tal = data[at:at + count * width]
            return whole, float(tal[:tal.index(b"\x14")].decode())
        at += count * width
    raise AssertionError("no annotation signal")


def tool(args, *extra):
    return run([args.tool, *extra], cwd=args.work)


def case_capture(args):
    # Six seconds in fast mode cover the remote-control marker at 5 s; 25 ms
    # blocks split the 100 Hz streams unevenly.
    tool(args, "--fast", "--seed", "5", "--duration", "6", "--period", "25", "--sensors", "1-3,36",
         "--output", "cap.bdf", "--csv", "cap.csv", "--summary", "cap.json", "--start-trigger")
    summary = json.load(open(os.path.join(args.work, "cap.json")))
    listener = read_csv(os.path.join(args.work, "cap.csv"))
    assert summary["duration_s"] == 6.0 and summary["records"] == 60
    assert summary["blocks_received"] >= 240
    channels, events, worst = check_file(args, os.path.join(args.work, "cap.bdf"), summary, listener, "bdf")
    # 4 sensors x (EMG + 13 inertial), sync, 2 x (1 + 4) foot switch, 2 x 26 insole, 32 analog.
    assert len(channels) == 4 * 14 + 1 + 10 + 52 + 32, len(channels)
    rates = {label: c["rate"] for label, c in channels.items()}
    assert rates["EMG36"] == 2000 and rates["ACC01X"] == 100 and rates["FSW1H"] == 500
    assert rates["INS2PA"] == 100 and rates["AN32"] == 2000 and rates["SYNC"] == 2000
    assert "EMG04" not in channels
    assert channels["EMG01"]["unit"] == "uV" and channels["ACC02Z"]["unit"] == "g" and channels["AN01"]["unit"] == "V"
    # BioSig gives event positions from the header's whole second; the file
    # starts a fraction later (its first record's time stamp).
    _, fraction = edf_start(os.path.join(args.work, "cap.bdf"))
    texts = [(e["Description"], round(float(e["POS"]) - fraction, 3)) for e in events]
    # In fast mode the trigger lands in whichever block follows the call.
    expected = [(a["text"], round(a["onset_s"], 3)) for a in summary["annotations"]]
    assert sorted(texts) == sorted(expected), (texts, expected)
    assert ("Marker", 5.0) in texts and [t for t, _ in texts].count("StartTrigger") == 1, texts
    print(f"capture: {len(channels)} channels, 6.0 s, worst error {worst:.2f} steps, events {texts}")


def case_edf(args):
    # Real time, 16-bit EDF+, one sensor.
    tool(args, "--duration", "1.2", "--period", "50", "--sensors", "7", "--format", "edf",
         "--output", "cap.edf", "--csv", "cap.csv", "--summary", "cap.json")
    summary = json.load(open(os.path.join(args.work, "cap.json")))
    listener = read_csv(os.path.join(args.work, "cap.csv"))
    assert summary["duration_s"] == 1.2
    channels, _, worst = check_file(args, os.path.join(args.work, "cap.edf"), summary, listener, "edf")
    assert [l for l in channels if l.startswith("EMG")] == ["EMG07"]
    # The start is the first sample's wall-clock time, to 100 us.
    first = summary["first_block_arrival_unix_ns"]
    assert summary["recording_start_unix_ns"] == first - 50 * 1000000, summary
    written = sum(edf_start(os.path.join(args.work, "cap.edf")))
    assert abs(written - summary["recording_start_unix_ns"] / 1e9) < 2e-4, (written, summary)
    assert summary["first_block_arrival_utc"].startswith(
        time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(first // 10**9))), summary
    assert 0 <= summary["max_arrival_deviation_ms"] < 1000, summary
    print(f"edf: {len(channels)} channels, worst error {worst:.2f} steps, start {written:.4f}, "
          f"arrivals within {summary['max_arrival_deviation_ms']:.2f} ms of the period")


def case_replay(args):
    # 6 s: the start trigger and the marker pressed at 5 s are annotated.
    tool(args, "--fast", "--seed", "11", "--duration", "6", "--sensors", "2,9", "--start-trigger",
         "--output", "first.bdf", "--csv", "first.csv", "--summary", "first.json")
    # The recording replayed as the device's data, captured again.
    tool(args, "--fast", "--replay", "first.bdf", "--duration", "6", "--period", "10", "--sensors", "2,9",
         "--output", "second.bdf", "--csv", "second.csv", "--summary", "second.json")
    first = json.load(open(os.path.join(args.work, "first.json")))
    second = json.load(open(os.path.join(args.work, "second.json")))
    texts = [a["text"] for a in first["annotations"]]
    assert "StartTrigger" in texts and "Marker" in texts, first["annotations"]
    # Triggers and remote events come back at the same onsets.
    assert first["annotations"] == second["annotations"], (first["annotations"], second["annotations"])
    assert [c["label"] for c in first["channels"]] == [c["label"] for c in second["channels"]]
    assert [c["rate_hz"] for c in first["channels"]] == [c["rate_hz"] for c in second["channels"]]
    a, b = read_csv(os.path.join(args.work, "first.csv")), read_csv(os.path.join(args.work, "second.csv"))
    worst = 0.0
    for c in first["channels"]:
        resolution = (c["physical_max"] - c["physical_min"]) / (2**24 - 1)
        assert len(a[c["label"]]) == len(b[c["label"]]), c["label"]
        for x, y in zip(a[c["label"]], b[c["label"]]):
            worst = max(worst, abs(x - y) / resolution)
            # float32 buffers add a relative error of 6e-8.
            assert abs(x - y) <= resolution + 1e-7 * abs(x), (c["label"], x, y, resolution)
    # The second file itself reads back like any other capture.
    check_file(args, os.path.join(args.work, "second.bdf"), second, b, "bdf")
    print(f"replay: {len(first['channels'])} channels equal within {worst:.2f} steps")


def case_interrupt(args):
    proc = subprocess.Popen([args.tool, "--duration", "60", "--sensors", "1", "--output", "cut.bdf",
                             "--summary", "cut.json"], cwd=args.work, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    time.sleep(1.5)
    proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=20)
    assert proc.returncode == 0, (proc.returncode, out, err)
    assert "stopped by Ctrl-C" in out, out
    summary = json.load(open(os.path.join(args.work, "cut.json")))
    assert summary["interrupted"] and 0.5 <= summary["duration_s"] <= 3.0, summary["duration_s"]
    channels, _ = read_biosig(args.save2gdf, os.path.join(args.work, "cut.bdf"), args.work)
    assert all(abs(c["count"] / c["rate"] - summary["duration_s"]) < 1e-9 for c in channels.values())
    print(f"interrupt: valid file of {summary['duration_s']} s")

    # Ctrl-C before the first record is complete (100 ms blocks: the first
    # one comes 100 ms after the start): a failure that says so, no file.
    # On a machine slow enough to let a record through, a valid file.
    early = os.path.join(args.work, "early.bdf")
    proc = subprocess.Popen([args.tool, "--duration", "60", "--period", "100", "--output", early],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    started = proc.stderr.readline()
    proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=20)
    if proc.returncode == 1:
        assert "no file written" in err and not os.path.exists(early), (started, out, err)
        print("interrupt: stopped before the first record, no file")
    else:
        assert proc.returncode == 0 and "stopped by Ctrl-C" in out, (proc.returncode, out, err)
        read_biosig(args.save2gdf, early, args.work)
        print("interrupt: the first record got through before Ctrl-C; valid file")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--tool", required=True)
    p.add_argument("--save2gdf", required=True)
    p.add_argument("--work", required=True)
    p.add_argument("--case", required=True, choices=["capture", "edf", "replay", "interrupt"])
    args = p.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    globals()["case_" + args.case](args)
    return 0


if __name__ == "__main__":
    sys.exit(main())
