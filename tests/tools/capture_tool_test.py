#!/usr/bin/env python3
"""quelto-capture end to end.

Captures with the tool (simulated device) and reads the file back with two
readers independent of the EDFlib that writes it: BioSig's save2gdf
(converted to BioSig ASCII, one text file per channel plus a header) and
MNE, as analyses of the field read it. Compares what they read with what the
tool's listener received (the tool's CSV files hold every sample it wrote,
before quantisation) and with its JSON summary: channel set, labels and types,
units, header fields, rates, duration, samples within half a step of the
format's resolution, annotations and their durations. Also the command
line's refusals.
"""
import argparse
import csv
import ctypes
import glob
import json
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import time

import mne
import numpy as np


# BioSig reports units through its table of unit codes: microtesla as the
# equivalent uWb m-2. Its table has no deg/s (EDF's physical dimension is
# free text), which it reports as "?"; every other unit the tool writes is
# in the table. The header's own text is checked too (edf_units).
BIOSIG_UNIT = {"uT": "uWb m-2", "deg/s": "?"}
# MNE's names of the units.
MNE_UNIT = {"uV": "µV"}


def write_config(path, sensors, analog, insoles, transducers_a):
    """A configuration file: sensors 1..`sensors` on (EMG and inertial),
    the others off; analog channels 1..`analog`; the listed insoles; the
    listed transducers of foot switch A, none of B."""
    config = {
        "FormatVersion": 1,
        "CaptureConfiguration": {
            "EnabledInsole": [i in insoles for i in (1, 2)],
            "EnabledAnalogChannel": [c < analog for c in range(32)],
            "FootSwATransducerEnabled": {t: True for t in transducers_a},
        },
        "SensorConfiguration": [{"SensorMode": 0 if s < sensors else 3} for s in range(38)],
    }
    with open(path, "w") as f:
        json.dump(config, f)


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
                             transducer=c.get("Transducer", ""), highpass=c.get("HighPass"), lowpass=c.get("LowPass"),
                             pmin=float(c["PhysMin"]), pmax=float(c["PhysMax"]),
                             dmin=float(c["DigMin"]), dmax=float(c["DigMax"]),
                             count=int(c["NumberOfSamples"]), samples=samples)
    text = run([save2gdf, "-JSON", path]).stdout
    header = json.loads(text[text.index("{"):])
    for c in header.get("CHANNEL", []):
        if c.get("Label") in result:
            result[c["Label"]]["json"] = c
    return result, header.get("EVENT", [])


def read_mne(path):
    """MNE's reading: info, channel types by name, units, annotations."""
    reader = mne.io.read_raw_bdf if path.endswith(".bdf") else mne.io.read_raw_edf
    raw = reader(path, infer_types=True, preload=False, verbose="error")
    return raw


def check_mne(path, summary, listener):
    """MNE types EMG channels as EMG under their layout names, keeps the
    units, finds the EMG band, the annotations with their durations, and the
    2000 Hz samples within half a quantisation step."""
    raw = read_mne(path)
    labels = [c["label"] for c in summary["channels"]]
    # "EMG EMG07" -> EMG channel "EMG07"; "MISC ACC07X" -> misc "ACC07X".
    names = [label.split(" ", 1)[1] for label in labels]
    assert raw.ch_names == names, (raw.ch_names[:6], names[:6])
    types = raw.get_channel_types()
    for label, name, kind in zip(labels, names, types):
        assert kind == ("emg" if label.startswith("EMG ") else "misc"), (label, kind)
    # MNE keeps the units of voltage channels (it scales them to volts).
    units = raw._orig_units
    for c, name in zip(summary["channels"], names):
        if c["unit"] in ("uV", "V"):
            assert units[name] == MNE_UNIT.get(c["unit"], c["unit"]), (name, units[name], c["unit"])
    if any(l.startswith("EMG ") for l in labels):
        assert raw.info["highpass"] == 20 and raw.info["lowpass"] == 450, (raw.info["highpass"], raw.info["lowpass"])
    got = [(a["description"], round(float(a["onset"]), 3), round(float(a["duration"]), 3)) for a in raw.annotations]
    want = [(a["text"], round(a["onset_s"], 3), round(a.get("duration_s", 0.0), 3)) for a in summary["annotations"]]
    assert sorted(got) == sorted(want), (got, want)
    # MNE brings every channel to the highest rate; the channels at that
    # rate are read as they are.
    top = max(c["rate_hz"] for c in summary["channels"])
    worst = 0.0
    for c, name in zip(summary["channels"], names):
        if c["rate_hz"] != top:
            continue
        scale = 1e6 if c["unit"] == "uV" else 1.0  # MNE gives volts
        data = raw.get_data(picks=[name])[0] * scale
        sent = np.array(listener[c["label"]])
        assert len(data) == len(sent), (name, len(data), len(sent))
        digital = 2 ** 24 - 1 if path.endswith(".bdf") else 2 ** 16 - 1
        step = (c["physical_max"] - c["physical_min"]) / digital
        error = np.abs(data - sent).max() / step
        worst = max(worst, error)
        # Rounded to the nearest step (truncation would be up to a whole step
        # off); the CSV's 9 digits and float32 buffers add at most 1e-7.
        slack = 1e-7 * np.abs(sent).max() / step
        assert error <= 0.5 + 1e-6 + slack, (name, error, slack)
    return raw, worst


def read_csv(path, summary):
    """The wide CSV files of the name `path` (NAME.emg.csv, NAME.imu.csv, ...)
    as label -> values, keyed as the summary labels them. Checks their form
    on the way: a header "time [s],EMG01 [uV],...", one rate per file, the
    time column in seconds from the start, every channel in one file."""
    base = path[:-4] if path.lower().endswith(".csv") else path
    by_name = {c["label"].split(" ", 1)[1]: c for c in summary["channels"]}
    files = sorted(glob.glob(glob.escape(base) + ".*.csv"))
    assert files, path
    if "csv_files" in summary:
        assert sorted(os.path.join(os.path.dirname(path), os.path.basename(f)) for f in summary["csv_files"]) == files
    out = {}
    for name in files:
        with open(name, newline="") as f:
            rows = list(csv.reader(f))
        header, rows = rows[0], rows[1:]
        assert header[0] == "time [s]", (name, header[:3])
        rates = set()
        for column, title in enumerate(header[1:], 1):
            label, unit = re.fullmatch(r"(\S+) \[(.+)\]", title).groups()
            c = by_name[label]
            assert unit == c["unit"] and c["label"] not in out, (name, title, c["unit"])
            rates.add(c["rate_hz"])
            out[c["label"]] = [float(row[column]) for row in rows]
        assert len(rates) == 1, (name, rates)
        rate = rates.pop()
        assert len(rows) == round(summary["duration_s"] * rate), (name, len(rows), rate)
        assert all(len(row) == len(header) for row in rows), name
        times = np.array([float(row[0]) for row in rows])
        assert np.abs(times - np.arange(len(rows)) / rate).max() < 1e-6, name
    assert sorted(out) == sorted(by_name[n]["label"] for n in by_name), sorted(set(out) ^ {c["label"] for c in summary["channels"]})
    return out


def check_file(args, stem, summary, listener, kind):
    """Compares BioSig's reading of `stem` with the summary and the listener's samples."""
    channels, events = read_biosig(args.save2gdf, stem, args.work)
    header_units = edf_units(stem)
    names = [c["label"] for c in summary["channels"]]
    assert list(channels) == names, f"labels differ:\n{list(channels)[:8]}...\n{names[:8]}..."
    assert len(channels) == len(summary["channels"])
    digital = {"bdf": 2**24 - 1, "edf": 2**16 - 1}[kind]
    worst = 0.0
    for c in summary["channels"]:
        got = channels[c["label"]]
        assert got["unit"] == BIOSIG_UNIT.get(c["unit"], c["unit"]), (c["label"], got["unit"], c["unit"])
        assert header_units[c["label"]] == c["unit"], (c["label"], header_units[c["label"]], c["unit"])
        assert got["json"].get("Transducer"), (c["label"], got["json"])
        assert abs(got["rate"] - c["rate_hz"]) < 1e-6, (c["label"], got["rate"], c["rate_hz"])
        assert got["dmax"] - got["dmin"] == digital, (c["label"], got["dmin"], got["dmax"])
        duration = got["count"] / got["rate"]
        assert abs(duration - summary["duration_s"]) < 1e-9, (c["label"], duration, summary["duration_s"])
        sent = listener[c["label"]]
        assert len(sent) == len(got["samples"]) == c["samples"], (c["label"], len(sent), len(got["samples"]))
        resolution = (got["pmax"] - got["pmin"]) / (got["dmax"] - got["dmin"])
        for a, b in zip(sent, got["samples"]):
            # Half a quantisation step, plus the 6 digits BioSig prints.
            error = abs(a - b)
            worst = max(worst, error / resolution)
            assert error <= 0.5 * resolution + 6e-6 * abs(b) + 1e-9, (c["label"], a, b, resolution)
    return channels, events, worst


def edf_units(path):
    """Label -> physical dimension, as the EDF/BDF header spells them."""
    with open(path, "rb") as f:
        header = f.read(256)
        ns = int(header[252:256])
        signals = f.read(ns * 256)
    at = ns * (16 + 80)
    return {signals[16 * i:16 * i + 16].decode().strip(): signals[at + 8 * i:at + 8 * i + 8].decode().strip()
            for i in range(ns)}


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
    # blocks split the 100 Hz streams unevenly. Everything is on before any
    # configuration.
    tool(args, "--fast", "--seed", "5", "--duration", "6", "--period", "25", "--sensors", "1-3,36",
         "--output", "cap.bdf", "--csv", "cap.csv", "--summary", "cap.json", "--start-trigger")
    summary = json.load(open(os.path.join(args.work, "cap.json")))
    listener = read_csv(os.path.join(args.work, "cap.csv"), summary)
    assert summary["duration_s"] == 6.0 and summary["records"] == 60
    assert summary["blocks_received"] >= 240
    channels, events, worst = check_file(args, os.path.join(args.work, "cap.bdf"), summary, listener, "bdf")
    # 4 sensors x (EMG + 13 inertial), sync, 2 x (1 + 4) foot switch, 2 x 26 insole, 32 analog.
    assert len(channels) == 4 * 14 + 1 + 10 + 52 + 32, len(channels)
    rates = {label: c["rate"] for label, c in channels.items()}
    assert rates["EMG EMG36"] == 2000 and rates["MISC ACC01X"] == 100 and rates["MISC FSW1H"] == 500
    assert rates["MISC INS2PA"] == 100 and rates["MISC AN32"] == 2000 and rates["MISC SYNC"] == 2000
    assert "EMG EMG04" not in channels
    units = {label: c["unit"] for label, c in channels.items()}
    assert units["EMG EMG01"] == "uV" and units["MISC ACC02Z"] == "g" and units["MISC AN01"] == "V"
    assert units["MISC GYR03X"] == "?" and units["MISC ORI01W"] == "-", units
    written = edf_units(os.path.join(args.work, "cap.bdf"))
    assert written["MISC GYR03X"] == written["MISC INS1GYRZ"] == "deg/s", written
    # Degrees, not radians: the pitch rate of a walking limb reaches tens of deg/s.
    assert max(abs(v) for v in listener["MISC GYR01X"]) > 20, max(listener["MISC GYR01X"])
    emg = channels["EMG EMG01"]["json"]
    assert "EMG" in emg["Transducer"], emg
    # BioSig gives event positions from the header's whole second; the file
    # starts a fraction later (its first record's time stamp).
    _, fraction = edf_start(os.path.join(args.work, "cap.bdf"))
    texts = [(e["Description"], round(float(e["POS"]) - fraction, 3)) for e in events]
    # In fast mode the trigger lands in whichever block follows the call.
    expected = [(a["text"], round(a["onset_s"], 3)) for a in summary["annotations"]]
    assert sorted(texts) == sorted(expected), (texts, expected)
    assert ("Marker", 5.0) in texts and [t for t, _ in texts].count("StartTrigger") == 1, texts
    # The marker button is held 0.3 s: BioSig and MNE read that duration.
    marker = [e for e in events if e["Description"] == "Marker"][0]
    assert abs(float(marker["DUR"]) - 0.3) < 1e-6, marker
    raw, mne_worst = check_mne(os.path.join(args.work, "cap.bdf"), summary, listener)
    print(f"capture: {len(channels)} channels, 6.0 s, worst error {worst:.2f} steps (BioSig), "
          f"{mne_worst:.3f} steps (MNE), events {texts}")


def case_edf(args):
    # Real time, 16-bit EDF+, one sensor.
    tool(args, "--duration", "1.2", "--period", "50", "--sensors", "7", "--format", "edf",
         "--output", "cap.edf", "--csv", "cap.csv", "--summary", "cap.json")
    summary = json.load(open(os.path.join(args.work, "cap.json")))
    listener = read_csv(os.path.join(args.work, "cap.csv"), summary)
    assert summary["duration_s"] == 1.2
    channels, _, worst = check_file(args, os.path.join(args.work, "cap.edf"), summary, listener, "edf")
    assert [l for l in channels if l.startswith("EMG")] == ["EMG EMG07"]
    _, mne_worst = check_mne(os.path.join(args.work, "cap.edf"), summary, listener)
    # The start is the first sample's wall-clock time, to 100 us.
    first = summary["first_block_arrival_unix_ns"]
    assert summary["recording_start_unix_ns"] == first - 50 * 1000000, summary
    written = sum(edf_start(os.path.join(args.work, "cap.edf")))
    assert abs(written - summary["recording_start_unix_ns"] / 1e9) < 2e-4, (written, summary)
    assert summary["first_block_arrival_utc"].startswith(
        time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(first // 10**9))), summary
    assert 0 <= summary["max_arrival_deviation_ms"] < 1000, summary
    print(f"edf: {len(channels)} channels, worst error {worst:.2f} steps (BioSig), {mne_worst:.3f} steps (MNE), "
          f"start {written:.4f}, arrivals within {summary['max_arrival_deviation_ms']:.2f} ms of the period")


def labels_of(args, name):
    return [c["label"] for c in json.load(open(os.path.join(args.work, name)))["channels"]]


def case_enabled(args):
    # Only what the device sends is written: sensors 1-5, analog 1-2,
    # insole 2 with its inertial unit, transducers heel and 5th metatarsal
    # of foot switch A; foot switch B has none and is off.
    write_config(os.path.join(args.work, "five.json"), 5, 2, [2], ["T_A", "T_5"])
    common = ["--fast", "--duration", "1", "--config", "five.json"]
    tool(args, *common, "--output", "on.bdf", "--summary", "on.json", "--csv", "on.csv")
    labels = labels_of(args, "on.json")

    def sensor(s):
        return [f"EMG EMG{s:02d}"] + [f"MISC {name}{s:02d}{axis}" for name, axes in
                                      [("ORI", "WXYZ"), ("ACC", "XYZ"), ("GYR", "XYZ"), ("MAG", "XYZ")] for axis in axes]
    sensors = [label for s in range(1, 6) for label in sensor(s)]
    insole = [f"MISC INS2P{c}" for c in "ABCDEFGHIJKLMNOP"] + [f"MISC INS2{k}{a}" for k, axes in
                                                            [("ORI", "WXYZ"), ("ACC", "XYZ"), ("GYR", "XYZ")]
                                                            for a in axes]
    expected = sensors + ["MISC SYNC", "MISC FSW1", "MISC FSW1H", "MISC FSW15"] + insole + ["MISC AN01", "MISC AN02"]
    assert sorted(labels) == sorted(expected), (sorted(set(labels) ^ set(expected)))
    summary = json.load(open(os.path.join(args.work, "on.json")))
    check_file(args, os.path.join(args.work, "on.bdf"), summary, read_csv(os.path.join(args.work, "on.csv"), summary), "bdf")
    # Keeping all gives every channel of every buffer the device fills.
    tool(args, *common, "--keep-all", "--output", "all.bdf", "--summary", "all.json")
    assert len(labels_of(args, "all.json")) == 36 * 14 + 1 + 2 * 5 + 2 * 26 + 32
    # The selection applies to analog channels, insoles and foot switches too.
    tool(args, *common, "--sensors", "2-3", "--analog", "2", "--insoles", "none", "--footswitches", "none",
         "--output", "some.bdf", "--summary", "some.json")
    assert sorted(labels_of(args, "some.json")) == sorted(sensor(2) + sensor(3) + ["MISC SYNC", "MISC AN02"])
    print(f"enabled: {len(labels)} of 599 channels written by default")


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
    # Triggers and remote events come back at the same onsets, presses held
    # as long.
    assert first["annotations"] == second["annotations"], (first["annotations"], second["annotations"])
    assert [c["label"] for c in first["channels"]] == [c["label"] for c in second["channels"]]
    assert [c["rate_hz"] for c in first["channels"]] == [c["rate_hz"] for c in second["channels"]]
    a, b = read_csv(os.path.join(args.work, "first.csv"), first), read_csv(os.path.join(args.work, "second.csv"), second)
    worst = 0.0
    for c in first["channels"]:
        resolution = (c["physical_max"] - c["physical_min"]) / (2**24 - 1)
        assert len(a[c["label"]]) == len(b[c["label"]]), c["label"]
        for x, y in zip(a[c["label"]], b[c["label"]]):
            worst = max(worst, abs(x - y) / resolution)
            # Half a step (0 lies halfway between two steps); float32
            # buffers add a relative error of 6e-8.
            assert abs(x - y) <= (0.5 + 1e-6) * resolution + 1e-7 * abs(x), (c["label"], x, y, resolution)
    # The second file itself reads back like any other capture.
    check_file(args, os.path.join(args.work, "second.bdf"), second, b, "bdf")
    check_mne(os.path.join(args.work, "second.bdf"), second, b)

    # A 5-sensor recording replays as 5 sensors: only its own channels come
    # back, whatever is selected.
    write_config(os.path.join(args.work, "five.json"), 5, 2, [1], ["T_A"])
    tool(args, "--fast", "--duration", "1", "--config", "five.json", "--output", "five.bdf", "--summary", "five-summary.json")
    tool(args, "--fast", "--replay", "five.bdf", "--duration", "1", "--output", "again.bdf", "--summary", "again.json")
    recorded, replayed = labels_of(args, "five-summary.json"), labels_of(args, "again.json")
    assert replayed == recorded, (len(recorded), len(replayed), sorted(set(recorded) ^ set(replayed)))
    print(f"replay: {len(first['channels'])} channels equal within {worst:.2f} steps; "
          f"a {len(recorded)}-channel file replays as {len(replayed)} channels")


def case_options(args):
    # Refused before any device is made, with the reason, and no file.
    def refused(*extra, reason):
        result = subprocess.run([args.tool, "--fast", "--duration", "0.2", *extra], cwd=args.work,
                                capture_output=True, text=True)
        assert result.returncode != 0, (extra, result.stdout, result.stderr)
        assert reason in result.stderr, (extra, result.stderr)
    refused("--output", "x.txt", reason="--format")
    refused("--output", "capture", reason="--format")
    assert not os.path.exists(os.path.join(args.work, "x.txt"))
    refused("--seed", "-1", "--output", "a.bdf", reason="seed")
    refused("--seed", "18446744073709551616", "--output", "a.bdf", reason="seed")
    refused("--seed", "1x", "--output", "a.bdf", reason="seed")
    refused("--analog", "33", "--output", "a.bdf", reason="--analog")
    refused("--insoles", "0", "--output", "a.bdf", reason="--insoles")
    assert not os.path.exists(os.path.join(args.work, "a.bdf"))
    # An explicit format takes any name; the largest seed is a seed.
    tool(args, "--fast", "--duration", "0.2", "--output", "x.txt", "--format", "csv")
    tool(args, "--fast", "--duration", "0.2", "--seed", "18446744073709551615", "--output", "b.BDF", "--sensors", "1")
    assert os.path.getsize(os.path.join(args.work, "x.txt.emg.csv")) > 0 and os.path.exists(os.path.join(args.work, "b.BDF"))
    print("options: unknown extensions, bad seeds and lists refused")


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

def attempt(args, *extra, preexec_fn=None):
    return subprocess.run([args.tool, *extra], cwd=args.work, capture_output=True, text=True, timeout=60,
                          preexec_fn=preexec_fn)


def refused(args, *extra, reason, code=2, preexec_fn=None):
    """A run turned down before the device starts, with `reason` said."""
    result = attempt(args, "--fast", *extra, preexec_fn=preexec_fn)
    assert result.returncode == code, (extra, result.returncode, result.stderr)
    assert reason in result.stderr, (extra, result.stderr)
    assert "device software" not in result.stderr, (extra, result.stderr)
    return result


def edf_sizes(path):
    """(header bytes, record bytes) of an EDF/BDF file."""
    with open(path, "rb") as f:
        data = f.read(256)
        ns = int(data[252:256])
        counts = f.read(ns * 256)[ns * 216:ns * 224]
    return int(data[184:192]), (3 if data[:1] == b"\xff" else 2) * sum(int(counts[8 * i:8 * i + 8]) for i in range(ns))


def records_of(path):
    """(records the EDF/BDF header declares, records its size holds)."""
    header, record = edf_sizes(path)
    with open(path, "rb") as f:
        declared = int(f.read(256)[236:244])
    return declared, (os.path.getsize(path) - header) / record


def case_csv(args):
    # The same capture as CSV alone and as CSV files beside a BDF file.
    common = ["--fast", "--seed", "4", "--duration", "1", "--period", "25", "--sensors", "1-2"]
    tool(args, *common, "--output", "w.csv", "--summary", "w.json")
    tool(args, *common, "--output", "b.bdf", "--csv", "b.csv", "--summary", "b.json")
    summary = json.load(open(os.path.join(args.work, "w.json")))
    values = read_csv(os.path.join(args.work, "w.csv"), summary)
    groups = {"emg": r"EMG\d\d", "sync": r"SYNC", "imu": r"(ORI|ACC|GYR|MAG)\d\d[WXYZ]", "footswitch": r"FSW\d.?",
              "insole": r"INS\dP[A-P]", "insole-imu": r"INS\d(ORI|ACC|GYR)[WXYZ]", "analog": r"AN\d\d"}
    assert sorted(summary["csv_files"]) == sorted(f"w.{g}.csv" for g in groups), summary["csv_files"]
    assert not os.path.exists(os.path.join(args.work, "w.csv"))
    for group, pattern in groups.items():
        name = os.path.join(args.work, f"w.{group}.csv")
        with open(name) as f:
            titles = f.readline().rstrip("\n").split(",")[1:]
        assert titles and all(re.fullmatch(pattern + r" \[.+\]", t) for t in titles), (group, titles[:4])
        # A reader of numbers takes it as it is.
        table = np.loadtxt(name, delimiter=",", skiprows=1, ndmin=2)
        assert table.shape[1] == len(titles) + 1, (group, table.shape)
    # Rows, not one line per value: 36 EMG columns would have been 36 lines.
    assert values["EMG EMG01"] and len(values) == len(summary["channels"])
    for group in groups:
        with open(os.path.join(args.work, f"w.{group}.csv"), "rb") as a, \
                open(os.path.join(args.work, f"b.{group}.csv"), "rb") as b:
            assert a.read() == b.read(), group
    # --overwrite replaces the whole set: no file of the earlier groups stays.
    tool(args, *common, "--insoles", "none", "--overwrite", "--output", "w.csv", "--summary", "w.json")
    summary = json.load(open(os.path.join(args.work, "w.json")))
    read_csv(os.path.join(args.work, "w.csv"), summary)
    assert not glob.glob(os.path.join(args.work, "w.insole*.csv"))
    print(f"csv: {len(groups)} files, {len(values)} columns")


def without_override():
    """Root passes every permission check: the tool runs without the
    capabilities that let it (CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH)."""
    libc = ctypes.CDLL(None, use_errno=True)
    for capability in (1, 2):
        if libc.prctl(24, capability, 0, 0, 0) != 0:  # PR_CAPBSET_DROP
            raise OSError(ctypes.get_errno(), "cannot drop a capability")


def case_outputs(args):
    work = args.work
    tool(args, "--fast", "--seed", "1", "--duration", "1", "--sensors", "1", "--output", "r.bdf")
    with open(os.path.join(work, "r.bdf"), "rb") as f:
        recording = f.read()
    # Never replaced silently; nothing else is written either.
    refused(args, "--duration", "0.2", "--output", "r.bdf", "--summary", "n.json", reason="r.bdf exists; give --overwrite")
    with open(os.path.join(work, "r.bdf"), "rb") as f:
        assert f.read() == recording
    assert not os.path.exists(os.path.join(work, "n.json"))
    tool(args, "--fast", "--duration", "0.3", "--sensors", "1", "--output", "r.bdf", "--summary", "r.json", "--overwrite")
    assert records_of(os.path.join(work, "r.bdf")) == (3, 3.0)
    refused(args, "--output", "n.bdf", "--summary", "r.json", reason="r.json exists")
    open(os.path.join(work, "c.imu.csv"), "w").close()
    refused(args, "--output", "n.bdf", "--csv", "c.csv", reason="c.imu.csv exists")
    # The operating system's reason.
    for option in ("--output", "--csv", "--summary"):
        names = {"--output": "missing/x.bdf", "--csv": "missing/x.csv", "--summary": "missing/x.json"}
        extra = [option, names[option]] if option == "--output" else ["--output", "n.bdf", option, names[option]]
        refused(args, *extra, reason=f"{option}: cannot create missing/x.")
        refused(args, *extra, reason="No such file or directory")
    locked = os.path.join(work, "locked")
    os.mkdir(locked, 0o555)
    os.chmod(locked, 0o555)
    as_user = without_override if os.geteuid() == 0 else None
    refused(args, "--output", "locked/x.bdf", reason="Permission denied", preexec_fn=as_user)
    refused(args, "--output", "n.bdf", "--summary", "locked/s.json", reason="Permission denied", preexec_fn=as_user)
    # One file named twice, however it is spelt.
    refused(args, "--output", "s.bdf", "--summary", "s.bdf", reason="both name")
    refused(args, "--output", "s.bdf", "--summary", os.path.join(work, "s.bdf"), reason="both name")
    refused(args, "--output", "w.csv", "--csv", "./w.csv", reason="both name")
    refused(args, "--output", "w.csv", "--summary", "w.emg.csv", reason="both name")
    refused(args, "--output", "r.bdf", "--replay", "r.bdf", "--overwrite", reason="the --replay file")
    # Files that would block an open() are refused at once, never opened.
    os.mkfifo(os.path.join(work, "pipe"))
    refused(args, "--output", "pipe", "--format", "bdf", "--overwrite", reason="not a regular file")
    refused(args, "--output", "n.bdf", "--replay", "pipe", reason="not a regular file")
    refused(args, "--output", os.devnull, "--format", "bdf", "--overwrite", reason="not a regular file")
    refused(args, "--duration", "nan", "--output", "n.bdf", reason="--duration", code=105)
    left = sorted(os.listdir(work))
    assert left == ["c.imu.csv", "locked", "pipe", "r.bdf", "r.json"], left
    print("outputs: existing, unmakeable, doubly named and special files refused with the reason")


def case_replay_count(args):
    tool(args, "--fast", "--seed", "2", "--duration", "5", "--sensors", "1", "--output", "five.bdf")
    # A replay takes the recording once: 50 records, from 50 blocks, every time.
    for run in range(4):
        out = tool(args, "--fast", "--replay", "five.bdf", "--output", f"r{run}.bdf", "--summary", f"r{run}.json").stdout
        summary = json.load(open(os.path.join(args.work, f"r{run}.json")))
        assert (summary["records"], summary["blocks_received"]) == (50, 50), (run, summary["records"], summary["blocks_received"])
        assert " 50 blocks" in out and records_of(os.path.join(args.work, f"r{run}.bdf")) == (50, 50.0), out
    for extra, records, blocks in ((["--period", "10"], 50, 500), (["--duration", "2"], 20, 20),
                                   (["--duration", "60"], 50, 50)):
        result = tool(args, "--fast", "--replay", "five.bdf", *extra, "--output", "x.bdf", "--summary", "x.json",
                      "--overwrite")
        summary = json.load(open(os.path.join(args.work, "x.json")))
        assert (summary["records"], summary["blocks_received"]) == (records, blocks), (extra, summary["records"])
        if "60" in extra:
            assert "five.bdf holds 5.0 s" in result.stderr, result.stderr
    # Anything else is refused with what replay takes.
    with open(os.path.join(args.work, "text.bdf"), "w") as f:
        f.write("not a recording\n" * 40)
    for name in ("x.json", "text.bdf"):
        refused(args, "--replay", name, "--output", "n.bdf", reason="replay accepts EDF+ and BDF+ recordings made by quelto-capture")
    print("replay: 50 records from 50 blocks, four times; other files refused")


def limited(size):
    """Runs the tool with files limited to `size` bytes, as on a full disk."""
    def apply():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
    return apply


def case_write_failure(args):
    work = args.work

    def failed(size, *extra, reason):
        result = attempt(args, "--fast", "--seed", "3", *extra, preexec_fn=limited(size))
        assert result.returncode == 1 and reason in result.stderr, (extra, result.returncode, result.stderr)
        return result.stderr

    # A BDF file cut at its last complete record, its header saying so; the
    # summary is not written and nothing temporary stays.
    sensor = ["--duration", "3", "--sensors", "1", "--analog", "none", "--insoles", "none", "--start-trigger"]
    err = failed(40960, *sensor, "--output", "cut.bdf", "--summary", "cut.json",
                 reason="cannot write cut.bdf: File too large; kept the first")
    declared, held = records_of(os.path.join(work, "cut.bdf"))
    header, record = edf_sizes(os.path.join(work, "cut.bdf"))
    assert declared == held == (40960 - header) // record and declared > 0, (declared, held, err)
    channels, events = read_biosig(args.save2gdf, os.path.join(work, "cut.bdf"), work)
    assert all(c["count"] == declared * c["rate"] / 10 for c in channels.values())
    assert [e["Description"] for e in events] == ["StartTrigger"], events
    replay = tool(args, "--fast", "--replay", "cut.bdf", "--output", "again.bdf", "--summary", "again.json")
    assert json.load(open(os.path.join(work, "again.json")))["records"] == declared, replay.stdout
    # A BDF file and CSV files keep the same records, every line whole.
    err = failed(100000, "--duration", "3", "--sensors", "1-4", "--output", "both.bdf", "--csv", "both.csv",
                 reason="File too large; kept the first")
    kept = int(re.search(r"\((\d+) complete record", err).group(1))
    assert records_of(os.path.join(work, "both.bdf")) == (kept, kept), err
    for name in glob.glob(os.path.join(work, "both.*.csv")):
        with open(name) as f:
            text = f.read()
        lines = text.split("\n")
        assert text.endswith("\n") and len({line.count(",") for line in lines[:-1]}) == 1, name
        rate = round(1 / float(lines[2].split(",")[0]))
        assert len(lines) - 2 == kept * rate // 10, (name, len(lines), kept, rate)
    # Not even one record: no file at all.
    failed(4000, "--duration", "1", "--output", "none.bdf", "--csv", "none.csv", reason="no file kept")
    assert not glob.glob(os.path.join(work, "none.*")), os.listdir(work)
    # The summary alone does not fit: it is not written, the data files are.
    failed(8192, "--duration", "0.1", "--sensors", "none", "--analog", "none", "--footswitches", "none",
           "--output", "small.csv", "--summary", "small.json", reason="cannot write small.json: File too large")
    assert glob.glob(os.path.join(work, "small.*.csv")) and not os.path.exists(os.path.join(work, "small.json"))
    assert not [n for n in os.listdir(work) if n.startswith(".")], os.listdir(work)
    print(f"write failure: {declared} of 30 records kept, files valid, no partial summary")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--tool", required=True)
    p.add_argument("--save2gdf", required=True)
    p.add_argument("--work", required=True)
    p.add_argument("--case", required=True, choices=["capture", "edf", "enabled", "replay", "interrupt", "options", "csv",
                                                      "outputs", "replay_count", "write_failure"])
    args = p.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    globals()["case_" + args.case](args)
    return 0


if __name__ == "__main__":
    sys.exit(main())
