"""Hand-off to MNE: one mne.io.RawArray per rate group of a capture.

Channels are named by their layout labels (EMG07, ACC07X, ...; the names
MNE gives the channels of quelto-capture's files with infer_types=True) and
only those the device sends are included, as its first block's states say
(keep_all=True: every row). Values are in SI units:

| Buffer | MNE type | Unit |
|---|---|---|
| EMG | emg | V |
| sync, foot-switch contacts (bits 0..15) | stim | - |
| orientation quaternions, foot-switch transducers (0..1) | misc | - |
| accelerometers | misc | m/s^2 (1 g = 9.80665 m/s^2) |
| gyroscopes | misc | rad/s |
| magnetometers | misc | T |
| insole cells | misc | Pa |
| analog inputs | misc | V |
"""
from __future__ import annotations

import datetime
import math
from typing import TYPE_CHECKING, Sequence

import numpy as np

from . import layout

if TYPE_CHECKING:
    import mne

    from .capture import Block, Capture

STANDARD_GRAVITY = 9.80665

# Python buffer name -> (group key, MNE channel type, factor to SI, SI unit)
CHANNELS = {
    "emg": ("emg", "emg", 1.0, "V"),
    "orientation": ("imu", "misc", 1.0, ""),
    "accelerometer": ("imu", "misc", STANDARD_GRAVITY, "m/s^2"),
    "gyroscope": ("imu", "misc", math.pi / 180, "rad/s"),
    "magnetometer": ("imu", "misc", 1e-6, "T"),
    "sync": ("sync", "stim", 1.0, ""),
    "footswitch": ("footswitch", "stim", 1.0, ""),
    "footswitch_raw": ("footswitch", "misc", 1.0, ""),
    "insole": ("insole", "misc", 1e3, "Pa"),
    "insole_orientation": ("insole-imu", "misc", 1.0, ""),
    "insole_accelerometer": ("insole-imu", "misc", STANDARD_GRAVITY, "m/s^2"),
    "insole_gyroscope": ("insole-imu", "misc", math.pi / 180, "rad/s"),
    "analog": ("analog", "misc", 1.0, "V"),
}
GROUPS = ("emg", "sync", "imu", "footswitch", "insole", "insole-imu", "analog")

_SENSOR = ("emg", "orientation", "accelerometer", "gyroscope", "magnetometer")
_INSOLE = ("insole", "insole_orientation", "insole_accelerometer", "insole_gyroscope")


def _has(states: np.ndarray, row: int, bits: int) -> bool:
    # No states in the block: nothing says the row is off.
    if states.size == 0:
        return True
    return row < states.size and (int(states[row]) & bits) == bits


def sent(block: Block, name: str, row: int) -> bool:
    """Whether the device sends `row` of buffer `name`, as the block's
    states say (the rule quelto-capture chooses its channels by)."""
    connected = layout.STATE_CONNECTED
    if name in _SENSOR:
        bit = layout.STATE_EMG if name == "emg" else layout.STATE_INERTIAL
        return _has(block.sensor_states, row, connected | bit)
    if name in ("footswitch", "footswitch_raw"):
        return _has(block.footswitch_states, row, connected)
    if name in _INSOLE:
        return _has(block.insole_states, row, connected | (0 if name == "insole" else layout.STATE_INERTIAL))
    if name == "analog":
        states = block.analog_states
        return states.size == 0 or (row < states.size and int(states[row]) != layout.ANALOG_STATE_OFF)
    return True


def channels(capture: Capture, keep_all: bool = False) -> dict[str, list[tuple[str, int, int, str]]]:
    """{group key: [(buffer name, row, component, label)]} in the order of
    the layout, split by rate as quelto-capture splits its streams."""
    first = capture[0]
    by_key: dict[tuple[str, int], list] = {}
    for b in layout.BUFFERS:
        buffer = capture.buffers.get(b.name)
        if buffer is None:
            continue
        rows = [r for r in range(b.rows) if keep_all or sent(first, b.name, r)]
        entries = [(b.name, r, c, b.label(r, c)) for r in rows for c in range(b.components)]
        if entries:
            by_key.setdefault((CHANNELS[b.name][0], buffer.rate_hz), []).extend(entries)
    keys = [key for key, _ in by_key]
    out = {}
    for (key, rate), entries in by_key.items():
        out[key if keys.count(key) == 1 else f"{key}-{rate}hz"] = entries
    return out


def _fiff_units():
    from mne.io.constants import FIFF
    return {"V": FIFF.FIFF_UNIT_V, "T": FIFF.FIFF_UNIT_T, "Pa": FIFF.FIFF_UNIT_PA}


def to_mne(capture: Capture, groups: Sequence[str] | None = None,
           keep_all: bool = False) -> dict[str, mne.io.RawArray]:
    """See Capture.to_mne."""
    import mne

    if not len(capture):
        raise ValueError("the capture holds no blocks")
    chosen = channels(capture, keep_all)
    if groups is not None:
        unknown = [g for g in groups if g not in chosen]
        if unknown:
            raise KeyError(f"no channels of group(s) {', '.join(unknown)} in this capture; "
                           f"it has {', '.join(chosen)}")
        chosen = {g: chosen[g] for g in groups}
    fiff = _fiff_units()
    events = capture.events()
    out = {}
    for key, entries in chosen.items():
        first = capture.buffers[entries[0][0]]
        data = np.empty((len(entries), first.samples))
        for k, (name, row, component, _) in enumerate(entries):
            values = capture.buffers[name].data
            series = values if values.ndim == 1 else values[row] if values.ndim == 2 else values[row, :, component]
            data[k] = series
            data[k] *= CHANNELS[name][2]
        info = mne.create_info([label for *_, label in entries], float(first.rate_hz),
                               [CHANNELS[name][1] for name, *_ in entries])
        for ch, (name, *_) in zip(info["chs"], entries):
            unit = CHANNELS[name][3]
            if unit in fiff:
                ch["unit"] = fiff[unit]
        raw = mne.io.RawArray(data, info, verbose=False)
        start = datetime.datetime.fromtimestamp(first.start_time, datetime.timezone.utc)
        raw.set_meas_date(start)
        # Events count from the capture's first scan; this group's first
        # sample may lie a fraction of its period after it.
        shift = first.first_index / first.rate_hz - capture.start_scan / layout.EMG_BLOCK_RATE_HZ
        if events:
            raw.set_annotations(mne.Annotations(
                [onset - shift for onset, _, _ in events],
                [0.0 if duration is None else duration for _, duration, _ in events],
                [text for _, _, text in events], orig_time=start))
        out[key] = raw
    return out
