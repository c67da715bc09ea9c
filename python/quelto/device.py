"""Device: one acquisition device over the C API."""
from __future__ import annotations

import atexit
import collections
import ctypes as C
import enum
import logging
import math
import os
import threading
import time
import weakref
from typing import Any, Callable, Iterator, Union

from . import _lib
from . import _records as R
from . import config as _config
from . import layout
from .capture import Block, Capture, _Builder
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


_live: weakref.WeakSet[Device] = weakref.WeakSet()
_retired: list = []


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


class Device:
    """One device. Use as a context manager, or call close().

    queue_size: blocks kept for blocks()/next_block() (oldest dropped when
    full; dropped_blocks counts them); 0 keeps none."""

    def __init__(self, queue_size: int = 256) -> None:
        queue_size = _config._integer("queue_size", queue_size, 0, 1 << 20)
        self._lib = _lib.load()
        self._lock = threading.RLock()        # callbacks list and pending error
        self._callbacks: list[Callable[[Block], Any]] = []
        self._pending = None
        self._queue: collections.deque[Block] = collections.deque()
        self._queue_size = queue_size
        self._arrived = threading.Condition(threading.Lock())
        self.dropped_blocks = 0
        self.blocks_received = 0
        self.callback_errors = 0             # exceptions raised by callbacks
        self._reported: set = set()               # callbacks whose failure was logged
        self._dropping = False               # in a run of dropped blocks
        self._capturing: bool | None = None  # None: never started; then True/False
        self._sink: Callable[[Block], None] | None = None  # capture()'s collector, called on the worker
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
    def __enter__(self) -> Device:
        return self

    def __exit__(self, exc_type, exc, tb):
        self._close(raise_pending=exc_type is None)
        return False

    def close(self) -> None:
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
    def closed(self) -> bool:
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

    def start(self, period: PeriodLike = Period.DEFAULT) -> None:
        """Starts capture with a block period: a Period, its name ("MS10")
        or number (0 to 3). The default is 100 ms blocks."""
        self._call("Quelto_Bridge_StartCapturingWithPeriod", int(_period(period)))
        self._capturing = True

    def start_trigger(self) -> None:
        """Sends an internal start trigger: a following block has
        start_trigger_detected and start_trigger_scan."""
        self._call("Quelto_Bridge_GenerateInternalStartTrigger")

    def stop_trigger(self) -> None:
        self._call("Quelto_Bridge_GenerateInternalStopTrigger")

    def apply_configuration_file(self, path: str | os.PathLike) -> None:
        """Loads a configuration file (see docs/configuration-format.md) and
        sends its capture configuration, then each of the 36 sensors'
        configurations. A file that does not load sends nothing and raises
        QueltoError."""
        encoded = os.fsencode(path) if not isinstance(path, str) else path.encode("utf-8")
        if b"\0" in encoded:
            raise ValueError("path contains a NUL character")  # the library would read it cut there
        if self._call("Quelto_Bridge_ApplyConfigurationFile", encoded) != 0:
            raise _lib.failure(self._lib, "the configuration file was not applied")

    @property
    def software_version(self) -> SoftwareVersion:
        """The device's software version: (major, minor, build, revision)."""
        v = R.SoftwareVersion()
        if self._call("Quelto_Bridge_GetSoftwareVersion", C.byref(v)) != 0:
            raise _lib.failure(self._lib, "the software version could not be read")
        return SoftwareVersion(v.Major, v.Minor, v.Build, v.Revision)

    def stop(self) -> None:
        self._call("Quelto_Bridge_StopCapturing")
        if self._capturing:
            self._capturing = False

    @property
    def state(self) -> DeviceState | int:
        """DeviceState (an int when the number is not a known state)."""
        n = self._call("Quelto_Bridge_GetdeviceState")
        try:
            return DeviceState(n)
        except ValueError:
            return n

    def configure_capture(self, record: R.CaptureConfiguration | None = None, **values: Any) -> R.CaptureConfiguration:
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

    def configure_sensor(self, sensor: int = 0, record: R.SensorConfiguration | None = None,
                         **values: Any) -> R.SensorConfiguration:
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

    def calibrate_imu_offset(self, sensor: int = 0) -> None:
        self._call("Quelto_Bridge_CalibrateImuOffset", _config.sensor_index(sensor))

    def calibrate_gyroscope_offset(self, sensor: int = 0) -> None:
        self._call("Quelto_Bridge_CalibrateGyroscopeOffset", _config.sensor_index(sensor))

    def calibrate_accelerometer_offset(self, sensor: int = 0) -> None:
        self._call("Quelto_Bridge_CalibrateAccelerometerOffset", _config.sensor_index(sensor))

    def calibrate_emg_offset(self, sensor: int = 0) -> None:
        self._call("Quelto_Bridge_CalibrateEMGOffset", _config.sensor_index(sensor))

    def update_display(self) -> None:
        self._call("Quelto_Bridge_UpdateDisplay")

    def save_current_rx_configuration(self) -> None:
        self._call("Quelto_Bridge_SaveCurrentRxConfiguration")

    # -- blocks --------------------------------------------------------------
    def add_callback(self, fn: Callable[[Block], Any]) -> Callable[[Block], Any]:
        """fn(block) runs on the device's worker thread for each block, with
        a Block of its own. An exception it raises is kept and raised as
        CallbackError by the next call on this device. Returns fn."""
        if not callable(fn):
            raise TypeError(f"callback must be callable, not {type(fn).__name__}")
        with self._lock:
            self._callbacks.append(fn)
        return fn

    def remove_callback(self, fn: Callable[[Block], Any]) -> None:
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
            sink = self._sink
            if sink is not None:
                sink(block)   # capture() takes the block; nothing is queued
            elif self._queue_size:
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
        for failure, fn in raised:
            self._store(failure, fn)

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

    def next_block(self, timeout: float | None = 1.0) -> Block:
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
                    self._arrived.wait(None if left is None else min(left, threading.TIMEOUT_MAX))
                if self._pending is None:
                    return self._queue.popleft()

    def _why_no_blocks(self):
        if self._capturing is None:
            return ": capture has not been started; call start() first"
        return ": capture was stopped" if not self._capturing else ""

    def blocks(self, count: int | None = None, timeout: float | None = 1.0) -> Iterator[Block]:
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

    def clear_queue(self) -> None:
        with self._arrived:
            self._queue.clear()

    def capture(self, seconds: float, timeout: float = 2.0, period: PeriodLike = Period.DEFAULT,
                progress: Union[None, bool, Callable[[float, float], Any]] = None) -> Capture:
        """Starts capture, collects `seconds` of signal (counted in scans),
        stops, and returns a Capture: the sequence of blocks, and for each
        buffer with samples its joined data, a time vector, the rate, the
        unit and the channel labels (capture["emg"].times).

        Samples are joined as the blocks arrive, into arrays reserved for
        the whole capture: it holds about the samples' own size. Blocks go
        to callbacks as usual but not to the queue of next_block().

        timeout: seconds to wait for each block (TimeoutError after).
        progress: None (default) draws a tqdm bar on standard error when
        tqdm is installed and the capture takes more than a second; False
        draws nothing; a callable is called on this thread as
        progress(captured_s, total_s) about ten times a second and once at
        the end."""
        seconds = _config._real("seconds", seconds)
        if seconds <= 0:
            raise ValueError("seconds must be positive")
        timeout = _config._real("timeout", timeout)
        chosen = _period(period)
        if progress is not None and not isinstance(progress, bool) and not callable(progress):
            raise TypeError(f"progress must be None, a bool or a callable, not {type(progress).__name__}")
        wanted = math.ceil(seconds * layout.EMG_BLOCK_RATE_HZ)
        per_block = round(PERIOD_SECONDS[chosen] * layout.EMG_BLOCK_RATE_HZ)
        collector = _Collector(_Builder(-(-wanted // per_block) * per_block), wanted)
        report = _progress_reporter(progress, seconds)
        with self._arrived:
            self._sink = collector.add
        try:
            self.start(chosen)
            seen, last_arrival = 0, time.monotonic()
            while True:
                with collector.changed:
                    if not collector.done and collector.error is None:
                        collector.changed.wait(0.1)
                self._raise_pending()
                if collector.error is not None:
                    raise collector.error
                if collector.blocks != seen:
                    seen, last_arrival = collector.blocks, time.monotonic()
                elif time.monotonic() - last_arrival > timeout:
                    raise TimeoutError(f"no block within {timeout} s during capture()")
                report(collector.scans / layout.EMG_BLOCK_RATE_HZ, collector.done)
                if collector.done:
                    break
        finally:
            report.close()
            try:
                self.stop()
            finally:
                # Blocks on their way after the last one wanted are dropped.
                with self._arrived:
                    self._sink = None
        return Capture._from_builder(collector.builder)


PeriodLike = Union[Period, int, str]


class _Collector:
    """capture()'s sink: joins blocks on the worker until enough scans came."""

    def __init__(self, builder: _Builder, wanted_scans: int):
        self.builder, self.wanted = builder, wanted_scans
        self.changed = threading.Condition()
        self.blocks = self.scans = 0
        self.done = False
        self.error: BaseException | None = None

    def add(self, block: Block) -> None:
        if self.done or self.error is not None:
            return
        try:
            self.builder.add(block)
        except BaseException as e:  # noqa: B902 - reported by capture()
            self.error = e
        with self.changed:
            self.blocks, self.scans = self.builder.blocks, self.builder.scans
            self.done = self.scans >= self.wanted
            self.changed.notify_all()


class _progress_reporter:
    """Progress of capture(): a tqdm bar, a callable, or nothing."""

    def __init__(self, progress, total: float):
        self.total, self.callback, self.bar, self.last = total, None, None, -1.0
        if callable(progress) and not isinstance(progress, bool):
            self.callback = progress
        elif progress is None or progress is True:
            try:
                from tqdm import tqdm
            except ImportError:
                if progress is True:
                    raise ImportError("progress=True needs tqdm (pip install tqdm)") from None
                return
            self.bar = tqdm(total=round(total, 3), unit="s", desc="capture", delay=0 if progress else 1.0,
                            bar_format="{desc}: {percentage:3.0f}%|{bar}| {n:.1f}/{total:.1f} s [{elapsed}<{remaining}]")

    def __call__(self, done_s: float, finished: bool) -> None:
        done_s = min(done_s, self.total)
        now = time.monotonic()
        if not finished and now - self.last < 0.1:
            return
        self.last = now
        if self.callback is not None:
            self.callback(done_s, self.total)
        if self.bar is not None:
            self.bar.update(round(done_s, 3) - self.bar.n)

    def close(self) -> None:
        if self.bar is not None:
            self.bar.close()
