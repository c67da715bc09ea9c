#!/usr/bin/env python3
"""Figures of the simulated subject, measured the way EMG and gait analyses
look at a recording: records with quelto-capture (simulated device, fast
mode), reads the BDF+ file back with MNE and prints

  EMG     median frequency and share of the power above 450 Hz per sensor,
          noise floor at rest (RMS of the quietest 50 ms windows) per sensor
  gait    stride time and its coefficient of variation per foot (heel
          contacts of the foot switches), step-time asymmetry, the slow drift
          of the pace, correlation of the two halves of a limb's movement
  shocks  heel-strike peaks of the shank accelerometers per stride
  fatigue change of the median frequency from the first to the last 30 s
          (recordings of 4 minutes or more)

--check fails (exit 1) when a figure is outside the range it should have.

  scripts/signal-figures.py --tool build/default/bin/quelto-capture --duration 600
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

import mne
import numpy as np
from scipy import signal

SENSORS = 36
SHANKS = [s for s in range(1, SENSORS + 1) if ((s - 1) // 2) % 3 == 0]  # 1, 2, 7, 8, ...


def capture(tool, work, seed, duration):
    # Everything the figures need; accelerometers at 16 g so that the shocks
    # are not clipped.
    config = {
        "FormatVersion": 1,
        "CaptureConfiguration": {
            "EnabledInsole": [True, True],
            "FootSwATransducerEnabled": {"T_A": True, "T_1": True, "T_5": True, "T_T": True},
            "FootSwBTransducerEnabled": {"T_A": True, "T_1": True, "T_5": True, "T_T": True},
        },
        "SensorConfiguration": [{"AccelerometerFullScale": 3, "GyroscopeFullScale": 3}] * 38,
    }
    path = os.path.join(work, "figures.json")
    with open(path, "w") as f:
        json.dump(config, f)
    out = os.path.join(work, "figures.bdf")
    subprocess.run([tool, "--fast", "--seed", str(seed), "--duration", str(duration), "--config", path,
                    "--analog", "none", "--insoles", "none", "--output", out, "--quiet"], check=True, stdout=subprocess.DEVNULL)
    return out


def read(path, names):
    reader = mne.io.read_raw_bdf if path.lower().endswith(".bdf") else mne.io.read_raw_edf
    raw = reader(path, infer_types=True, include=names, preload=True, verbose="error")
    return raw.get_data(picks=names), raw.info["sfreq"]


def spectrum(x, fs):
    """Median frequency, share of the power above 450 Hz, mean frequency."""
    f, p = signal.welch(x - x.mean(), fs, nperseg=1024)
    c = np.cumsum(p)
    return f[np.searchsorted(c, c[-1] / 2)], p[f > 450].sum() / p.sum(), (f * p).sum() / p.sum()


def emg_figures(path):
    names = [f"EMG{s:02d}" for s in range(1, SENSORS + 1)]
    data, fs = read(path, names)
    data *= 1e6  # MNE gives volts
    n = int(0.05 * fs)
    rows = []
    for x in data:
        median, above, _ = spectrum(x, fs)
        windows = x[: len(x) // n * n].reshape(-1, n)
        rms = np.sqrt(((windows - windows.mean(axis=1, keepdims=True)) ** 2).mean(axis=1))
        rows.append(dict(median=median, above=above, floor=np.percentile(rms, 5), burst=np.percentile(rms, 99)))
    return data, fs, rows


def heel_strikes(path):
    data, fs = read(path, ["FSW1", "FSW2", "FSW1H"])
    strikes = []
    for contact in data[:2]:
        heel = (np.rint(contact).astype(int) & 1) > 0
        strikes.append(np.flatnonzero(heel[1:] & ~heel[:-1]) / fs)
    half = data.shape[1] // 2
    return strikes, np.corrcoef(data[2, :half], data[2, half:2 * half])[0, 1]


def shock_figures(path, strikes):
    peaks = []
    for s in SHANKS:
        names = [f"ACC{s:02d}{a}" for a in "XYZ"]
        acc, fs = read(path, names)
        largest = np.abs(acc).max(axis=0)
        times = strikes[(s - 1) % 2]
        for a, b in zip(times[:-1], times[1:]):
            peaks.append(largest[int(a * fs):int(b * fs)].max())
    others, fs = read(path, [f"ACC{s:02d}{a}" for s in range(1, SENSORS + 1) if s not in SHANKS for a in "XYZ"])
    return np.array(peaks), np.abs(others).max()


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--tool", default="build/default/bin/quelto-capture")
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--duration", type=float, default=60)
    p.add_argument("--file", help="measure this recording instead of making one")
    p.add_argument("--check", action="store_true", help="exit 1 when a figure is out of range")
    args = p.parse_args()
    failures = []

    def expect(ok, text):
        if not ok:
            failures.append(text)

    with tempfile.TemporaryDirectory() as work:
        path = args.file or capture(os.path.abspath(args.tool), work, args.seed, args.duration)
        emg, fs, rows = emg_figures(path)
        strikes, halves = heel_strikes(path)
        peaks, others = shock_figures(path, strikes)

    medians = np.array([r["median"] for r in rows])
    above = np.array([r["above"] for r in rows])
    floors = np.array([r["floor"] for r in rows])
    print(f"EMG median frequency: {medians.min():.1f} to {medians.max():.1f} Hz (mean {medians.mean():.1f})")
    print(f"EMG power above 450 Hz: {100 * above.min():.2f} to {100 * above.max():.2f} %")
    print(f"EMG noise floor at rest: {floors.min():.2f} to {floors.max():.2f} uV RMS")
    ratio = np.array([r["burst"] / r["floor"] for r in rows])
    print(f"EMG loudest/quietest 50 ms: {ratio.min():.0f} to {ratio.max():.0f}")
    expect(((medians >= 60) & (medians <= 130)).all(), f"median frequencies {np.round(medians, 1)}")
    expect((above < 0.03).all(), f"power above 450 Hz {np.round(100 * above, 2)} %")
    expect(floors.min() >= 1.5 and floors.max() <= 5.0 and floors.max() / floors.min() < 1.25,
           f"noise floors {np.round(floors, 2)} uV")

    strides = [np.diff(t) for t in strikes]
    for foot, d in zip("LR", strides):
        cv = 100 * d.std() / d.mean()
        print(f"stride time {foot}: {d.mean():.3f} s, CV {cv:.2f} % ({len(d)} strides)")
        expect(1.0 <= cv <= 3.0, f"stride-time CV {foot} {cv:.2f} %")
    left, right = strikes
    after_left = [right[right > t][0] - t for t in left if (right > t).any()]
    after_right = [left[left > t][0] - t for t in right if (left > t).any()]
    a, b = np.mean(after_left), np.mean(after_right)
    asymmetry = 100 * abs(a - b) / ((a + b) / 2)
    print(f"step time L->R {a:.3f} s, R->L {b:.3f} s: asymmetry {asymmetry:.1f} %")
    expect(0.5 <= asymmetry <= 6.0, f"step-time asymmetry {asymmetry:.1f} %")
    d = strides[0]
    per_window = [d[(left[:-1] >= w) & (left[:-1] < w + 30)].mean() for w in np.arange(0, left[-1] - 30, 30)]
    if len(per_window) >= 2:
        print(f"pace drift: mean stride time per 30 s from {min(per_window):.3f} to {max(per_window):.3f} s")
    print(f"correlation of the two halves of the left heel's force: {halves:.2f}")
    expect(halves < 0.9, f"halves correlate at {halves:.2f}")

    print(f"heel-strike peaks, shank accelerometers: median {np.median(peaks):.2f} g, "
          f"5-95 % {np.percentile(peaks, 5):.2f} to {np.percentile(peaks, 95):.2f} g, "
          f"largest {peaks.max():.2f} g; other sensors at most {others:.2f} g")
    expect(np.percentile(peaks, 5) >= 2.0 and np.percentile(peaks, 95) <= 5.0, "heel-strike peaks out of 2-5 g")

    if emg.shape[1] >= 240 * fs:
        n = int(30 * fs)
        first = np.array([spectrum(x[:n], fs) for x in emg])
        last = np.array([spectrum(x[-n:], fs) for x in emg])
        fall = 100 * (1 - last[:, 2] / first[:, 2])
        print(f"fatigue, first to last 30 s: mean frequency falls {fall.mean():.1f} % on average "
              f"({fall.min():.1f} to {fall.max():.1f} % per sensor); median frequency "
              f"{np.median(first[:, 0]):.1f} -> {np.median(last[:, 0]):.1f} Hz (median of the sensors), "
              f"last 30 s {last[:, 0].min():.1f} to {last[:, 0].max():.1f} Hz")
        expect(fall.mean() > 2 and (last[:, 0] >= 60).all(), "fatigue")

    if args.check and failures:
        print("out of range:\n  " + "\n  ".join(failures), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
