#!/usr/bin/env python3
"""Captures a few seconds from the device and saves a figure of EMG
envelopes, accelerometer axes and foot-switch / insole events.

    /usr/bin/python3 python/examples/plot_capture.py --seconds 4 --output capture.png
"""
import argparse
import os
import sys

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

try:
    import quelto  # installed (pip install .)
except ImportError:  # run from a checkout
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    import quelto
from quelto import emg as processing  # noqa: E402
from quelto import layout  # noqa: E402


def envelope(emg, rate, window_s=0.1):
    """Moving RMS of each row, offset removed and band-passed (20-450 Hz):
    the electrodes' DC offset is no muscle activity."""
    clean = processing.bandpass(processing.remove_offset(emg), rate)
    return processing.moving_rms(clean, rate, window=window_s)


def times(samples, duration):
    return np.arange(samples) * (duration / samples) if samples else np.empty(0)


def capture(seconds):
    with quelto.Device() as device:
        device.configure_capture(enabled_insoles=[True, True],
                                 footswitch_a_enabled=[True] * 4, footswitch_b_enabled=[True] * 4,
                                 footswitch_a_thresholds=[0.2] * 4, footswitch_b_thresholds=[0.2] * 4)
        device.configure_sensor(0, sensor_mode=0)   # EMG and inertial data from every sensor
        return device.capture(seconds)


def plot(data, output, sensors=(1, 2, 3, 4)):
    duration = data["sync"].shape[0] / layout.EMG_BLOCK_RATE_HZ
    fig, axes = plt.subplots(4, 1, figsize=(11, 10), sharex=True, constrained_layout=True)

    emg = data["emg"][[s - 1 for s in sensors]]
    t = times(emg.shape[1], duration)
    env = envelope(emg, layout.EMG_BLOCK_RATE_HZ) * 1e6  # uV
    for k, s in enumerate(sensors):
        axes[0].plot(t, env[k], lw=1, label=layout.BY_NAME["emg"].label(s - 1))
    axes[0].set_ylabel("EMG, 20-450 Hz (uV RMS)")
    axes[0].legend(loc="upper right", ncol=len(sensors), fontsize=8)

    acc = data["accelerometer"][sensors[0] - 1]
    t = times(acc.shape[0], duration)
    for axis in range(layout.AXES):
        axes[1].plot(t, acc[:, axis], lw=1, label=layout.BY_NAME["accelerometer"].label(sensors[0] - 1, axis))
    axes[1].set_ylabel("acceleration (g)")
    axes[1].legend(loc="upper right", ncol=3, fontsize=8)

    sw = data["footswitch"].astype(np.int64)
    t = times(sw.shape[1], duration)
    names = ("heel", "1st meta", "5th meta", "toe")
    row = 0
    for switch in range(sw.shape[0]):
        for bit, name in enumerate(names):
            on = (sw[switch] >> bit) & 1
            axes[2].fill_between(t, row, row + 0.8 * on, step="post", color=f"C{switch}", lw=0)
            row += 1
    axes[2].set_yticks(np.arange(row) + 0.4)
    axes[2].set_yticklabels([f"{'AB'[s]} {n}" for s in range(sw.shape[0]) for n in names], fontsize=8)
    axes[2].set_ylabel("foot-switch contact")

    insole = data["insole"]
    t = times(insole.shape[1], duration)
    for k in range(insole.shape[0]):
        total = insole[k].mean(axis=1)
        axes[3].plot(t, total, lw=1, color=f"C{k}", label=f"insole {k + 1} mean pressure")
        onsets = np.flatnonzero(np.diff((total > 0.5 * total.max()).astype(int)) > 0) if total.size else []
        for i in onsets:
            axes[3].axvline(t[i + 1], color=f"C{k}", ls=":", lw=0.8)
    axes[3].set_ylabel("pressure (kPa)")
    axes[3].set_xlabel("time (s)")
    axes[3].legend(loc="upper right", fontsize=8)

    fig.suptitle(f"Simulated capture, {duration:.1f} s (library {quelto.version()})")
    fig.savefig(output, dpi=100)
    plt.close(fig)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=4.0)
    parser.add_argument("--output", default="capture.png", help="the figure (default: capture.png here)")
    args = parser.parse_args()
    cap = capture(args.seconds)
    plot({name: buffer.data for name, buffer in cap.buffers.items()}, args.output)
    print(f"{len(cap)} blocks, figure in {args.output}")


if __name__ == "__main__":
    main()
