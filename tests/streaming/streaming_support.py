"""Helpers of the streaming tests: a reader of the tool's BDF+ files (with
NumPy, independent of the EDFlib that writes them), inlets that collect
every stream of a run, and the comparison of both."""
import os
import subprocess
import threading
import time

import numpy as np
import pylsl
from pylsl.util import LostError

STREAM_COUNT = 8  # seven rate groups and the markers


def lsl_config(path, known_peers=True):
    """An lsl_api.cfg: loopback peers (a machine without multicast routes)
    and liblsl's own log quiet."""
    with open(path, "w") as f:
        if known_peers:
            f.write("[lab]\nKnownPeers = {127.0.0.1}\n")
        f.write("[log]\nlevel = -3\n")
    return path


def tool_env(liblsl, config):
    env = dict(os.environ)
    env["QUELTO_LSL_LIBRARY"] = liblsl
    env["LSLAPICFG"] = config
    for name in ("MNE_LSL_LIB", "PYLSL_LIB"):
        env.pop(name, None)
    return env


def read_bdf(path):
    """Signals (label -> physical values) and annotations [(onset, duration,
    text)] of an EDF+/BDF+ file."""
    with open(path, "rb") as f:
        raw = f.read()
    bdf = raw[0] == 0xFF
    width = 3 if bdf else 2
    ns = int(raw[252:256])
    records = int(raw[236:244])

    def field(offset, size):
        return [raw[offset + i * size: offset + (i + 1) * size].decode("latin-1").strip() for i in range(ns)]

    base = 256
    labels = field(base, 16)
    base += ns * (16 + 80)
    units = field(base, 8)
    base += ns * 8
    pmin = np.array(field(base, 8), float)
    pmax = np.array(field(base + ns * 8, 8), float)
    dmin = np.array(field(base + ns * 16, 8), float)
    dmax = np.array(field(base + ns * 24, 8), float)
    base += ns * (32 + 80)
    per_record = [int(x) for x in field(base, 8)]
    header = 256 * (ns + 1)
    record_bytes = sum(per_record) * width
    body = np.frombuffer(raw[header: header + records * record_bytes], np.uint8).reshape(records, record_bytes)
    signals, annotations, steps, file_units = {}, [], {}, {}
    start = 0
    for s in range(ns):
        n = per_record[s] * width
        chunk = body[:, start: start + n].reshape(-1, width)
        start += n
        if labels[s].endswith("Annotations"):
            # Onsets count from the header's whole second; the first record's
            # time-keeping entry holds the fraction of the true start.
            start_offset = None
            for tal in chunk.tobytes().split(b"\x00"):
                parts = tal.split(b"\x14")
                if len(parts) < 3:
                    continue
                timing = parts[0].split(b"\x15")
                if not parts[1]:
                    if start_offset is None:
                        start_offset = float(timing[0])
                    continue
                duration = float(timing[1]) if len(timing) > 1 and timing[1] else -1
                for text in parts[1:-1]:
                    annotations.append((float(timing[0]) - (start_offset or 0.0), duration, text.decode("utf-8")))
            continue
        if bdf:
            digital = chunk[:, 0].astype(np.int32) | (chunk[:, 1].astype(np.int32) << 8) | (chunk[:, 2].astype(np.int32) << 16)
            digital = np.where(digital >= 1 << 23, digital - (1 << 24), digital)
        else:
            digital = chunk.view("<i2").reshape(-1).astype(np.int32)
        step = (pmax[s] - pmin[s]) / (dmax[s] - dmin[s])
        label = labels[s].split(" ", 1)[-1]
        signals[label] = pmin[s] + (digital - dmin[s]) * step
        steps[label] = step
        file_units[label] = units[s]
    return signals, annotations, steps, file_units


def channel_labels(info):
    """Labels, units and types of a stream's channels from its metadata."""
    channels = []
    ch = info.desc().child("channels").child("channel")
    while not ch.empty():
        channels.append((ch.child_value("label"), ch.child_value("unit"), ch.child_value("type")))
        ch = ch.next_sibling()
    return channels


def resolve(source_prefix, count=STREAM_COUNT, timeout=15.0):
    """The streams whose source_id starts with `source_prefix`."""
    deadline = time.monotonic() + timeout
    found = {}
    while time.monotonic() < deadline and len(found) < count:
        for info in pylsl.resolve_bypred(f"starts-with(source_id,'{source_prefix}/')", minimum=count, timeout=1.0):
            found[info.source_id()] = info
    if len(found) < count:
        raise AssertionError(f"resolved {len(found)} of {count} streams: {sorted(found)}")
    return list(found.values())


class Collector:
    """An inlet that pulls one stream on a thread of its own until the
    stream is lost or stop() is called; keeps samples, time stamps and the
    local time each chunk was pulled."""

    def __init__(self, info):
        self.info = info
        self.name = info.name()
        self.inlet = pylsl.StreamInlet(info, max_buflen=120, recover=False)
        self.full_info = self.inlet.info(timeout=10.0)
        self.inlet.open_stream(timeout=10.0)
        self.samples, self.stamps, self.pulled = [], [], []
        self.count = 0
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        while not self._stop.is_set():
            try:
                sample, stamp = self.inlet.pull_sample(timeout=0.1)
                if sample is None:
                    continue
                chunk, stamps = self.inlet.pull_chunk(timeout=0.0, max_samples=100000)
            except LostError:
                return
            now = pylsl.local_clock()
            self.samples.append(sample)
            self.stamps.append(stamp)
            self.samples.extend(chunk)
            self.stamps.extend(stamps)
            self.pulled.extend([now] * (1 + len(stamps)))
            self.count = len(self.stamps)

    def stop(self, timeout=30.0):
        """Waits until the stream is lost (its outlet went and everything
        sent was pulled), at most `timeout` seconds, then stops."""
        self._thread.join(timeout=timeout)
        self._stop.set()
        self._thread.join(timeout=5)

    def arrays(self):
        if self.info.channel_format() == pylsl.cf_string:
            return [s[0] for s in self.samples], np.array(self.stamps)
        return np.array(self.samples, np.float64).reshape(-1, self.info.channel_count()), np.array(self.stamps)


def wait_for(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.02)


def compare_with_file(collectors, bdf_path, start_index=None):
    """Every numeric stream equals the file's channels (within half a
    quantisation step and float precision), sample by sample. With
    `start_index` (stream name -> first file sample), an inlet that joined
    late is compared from there. Returns {stream: samples compared}."""
    signals, _, steps, _ = read_bdf(bdf_path)
    compared = {}
    for c in collectors:
        if c.info.type() == "Markers":
            continue
        data, _ = c.arrays()
        labels = [label for label, _, _ in channel_labels(c.full_info)]
        assert len(labels) == data.shape[1], (c.name, len(labels), data.shape)
        first = (start_index or {}).get(c.name, 0)
        for i, label in enumerate(labels):
            expected = signals[label][first: first + data.shape[0]]
            assert len(expected) == data.shape[0], (c.name, label, len(expected), data.shape[0], first)
            tolerance = steps[label] / 2 + np.abs(expected) * 2e-7 + 1e-9
            bad = np.flatnonzero(np.abs(data[:, i] - expected) > tolerance)
            assert bad.size == 0, (c.name, label, bad[:5], data[bad[:5], i], expected[bad[:5]])
        compared[c.name] = data.shape[0]
    return compared


def run_tool(tool, args, env, stdin=subprocess.PIPE):
    return subprocess.Popen([tool] + args, env=env, stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True)
