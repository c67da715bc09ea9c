"""Blocks, and captures: consecutive blocks whose samples are kept once, in
one array per buffer, with the blocks as views into them."""
from __future__ import annotations

import collections.abc
import ctypes as C
import math
import time
from typing import TYPE_CHECKING, Any, Iterable, Iterator, Sequence, overload

import numpy as np

from . import layout

if TYPE_CHECKING:
    import mne


def _copy(view, dtype):
    n = view.count
    if n == 0 or not view.data:
        return np.empty(0, dtype)
    address = C.cast(view.data, C.c_void_p).value
    ctype = {np.float32: C.c_float, np.int16: C.c_int16, np.uint16: C.c_uint16}[dtype]
    return np.frombuffer((ctype * n).from_address(address), dtype=dtype).copy()


class Block:
    """One block, copied out of the library: sample buffers as NumPy arrays
    shaped by the data layout (see quelto.layout), states, and scalars.
    Attributes have Python names (block.emg) and C names (block.EmgSamples).

    When and in what order it arrived: .sequence (the library's count of
    blocks from this device, from 0), .arrival_time (seconds on the
    time.time() scale), .arrival_monotonic (seconds on the time.monotonic()
    scale) and .blocks_waiting (blocks queued behind it in the library)."""

    __slots__ = ("arrays", "scalars", "sequence", "arrival_time", "arrival_monotonic", "blocks_waiting")

    def __init__(self, arrays: dict[str, np.ndarray], scalars: dict[str, Any], info: Any = None):
        self.arrays = arrays    # Python name -> ndarray
        self.scalars = scalars  # Python name -> int / bool
        self.sequence: int
        self.arrival_time: float | None
        self.arrival_monotonic: float | None
        if info is None:
            self.sequence, self.arrival_time, self.arrival_monotonic, self.blocks_waiting = -1, None, None, 0
        else:
            self.sequence = info.sequence
            self.arrival_time = info.arrivalRealtimeNs / 1e9
            self.arrival_monotonic = info.arrivalMonotonicNs / 1e9
            self.blocks_waiting = info.blocksWaiting

    @classmethod
    def from_record(cls, rec, info=None) -> Block:
        arrays = {}
        for b in layout.BUFFERS:
            flat = _copy(getattr(rec, b.field), np.float32)
            arrays[b.name] = flat.reshape(b.shape(flat.size))
        for name, field, dtype in layout.STATES:
            view = getattr(rec, field)
            if dtype == np.int16 or field == "RemoteControlEvents":
                arrays[name] = _copy(view, dtype)
            else:
                arrays[name] = _copy(view, np.float32).astype(dtype)
        scalars = {py: getattr(rec, c) for c, py in layout.SCALARS.items()}
        return cls(arrays, scalars, info)

    _C_NAMES = {**{b.field: b.name for b in layout.BUFFERS},
                **{f: n for n, f, _ in layout.STATES}, **layout.SCALARS}

    def __getattr__(self, name: str) -> Any:
        name = Block._C_NAMES.get(name, name)
        if name in self.arrays:
            return self.arrays[name]
        if name in self.scalars:
            return self.scalars[name]
        raise AttributeError(name)

    def __getitem__(self, name: str) -> Any:
        return getattr(self, name)

    def samples(self, name: str) -> int:
        """Samples per row of a sample buffer in this block."""
        a = self.arrays[layout.BY_FIELD[name].name if name in layout.BY_FIELD else name]
        return a.shape[0] if a.ndim == 1 else a.shape[1]

    def __repr__(self):
        return f"<Block scan {self.scalars.get('scan_number')}, {self.samples('emg')} EMG samples>"


class CapturedBuffer:
    """One sample buffer of a capture: the blocks' samples joined along the
    sample axis (.data, shaped as in a Block), .rate_hz, .unit, the channel
    .labels ([row] or [row][component], as in the files quelto-capture
    writes), and one time per sample (.times, seconds on the time.time()
    scale, worked out on each access)."""

    __slots__ = ("name", "data", "rate_hz", "unit", "labels", "first_index", "_anchor")

    def __init__(self, name: str, data: np.ndarray, rate_hz: int, unit: str, labels: list,
                 first_index: int = 0, anchor: float = 0.0):
        self.name, self.data, self.rate_hz, self.unit, self.labels = name, data, rate_hz, unit, labels
        self.first_index = first_index  # index of the first sample since the capture started
        self._anchor = anchor           # wall-clock time of sample index 0

    @property
    def samples(self) -> int:
        return self.data.shape[0] if self.data.ndim == 1 else self.data.shape[1]

    @property
    def start_time(self) -> float:
        """Time of the first sample (seconds on the time.time() scale)."""
        return self._anchor + self.first_index / self.rate_hz

    @property
    def times(self) -> np.ndarray:
        return self._anchor + (self.first_index + np.arange(self.samples)) / self.rate_hz

    def __repr__(self):
        return f"<CapturedBuffer {self.name} {self.data.shape} at {self.rate_hz:g} Hz>"


class _Joined:
    """One buffer's samples of consecutive blocks in one array that is
    reserved ahead and grows only when the reservation was short."""

    def __init__(self, buffer_layout: layout.Buffer):
        self.buffer_layout = buffer_layout
        self.axis = 0 if buffer_layout.field == "SyncSamples" else 1
        self.array: np.ndarray | None = None
        self.used = 0

    @property
    def capacity(self) -> int:
        return 0 if self.array is None else self.array.shape[self.axis]

    def reserve(self, samples: int) -> None:
        if samples <= self.capacity:
            return
        shape = list(self.buffer_layout.shape(0))
        shape[self.axis] = samples
        bigger = np.empty(shape, np.float32)
        if self.array is not None and self.used:
            self._at(bigger, 0, self.used)[...] = self._at(self.array, 0, self.used)
        self.array = bigger

    def _at(self, array, start, stop):
        return array[start:stop] if self.axis == 0 else array[:, start:stop]

    def append(self, part: np.ndarray) -> None:
        n = part.shape[self.axis]
        if self.used + n > self.capacity:
            self.reserve(max(self.used + n, int(self.capacity * 1.25)))
        self._at(self.array, self.used, self.used + n)[...] = part
        self.used += n

    def result(self) -> np.ndarray | None:
        # A view of the samples: what was reserved beyond them is at most
        # the estimate's error, a sample per row of the slow buffers.
        return None if self.array is None else self._at(self.array, 0, self.used)


def _table_dtype():
    from . import _records as R
    fields = dict(R.DataAvailableEventArgs._fields_)
    kinds = {C.c_int32: np.int32, C.c_uint16: np.uint16, C.c_bool: np.bool_}
    columns = [(py, kinds[fields[c]]) for c, py in layout.SCALARS.items()]
    columns += [("sequence", np.int64), ("arrival_time", np.float64), ("arrival_monotonic", np.float64),
                ("blocks_waiting", np.int32)]
    columns += [("at_" + b.name, np.int64) for b in layout.BUFFERS]
    columns += [("at_" + name, np.int64) for name, _, _ in layout.STATES]
    return np.dtype(columns)


class _Builder:
    """Joins blocks as they come. Given the capture's length in scans, it
    reserves each buffer's samples once the rates are known from the first
    half second (held until then), so nothing is copied twice."""

    SETTLE_SCANS = layout.EMG_BLOCK_RATE_HZ // 2

    def __init__(self, expected_scans: int | None = None):
        self.expected_scans = expected_scans
        self.joined = {b.name: _Joined(b) for b in layout.BUFFERS}
        self.states = {name: _Growing(dtype) for name, _, dtype in layout.STATES}
        self.table = np.zeros(16, _table_dtype())
        self.blocks = 0
        self.scans = 0
        self.first_scan = 0
        self.held: list[Block] | None = [] if expected_scans else None

    def add(self, block: Block) -> None:
        if self.blocks == 0:
            self.first_scan = int(block.scalars.get("scan_number", 0))
        if self.blocks == len(self.table):
            self.table = np.resize(self.table, 2 * len(self.table))
        row = self.table[self.blocks]
        for name in self.table.dtype.names[:len(layout.SCALARS)]:
            row[name] = block.scalars.get(name, 0)
        row["sequence"], row["blocks_waiting"] = block.sequence, block.blocks_waiting
        row["arrival_time"] = np.nan if block.arrival_time is None else block.arrival_time
        row["arrival_monotonic"] = np.nan if block.arrival_monotonic is None else block.arrival_monotonic
        for name, growing in self.states.items():
            row["at_" + name] = growing.used
            if name in block.arrays:
                growing.append(block.arrays[name])
        self.blocks += 1
        self.scans += block.samples("sync") if "sync" in block.arrays else 0
        if self.held is not None:
            self.held.append(block)
            if self.scans >= self.SETTLE_SCANS:
                self._settle()
            return
        self._take(block, self.blocks - 1)

    def _take(self, block: Block, index: int) -> None:
        row = self.table[index]
        for name, joined in self.joined.items():
            row["at_" + name] = joined.used
            part = block.arrays.get(name)
            if part is not None and part.size:
                joined.append(part)

    def _settle(self) -> None:
        held, self.held = self.held or [], None
        expected = self.expected_scans or self.scans
        for name, joined in self.joined.items():
            count = sum(b.samples(name) for b in held if name in b.arrays)
            if count and self.scans:
                # The held blocks' count is short of rate x time by less
                # than a sample: one more is an upper bound of the rate.
                joined.reserve(math.ceil((count + 1) * expected / self.scans))
        for i, block in enumerate(held):
            self._take(block, i)

    def finish(self) -> _Builder:
        if self.held is not None:
            held, self.held = self.held, None
            for i, block in enumerate(held):
                self._take(block, i)
        self.table = self.table[:self.blocks].copy()
        return self


class _Growing:
    """A 1-D array that doubles as it grows (states, remote-control codes)."""

    def __init__(self, dtype):
        self.array = np.empty(64, dtype)
        self.used = 0

    def append(self, part):
        part = np.asarray(part).ravel()
        if self.used + part.size > self.array.size:
            self.array = np.resize(self.array, max(2 * self.array.size, self.used + part.size))
        self.array[self.used:self.used + part.size] = part
        self.used += part.size

    def result(self):
        return self.array[:self.used].copy()


class Capture(collections.abc.Sequence):
    """What Device.capture() returns: the sequence of blocks, and per sample
    buffer its joined samples with a time vector: capture["emg"].data,
    capture["emg"].times, capture.buffers (only buffers with samples).

    The samples are held once: capture["emg"].data is one array, and each
    block (capture[i]) is made on access, its arrays views into the joined
    ones. Capture(blocks) joins a sequence of Blocks the same way.

    Sample times come from the scan numbers and each buffer's rate,
    anchored on the first block's arrival: a block arrives when its last
    scan is complete, so the first block's first sample lies one block
    duration before that arrival."""

    def __init__(self, blocks: Iterable[Block] = ()):
        blocks = list(blocks)
        builder = _Builder()
        for name, joined in builder.joined.items():
            joined.reserve(sum(b.samples(name) for b in blocks if name in b.arrays))
        for block in blocks:
            builder.add(block)
        self._load(builder.finish())

    @classmethod
    def _from_builder(cls, builder: _Builder) -> Capture:
        capture = cls.__new__(cls)
        capture._load(builder.finish())
        return capture

    def _load(self, built: _Builder) -> None:
        self._table = built.table
        self._data = {name: joined.result() for name, joined in built.joined.items()}
        self._states = {name: growing.result() for name, growing in built.states.items()}
        self._ends = {name: j.used for name, j in built.joined.items()}
        self._ends.update({name: g.used for name, g in built.states.items()})
        self.buffers: dict[str, CapturedBuffer] = {}
        self.start_scan = built.first_scan
        self.scans = built.scans
        self.start_time = float("nan")
        if not len(self._table):
            return
        first = self._table[0]
        first_scans = self._end("sync", 0) - int(first["at_sync"])
        # Stream time (s) of the first block's end, on the wall clock.
        end_of_first = (self.start_scan + first_scans) / layout.EMG_BLOCK_RATE_HZ
        arrival = float(first["arrival_time"])
        anchor = (arrival if not math.isnan(arrival) else time.time()) - end_of_first
        self.start_time = anchor + self.start_scan / layout.EMG_BLOCK_RATE_HZ
        duration = self.scans / layout.EMG_BLOCK_RATE_HZ
        for b in layout.BUFFERS:
            data = self._data[b.name]
            if data is None or duration <= 0:
                continue
            n = data.shape[0] if data.ndim == 1 else data.shape[1]
            rate = round(n / duration)
            if b.components == 1:
                labels: list = [b.label(r) for r in range(b.rows)]
            else:
                labels = [[b.label(r, c) for c in range(b.components)] for r in range(b.rows)]
            if b.field == "SyncSamples":
                labels = labels[0]
            first_index = self.start_scan * rate // layout.EMG_BLOCK_RATE_HZ
            self.buffers[b.name] = CapturedBuffer(b.name, data, rate, b.buffer_unit, labels, first_index, anchor)

    @property
    def duration(self) -> float:
        """Seconds of signal (scans / EMG rate)."""
        return self.scans / layout.EMG_BLOCK_RATE_HZ

    def _end(self, name: str, i: int) -> int:
        column = self._table["at_" + name]
        return int(column[i + 1]) if i + 1 < len(column) else self._ends[name]

    def __len__(self) -> int:
        return len(self._table)

    def _block(self, i: int) -> Block:
        row = self._table[i]
        arrays = {}
        for b in layout.BUFFERS:
            data = self._data[b.name]
            start, stop = int(row["at_" + b.name]), self._end(b.name, i)
            if data is None:
                arrays[b.name] = np.empty(b.shape(0), np.float32)
            else:
                arrays[b.name] = data[start:stop] if data.ndim == 1 else data[:, start:stop]
        for name in self._states:
            arrays[name] = self._states[name][int(row["at_" + name]):self._end(name, i)]
        scalars = {py: row[py].item() for py in layout.SCALARS.values()}
        block = Block(arrays, scalars)
        block.sequence, block.blocks_waiting = int(row["sequence"]), int(row["blocks_waiting"])
        arrival, monotonic = float(row["arrival_time"]), float(row["arrival_monotonic"])
        block.arrival_time = None if math.isnan(arrival) else arrival
        block.arrival_monotonic = None if math.isnan(monotonic) else monotonic
        return block

    @overload
    def __getitem__(self, key: int) -> Block: ...
    @overload
    def __getitem__(self, key: slice) -> list[Block]: ...
    @overload
    def __getitem__(self, key: str) -> CapturedBuffer: ...

    def __getitem__(self, key):
        if isinstance(key, str):
            try:
                return self.buffers[layout.BY_FIELD[key].name if key in layout.BY_FIELD else key]
            except KeyError:
                raise KeyError(f"no samples of {key!r} in this capture") from None
        if isinstance(key, slice):
            return [self._block(i) for i in range(*key.indices(len(self)))]
        i = int(key)
        if i < 0:
            i += len(self)
        if not 0 <= i < len(self):
            raise IndexError("block index out of range")
        return self._block(i)

    def __iter__(self) -> Iterator[Block]:
        for i in range(len(self)):
            yield self._block(i)

    def column(self, name: str) -> np.ndarray:
        """One scalar of every block as an array (capture.column("scan_number")),
        or "sequence", "arrival_time", "arrival_monotonic", "blocks_waiting"."""
        return self._table[layout.SCALARS.get(name, name)].copy()

    def events(self) -> list[tuple[float, float | None, str]]:
        """Triggers and remote-control presses as (onset, duration,
        description), onsets in seconds from the capture's first scan. As
        in quelto-capture's files: "StartTrigger", "StopTrigger" (no
        duration), "Marker" for code 1 and "Remote <code>" for others, with
        how long the button was held, known to a block (None when still
        held at the end)."""
        return _events(self)

    def to_mne(self, groups: Sequence[str] | None = None, keep_all: bool = False) -> dict[str, mne.io.RawArray]:
        """One mne.io.RawArray per rate group ("emg", "sync", "imu",
        "footswitch", "insole", "insole-imu", "analog", as quelto-capture's
        CSV files and LSL streams; a group of two rates is split as
        "imu-200hz"), with the triggers and presses of events() as
        annotations and the first sample's wall-clock time, to the
        microsecond, as meas_date. See quelto._mne for channel types and
        units. Needs MNE (pip install "quelto[mne]")."""
        from ._mne import to_mne
        return to_mne(self, groups=groups, keep_all=keep_all)

    def __repr__(self):
        return f"<Capture {len(self)} blocks, {self.duration:g} s, buffers {', '.join(self.buffers)}>"


def _events(capture: Capture) -> list[tuple[float, float | None, str]]:
    rate = layout.EMG_BLOCK_RATE_HZ
    t = capture._table
    start = capture.start_scan
    out: list[list] = []
    held: dict[int, int] = {}  # code -> index in out of a press still held
    for i in range(len(t)):
        row = t[i]
        scan = int(row["scan_number"])
        state = int(row["remote_control_state"])
        # A press held at the end of the previous block ends in this one
        # when this block ends with its button up.
        for code, k in list(held.items()):
            if not state & (1 << (code - 1)):
                out[k][1] = max(0, scan - out[k][3]) / rate
                del held[code]
        if row["start_trigger_detected"]:
            out.append([(int(row["start_trigger_scan"]) - start) / rate, None, "StartTrigger", 0])
        if row["stop_trigger_detected"]:
            out.append([(int(row["stop_trigger_scan"]) - start) / rate, None, "StopTrigger", 0])
        codes = capture._states["remote_events"][int(row["at_remote_events"]):capture._end("remote_events", i)]
        for code in (int(c) for c in codes):
            entry = [(scan - start) / rate, None, "Marker" if code == 1 else f"Remote {code}", scan]
            if 1 <= code <= 16 and state & (1 << (code - 1)):
                held[code] = len(out)
            elif 1 <= code <= 16:
                # Up again before the block ended.
                n = capture._end("sync", i) - int(row["at_sync"])
                entry[1] = n / rate if n > 0 else None
            out.append(entry)
    return [(onset, duration, text) for onset, duration, text, _ in out]
