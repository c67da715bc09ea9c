"""Device: one acquisition device over the C API."""
import atexit
import collections
import ctypes as C
import enum
import logging
import threading
import time
import weakref

import numpy as np

from . import _lib
from . import _records as R
from . import config as _config
from . import layout
from .errors import CallbackError, QueltoError

log = logging.getLogger("quelto")

STATE_UNKNOWN = -1


class Period(enum.IntEnum):
    """Block periods of start(period=...)."""
    DEFAULT = 0   # 100 ms blocks
    MS50 = 1
    MS25 = 2
    MS10 = 3


PERIOD_SECONDS = {Period.DEFAULT: 0.1, Period.MS50: 0.05, Period.MS25: 0.025, Period.MS10: 0.01}

SoftwareVersion = collections.namedtuple("SoftwareVersion", "major minor build revision")


def _period(value):
    if isinstance(value, str):
        try:
            return Period[value.upper()]
        except KeyError:
            raise ValueError(f"period must be one of {[p.name for p in Period]}, got {value!r}") from None
    return Period(_config._integer("period", value, 0, 3))


class DeviceState(enum.IntEnum):
    NOT_INITIALIZED = 0
    IDLE = 1
    CONFIGURED = 2
    CAPTURING = 3
    CALIBRATING = 4
    ERROR = 5
    DISPOSED = 6


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

    def __init__(self, arrays, scalars, info=None):
        self.arrays = arrays    # Python name -> ndarray
        self.scalars = scalars  # Python name -> int / bool
        if info is None:
            self.sequence, self.arrival_time, self.arrival_monotonic, self.blocks_waiting = -1, None, None, 0
        else:
            self.sequence = info.sequence
            self.arrival_time = info.arrivalRealtimeNs / 1e9
            self.arrival_monotonic = info.arrivalMonotonicNs / 1e9
            self.blocks_waiting = info.blocksWaiting

    @classmethod
    def from_record(cls, rec, info=None):
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

    def __getattr__(self, name):
        name = Block._C_NAMES.get(name, name)
        if name in self.arrays:
            return self.arrays[name]
        if name in self.scalars:
            return self.scalars[name]
        raise AttributeError(name)

    def __getitem__(self, name):
        return getattr(self, name)

    def samples(self, name):
        """Samples per row of a sample buffer in this block."""
        a = self.arrays[layout.BY_FIELD[name].name if name in layout.BY_FIELD else name]
        return a.shape[0] if a.ndim == 1 else a.shape[1]

    def __repr__(self):
        return f"<Block scan {self.scalars['scan_number']}, {self.samples('emg')} EMG samples>"


_live = weakref.WeakSet()
_retired = []


@atexit.register
def _close_all():
    # Worker threads must not call into an interpreter that is going away.
    for device in list(_live):
        device._close(raise_pending=False)


def _dispatcher(ref):
    def on_block(record, info, _context):
        device = ref()
        if device is not None:
            device._on_block(record, info)
    return R.BlockCallback(on_block)


class CapturedBuffer:
    """One sample buffer of a capture: the blocks' samples joined along the
    sample axis (.data, shaped as in a Block), one time per sample (.times,
    seconds on the time.time() scale), .rate_hz, .unit and the channel
    .labels ([row] or [row][component], as in the files quelto-capture
    writes)."""

    __slots__ = ("name", "data", "times", "rate_hz", "unit", "labels")

    def __init__(self, name, data, times, rate_hz, unit, labels):
        self.name, self.data, self.times, self.rate_hz, self.unit, self.labels = \
            name, data, times, rate_hz, unit, labels

    def __repr__(self):
        return f"<CapturedBuffer {self.name} {self.data.shape} at {self.rate_hz:g} Hz>"


class Capture(list):
    """What Device.capture() returns: the list of blocks, and per sample
    buffer its joined samples with a time vector: capture["emg"].data,
    capture["emg"].times, capture.buffers (only buffers with samples).

    Sample times come from the scan numbers and each buffer's rate,
    anchored on the first block's arrival: a block arrives when its last
    scan is complete, so the first block's first sample lies one block
    duration before that arrival."""

    def __init__(self, blocks):
        super().__init__(blocks)
        self.buffers = {}
        if not blocks:
            return
        first = blocks[0]
        scans = sum(b.samples("sync") for b in blocks)
        duration = scans / layout.EMG_BLOCK_RATE_HZ
        start_scan = first.scan_number
        # Stream time (s) of the first block's end, on the wall clock.
        end_of_first = (start_scan + first.samples("sync")) / layout.EMG_BLOCK_RATE_HZ
        anchor = (first.arrival_time if first.arrival_time is not None else time.time()) - end_of_first
        for name, data in layout.concatenate(blocks).items():
            b = layout.BY_NAME[name]
            n = data.shape[0] if data.ndim == 1 else data.shape[1]
            if n == 0 or duration <= 0:
                continue
            rate = round(n / duration)
            first_index = start_scan * rate // layout.EMG_BLOCK_RATE_HZ
            times = anchor + (first_index + np.arange(n)) / rate
            if b.components == 1:
                labels = [b.label(r) for r in range(b.rows)]
            else:
                labels = [[b.label(r, c) for c in range(b.components)] for r in range(b.rows)]
            if b.field == "SyncSamples":
                labels = labels[0]
            self.buffers[name] = CapturedBuffer(name, data, times, rate, b.buffer_unit, labels)

    def __getitem__(self, key):
        if isinstance(key, str):
            try:
                return self.buffers[layout.BY_FIELD[key].name if key in layout.BY_FIELD else key]
            except KeyError:
                raise KeyError(f"no samples of {key!r} in this capture") from None
        return super().__getitem__(key)


class Device:
    """One device. Use as a context manager, or call close().

    queue_size: blocks kept for blocks()/next_block() (oldest dropped when
    full; dropped_blocks counts them); 0 keeps none."""

    def __init__(self, queue_size=256):
        queue_size = _config._integer("queue_size", queue_size, 0, 1 << 20)
        self._lib = _lib.load()
        self._lock = threading.RLock()        # callbacks list and pending error
        self._callbacks = []
        self._pending = None
        self._queue = collections.deque()
        self._queue_size = queue_size
        self._arrived = threading.Condition(threading.Lock())
        self.dropped_blocks = 0
        self.blocks_received = 0
        self.callback_errors = 0             # exceptions raised by callbacks
        self._reported = set()               # callbacks whose failure was logged
        self._dropping = False               # in a run of dropped blocks
        self._capturing = None               # None: never started; then True/False
        self._handle = None
        self._worker = None
        handle = self._lib.Quelto_Bridge_Create()
        if not handle:
            raise _lib.failure(self._lib, "Quelto_Bridge_Create failed")
        self._handle = handle
        # The C function object lives as long as the device: the library
        # keeps only its address.
        self._c_callback = _dispatcher(weakref.ref(self))
        self._call("Quelto_Bridge_RegisterBlockCallback", self._c_callback, None)
        _live.add(self)

    # -- life --------------------------------------------------------------
    def __enter__(self):
        return self

    def __exit__(self, exc_type, exc, tb):
        self._close(raise_pending=exc_type is None)
        return False

    def close(self):
        """Stops the worker and releases the device; raises CallbackError
        when a callback raised since the last call."""
        self._close(raise_pending=True)

    def __del__(self):
        try:
            self._close(raise_pending=False)
        except Exception:
            pass

    def _close(self, raise_pending):
        handle, self._handle = getattr(self, "_handle", None), None
        if handle:
            self._lib.Quelto_Bridge_Destroy(handle)
            if threading.get_ident() == getattr(self, "_worker", None):
                # Closed from inside a callback: the C function is still
                # running, so its object must outlive this device.
                _retired.append(self._c_callback)
            _live.discard(self)
            with self._arrived:
                self._arrived.notify_all()
        if raise_pending:
            self._raise_pending()
        elif self._take_pending() is not None:
            log.warning("a block callback raised and nobody called the device again")

    @property
    def closed(self):
        return self._handle is None

    # -- calls ---------------------------------------------------------------
    def _take_pending(self):
        with self._lock:
            pending, self._pending = self._pending, None
        return pending

    def _raise_pending(self):
        pending = self._take_pending()
        if pending is not None:
            raise CallbackError(f"a block callback raised {type(pending).__name__}: {pending}") from pending

    def _call(self, name, *args):
        self._raise_pending()
        if self._handle is None:
            raise QueltoError("the device is closed")
        result = getattr(self._lib, name)(self._handle, *args)
        error = _lib.last_error(self._lib)
        if error is not None:
            raise _lib.library_error(error)
        return result

    def start(self, period=Period.DEFAULT):
        """Starts capture with a block period: a Period, its name ("MS10")
        or number (0 to 3). The default is 100 ms blocks."""
        self._call("Quelto_Bridge_StartCapturingWithPeriod", int(_period(period)))
        self._capturing = True

    def start_trigger(self):
        """Sends an internal start trigger: a following block has
        start_trigger_detected and start_trigger_scan."""
        self._call("Quelto_Bridge_GenerateInternalStartTrigger")

    def stop_trigger(self):
        self._call("Quelto_Bridge_GenerateInternalStopTrigger")

    def apply_configuration_file(self, path):
        """Loads a configuration file (see docs/configuration-format.md) and
        sends its capture configuration, then each of the 36 sensors'
        configurations. A file that does not load sends nothing and raises
        QueltoError."""
        import os
        encoded = os.fsencode(path) if not isinstance(path, str) else path.encode("utf-8")
        if self._call("Quelto_Bridge_ApplyConfigurationFile", encoded) != 0:
            raise _lib.failure(self._lib, "the configuration file was not applied")

    @property
    def software_version(self):
        """The device's software version: (major, minor, build, revision)."""
        v = R.SoftwareVersion()
        if self._call("Quelto_Bridge_GetSoftwareVersion", C.byref(v)) != 0:
            raise _lib.failure(self._lib, "the software version could not be read")
        return SoftwareVersion(v.Major, v.Minor, v.Build, v.Revision)

    def stop(self):
        self._call("Quelto_Bridge_StopCapturing")
        if self._capturing:
            self._capturing = False

    @property
    def state(self):
        """DeviceState (an int when the number is not a known state)."""
        n = self._call("Quelto_Bridge_GetdeviceState")
        try:
            return DeviceState(n)
        except ValueError:
            return n

    def configure_capture(self, record=None, **values):
        """Sends a capture configuration: keyword values (see
        quelto.config.CAPTURE_FIELDS; unnamed fields are zero), or a
        prepared CaptureConfiguration record."""
        if record is not None:
            if values:
                raise TypeError("configure_capture() takes a record or keyword values, not both")
            if not isinstance(record, R.CaptureConfiguration):
                raise TypeError(f"record must be a CaptureConfiguration, not {type(record).__name__}")
        else:
            record = _config.capture_configuration(**values)
        self._call("Quelto_Bridge_ConfigureCapture", C.byref(record))
        return record

    def configure_sensor(self, sensor=0, record=None, **values):
        """Sends a sensor configuration to sensor 1..36, or to all with 0."""
        sensor = _config.sensor_index(sensor)
        if record is not None:
            if values:
                raise TypeError("configure_sensor() takes a record or keyword values, not both")
            if not isinstance(record, R.SensorConfiguration):
                raise TypeError(f"record must be a SensorConfiguration, not {type(record).__name__}")
        else:
            record = _config.sensor_configuration(**values)
        self._call("Quelto_Bridge_ConfigureSensor", C.byref(record), sensor)
        return record

    def calibrate_imu_offset(self, sensor=0):
        self._call("Quelto_Bridge_CalibrateImuOffset", _config.sensor_index(sensor))

    def calibrate_gyroscope_offset(self, sensor=0):
        self._call("Quelto_Bridge_CalibrateGyroscopeOffset", _config.sensor_index(sensor))

    def calibrate_accelerometer_offset(self, sensor=0):
        self._call("Quelto_Bridge_CalibrateAccelerometerOffset", _config.sensor_index(sensor))

    def calibrate_emg_offset(self, sensor=0):
        self._call("Quelto_Bridge_CalibrateEMGOffset", _config.sensor_index(sensor))

    def update_display(self):
        self._call("Quelto_Bridge_UpdateDisplay")

    def save_current_rx_configuration(self):
        self._call("Quelto_Bridge_SaveCurrentRxConfiguration")

    # -- blocks --------------------------------------------------------------
    def add_callback(self, fn):
        """fn(block) runs on the device's worker thread for each block, with
        a Block of its own. An exception it raises is kept and raised as
        CallbackError by the next call on this device. Returns fn."""
        if not callable(fn):
            raise TypeError(f"callback must be callable, not {type(fn).__name__}")
        with self._lock:
            self._callbacks.append(fn)
        return fn

    def remove_callback(self, fn):
        """Removes fn; when this returns on another thread, fn is not running
        and is not called again."""
        with self._lock:
            try:
                self._callbacks.remove(fn)
            except ValueError:
                raise ValueError("callback is not registered") from None

    def _on_block(self, record, info):
        # Worker thread, interpreter lock held (ctypes takes it). Nothing
        # may escape: ctypes would only print it.
        try:
            block = Block.from_record(record.contents, info.contents)
        except BaseException as e:  # noqa: B902
            self._store(e, None)
            return
        dropped = None
        with self._arrived:
            self.blocks_received += 1
            if self._queue_size:
                if len(self._queue) >= self._queue_size:
                    self._queue.popleft()
                    self.dropped_blocks += 1
                    if not self._dropping:
                        dropped = self.dropped_blocks
                    self._dropping = True
                else:
                    self._dropping = False
                self._queue.append(block)
            self._arrived.notify_all()
        if dropped is not None:
            # Once per run of drops: the queue stayed full since.
            log.warning("the block queue is full (%d blocks): dropping the oldest, %d dropped so far; "
                        "read blocks faster or use a larger queue_size", self._queue_size, dropped)
        self._worker = threading.get_ident()
        raised = []
        with self._lock:
            for fn in list(self._callbacks):
                if fn not in self._callbacks:
                    continue
                try:
                    fn(block)
                except BaseException as e:  # noqa: B902
                    raised.append((e, fn))
        for e, fn in raised:
            self._store(e, fn)

    def _store(self, e, fn):
        # The first failure of each callback is logged with its traceback;
        # later ones are only counted (callback_errors).
        with self._lock:
            self.callback_errors += 1
            if self._pending is None:
                self._pending = e
            key = id(fn) if fn is not None else None
            first = key not in self._reported
            self._reported.add(key)
        if first:
            what = "converting a block" if fn is None else f"block callback {getattr(fn, '__name__', fn)!r}"
            log.error("%s raised %s; further failures of it are counted in callback_errors, not logged",
                      what, type(e).__name__, exc_info=(type(e), e, e.__traceback__))
        with self._arrived:
            self._arrived.notify_all()

    def next_block(self, timeout=1.0):
        """The oldest queued block; waits up to `timeout` seconds (None:
        forever) and raises TimeoutError when none came, saying so when
        capture has not been started or was stopped."""
        if timeout is not None:
            timeout = _config._real("timeout", timeout)
            if timeout < 0:
                raise ValueError("timeout must not be negative")
        if not self._queue_size:
            raise QueltoError("this device keeps no queue (queue_size=0)")
        deadline = None if timeout is None else time.monotonic() + timeout
        while True:
            self._raise_pending()
            with self._arrived:
                while not self._queue and self._pending is None:
                    if self._handle is None:
                        raise QueltoError("the device is closed")
                    left = None if deadline is None else deadline - time.monotonic()
                    if left is not None and left <= 0:
                        raise TimeoutError(f"no block within {timeout} s{self._why_no_blocks()}")
                    self._arrived.wait(left)
                if self._pending is None:
                    return self._queue.popleft()

    def _why_no_blocks(self):
        if self._capturing is None:
            return ": capture has not been started; call start() first"
        return ": capture was stopped" if not self._capturing else ""

    def blocks(self, count=None, timeout=1.0):
        """Iterates over queued and arriving blocks: `count` of them, or
        until the device closes. Each waits up to `timeout` seconds."""
        if count is not None:
            count = _config._integer("count", count, 0, 2**62)
        n = 0
        while count is None or n < count:
            try:
                block = self.next_block(timeout)
            except QueltoError:
                if self._handle is None and count is None:
                    return
                raise
            n += 1
            yield block

    __iter__ = blocks

    def clear_queue(self):
        with self._arrived:
            self._queue.clear()

    def capture(self, seconds, timeout=2.0, period=Period.DEFAULT):
        """Starts capture, collects blocks for `seconds` of signal (counted
        in scans), stops, and returns a Capture: the list of blocks, and for
        each buffer with samples its joined data, a time vector, the rate,
        the unit and the channel labels (capture["emg"].times)."""
        seconds = _config._real("seconds", seconds)
        if seconds <= 0:
            raise ValueError("seconds must be positive")
        period = _period(period)
        self.clear_queue()
        self.start(period)
        out, samples = [], 0
        try:
            for block in self.blocks(timeout=timeout):
                out.append(block)
                samples += block.samples("sync")
                if samples >= seconds * layout.EMG_BLOCK_RATE_HZ:
                    break
        finally:
            self.stop()
        return Capture(out)
