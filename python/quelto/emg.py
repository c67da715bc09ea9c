"""EMG processing with NumPy and SciPy, vectorised over channels.

Every function takes samples along the last axis: one channel (samples,)
or many (channels, samples), such as capture["emg"].data, and the sampling
rate in Hz. Filters are Butterworth or IIR notches run forward and backward
(zero phase: no delay, twice the order's roll-off). The usual chain:

>>> import numpy as np
>>> from quelto import emg
>>> rate = 2000
>>> t = np.arange(4 * rate) / rate
>>> rng = np.random.default_rng(0)
>>> x = 50e-6 + 2e-6 * rng.standard_normal(t.size)           # offset and noise floor, V
>>> x += ((t > 1) & (t < 2)) * 100e-6 * rng.standard_normal(t.size)   # 1 s of activity
>>> env = emg.envelope(emg.bandpass(emg.remove_offset(x), rate), rate)   # 20-450 Hz, 6 Hz
>>> print((emg.detect_bursts(env, rate) / rate).round(1).tolist())   # [onset, offset) in s
[[0.9, 2.1]]
>>> rms = emg.moving_rms(emg.remove_offset(x), rate, window=0.5)   # 0.5 s windows
>>> print(round(float(rms[3000]) * 1e6, -1))     # uV RMS mid-burst
100.0

Mains interference: notch() first, then the band-pass. A narrow notch
rings around strong bursts (a few per cent of their level, for some half a
second), which onset detection sees: detect on the band-passed envelope
where the mains is weak, and notch before the spectral measures.

>>> hum = x + 20e-6 * np.sin(2 * np.pi * 50 * t)
>>> clean = emg.bandpass(emg.notch(emg.remove_offset(hum), rate, mains=50), rate)
>>> times, mean_hz, median_hz = emg.spectral_frequencies(clean, rate, window=1.0)
>>> times.tolist()
[0.5, 1.5, 2.5, 3.5]
"""
from __future__ import annotations

import numpy as np
from scipy import signal

__all__ = ["remove_offset", "bandpass", "notch", "rectify", "envelope", "moving_rms", "baseline_threshold",
           "detect_bursts", "spectral_frequencies", "mean_frequency", "median_frequency"]


def _float(x) -> np.ndarray:
    x = np.asarray(x)
    if x.ndim == 0:
        raise ValueError("expected samples along the last axis, got a scalar")
    return x.astype(np.float64, copy=False)


def _rate(rate) -> float:
    rate = float(rate)
    if not rate > 0:
        raise ValueError(f"rate must be positive, got {rate}")
    return rate


def remove_offset(x) -> np.ndarray:
    """Each channel less its mean: the electrodes' DC offset, which is no
    muscle activity."""
    x = _float(x)
    return x - x.mean(axis=-1, keepdims=True)


def bandpass(x, rate: float, low: float = 20.0, high: float = 450.0, order: int = 4) -> np.ndarray:
    """Zero-phase Butterworth band-pass, by default 20-450 Hz (the surface
    EMG band: movement artefacts below, noise above). `order` is that of
    each pass."""
    rate = _rate(rate)
    if not 0 < low < high < rate / 2:
        raise ValueError(f"need 0 < low < high < rate/2 ({rate / 2:g} Hz), got {low:g} and {high:g} Hz")
    sos = signal.butter(order, [low, high], btype="bandpass", fs=rate, output="sos")
    return signal.sosfiltfilt(sos, _float(x), axis=-1)


def notch(x, rate: float, mains: float = 50.0, harmonics: int | None = None, quality: float = 30.0) -> np.ndarray:
    """Removes mains interference: zero-phase IIR notches at `mains` (50 or
    60 Hz) and its harmonics, `harmonics` of them counting the fundamental
    (None: every one below half the rate). Each notch is mains / quality
    wide at -3 dB (1.7 Hz at 50 Hz). Run it before the band-pass: its
    ends then stay clean."""
    rate = _rate(rate)
    if not 0 < mains < rate / 2:
        raise ValueError(f"mains must lie within (0, {rate / 2:g}) Hz, got {mains:g}")
    count = int((rate / 2 - 1e-9) // mains) if harmonics is None else int(harmonics)
    freqs = [mains * k for k in range(1, count + 1) if mains * k < rate / 2]
    if not freqs:
        raise ValueError("harmonics must be at least 1")
    # One width for all: mains / quality Hz (the harmonics drift no more).
    sos = np.vstack([signal.tf2sos(*signal.iirnotch(f, quality * f / mains, fs=rate)) for f in freqs])
    x = _float(x)
    # Five of the fundamental notch's time constants: its transient would
    # otherwise last about half a second at each end.
    pad = int(round(5 * quality / (np.pi * mains) * rate))
    shift = _whole_periods(rate / mains, pad)
    n = x.shape[-1]
    if shift is None or shift > n:
        return signal.sosfiltfilt(sos, x, axis=-1, padlen=min(n - 1, pad))
    # Extended by the signal itself a whole number of mains periods away,
    # so that the interference runs on in phase (a mirrored extension
    # would turn its phase and leave a transient).
    padded = np.concatenate([x[..., shift - pad:shift], x, x[..., n - shift:n - shift + pad]], axis=-1)
    return signal.sosfiltfilt(sos, padded, axis=-1, padlen=0)[..., pad:pad + n]


def _whole_periods(period: float, at_least: int) -> int | None:
    """The shortest shift of `at_least` samples or more that is within a
    hundredth of a sample of a whole number of periods."""
    for m in range(1, 101):
        if abs(m * period - round(m * period)) < 0.01:
            step = int(round(m * period))
            return max(1, -(-at_least // step)) * step
    return None


def rectify(x) -> np.ndarray:
    """Full-wave rectification: the absolute value."""
    return np.abs(_float(x))


def envelope(x, rate: float, cutoff: float = 6.0, order: int = 2) -> np.ndarray:
    """Linear envelope: full-wave rectified, then a zero-phase Butterworth
    low-pass at `cutoff` (6 Hz by default; an order-2 filter run twice is
    the usual fourth order without lag). Give it offset-free, band-passed
    EMG."""
    rate = _rate(rate)
    if not 0 < cutoff < rate / 2:
        raise ValueError(f"cutoff must lie within (0, {rate / 2:g}) Hz, got {cutoff:g}")
    sos = signal.butter(order, cutoff, btype="lowpass", fs=rate, output="sos")
    # Padded by a period of the cutoff, mirrored: an odd extension of a
    # rectified signal dips below zero at the ends.
    x = rectify(x)
    pad = min(x.shape[-1] - 1, int(round(rate / cutoff)))
    return signal.sosfiltfilt(sos, x, axis=-1, padtype="even", padlen=pad)


def moving_rms(x, rate: float, window: float = 0.1) -> np.ndarray:
    """Root mean square over a centred window of `window` seconds (100 ms
    by default), one value per sample; near the ends the window is cut
    short. A sine of amplitude A reads A / sqrt(2)."""
    rate = _rate(rate)
    x = _float(x)
    n = x.shape[-1]
    width = max(1, int(round(window * rate)))
    power = np.zeros(x.shape[:-1] + (n + 1,))
    np.cumsum(np.square(x), axis=-1, out=power[..., 1:])
    i = np.arange(n)
    lo = np.clip(i - width // 2, 0, n)
    hi = np.clip(i - width // 2 + width, 0, n)
    mean = (power[..., hi] - power[..., lo]) / (hi - lo)
    return np.sqrt(np.maximum(mean, 0.0))


def baseline_threshold(env, rate: float, k: float = 3.0, baseline: tuple[float, float] | None = None,
                       window: float = 1.0) -> np.ndarray:
    """Per channel, mean + k * SD of the envelope at rest: over `baseline`
    (start, stop) in seconds, or else over each channel's quietest
    `window` seconds (a rest period you know is the better baseline: the
    quietest stretch reads a little low)."""
    rate = _rate(rate)
    env = _float(env)
    if baseline is not None:
        start, stop = (int(round(s * rate)) for s in baseline)
        if not 0 <= start < stop <= env.shape[-1]:
            raise ValueError(f"baseline {baseline} s is not within the signal")
        rest = env[..., start:stop]
    else:
        width = min(env.shape[-1], max(2, int(round(window * rate))))
        sums = np.zeros(env.shape[:-1] + (env.shape[-1] + 1,))
        np.cumsum(env, axis=-1, out=sums[..., 1:])
        quietest = np.argmin(sums[..., width:] - sums[..., :-width], axis=-1)
        index = quietest[..., None] + np.arange(width)
        rest = np.take_along_axis(env, index, axis=-1)
    return rest.mean(axis=-1) + k * rest.std(axis=-1)


def detect_bursts(env, rate: float, threshold=None, k: float = 3.0, baseline: tuple[float, float] | None = None,
                  min_on: float = 0.03, min_off: float = 0.03):
    """Onsets and offsets of activity by a double threshold: the envelope
    must exceed an amplitude threshold (first) for at least `min_on`
    seconds (second); gaps shorter than `min_off` seconds are bridged.

    threshold: a number, or one per channel; None takes baseline_threshold
    (mean + k * SD at rest, see there for `baseline`).
    Returns for one channel an (n, 2) array of [onset, offset) sample
    indices, for several a list of them, one per channel."""
    rate = _rate(rate)
    env = _float(env)
    single = env.ndim == 1
    rows = env.reshape(-1, env.shape[-1])
    if threshold is None:
        threshold = baseline_threshold(rows, rate, k=k, baseline=baseline)
    limit = np.broadcast_to(np.asarray(threshold, np.float64).reshape(-1), (rows.shape[0],))
    above = np.zeros((rows.shape[0], rows.shape[1] + 2), np.int8)
    above[:, 1:-1] = rows > limit[:, None]
    step = np.diff(above, axis=-1)
    row_of, starts = np.nonzero(step == 1)
    _, ends = np.nonzero(step == -1)  # row-major: pairs with the starts
    # Bridge short gaps, then drop short bursts.
    gap = starts[1:] - ends[:-1]
    joined = (row_of[1:] == row_of[:-1]) & (gap < min_off * rate)
    keep_start = np.r_[True, ~joined]
    keep_end = np.r_[~joined, True]
    row_of, starts, ends = row_of[keep_start], starts[keep_start], ends[keep_end]
    long_enough = (ends - starts) >= min_on * rate
    row_of, pairs = row_of[long_enough], np.stack([starts, ends], axis=-1)[long_enough]
    split = np.searchsorted(row_of, np.arange(1, rows.shape[0]))
    per_row = np.split(pairs, split)
    return per_row[0] if single else per_row


def spectral_frequencies(x, rate: float, window: float = 1.0, step: float | None = None,
                         band: tuple[float, float] | None = (20.0, 450.0)):
    """Mean and median frequency of each window (the usual fatigue
    measures: both fall as a muscle tires). Windows of `window` seconds,
    every `step` seconds (default: one after the other), mean removed and
    Hann-tapered; power within `band` Hz (None: all of it).

    Returns (times, mean_hz, median_hz): the windows' centres in seconds
    from the first sample, and per channel one value per window."""
    rate = _rate(rate)
    x = _float(x)
    n = int(round(window * rate))
    hop = n if step is None else int(round(step * rate))
    if n < 4 or hop < 1:
        raise ValueError("window and step must cover at least a few samples")
    if x.shape[-1] < n:
        raise ValueError(f"the signal ({x.shape[-1]} samples) is shorter than one window ({n})")
    freqs = np.fft.rfftfreq(n, 1 / rate)
    inside = np.ones(freqs.size, bool) if band is None else (freqs >= band[0]) & (freqs <= band[1])
    f = freqs[inside]
    df = rate / n
    taper = np.hanning(n)
    frames = np.lib.stride_tricks.sliding_window_view(x, n, axis=-1)[..., ::hop, :]
    count = frames.shape[-2]
    mean_hz = np.empty(x.shape[:-1] + (count,))
    median_hz = np.empty_like(mean_hz)
    chunk = max(1, (1 << 22) // max(1, n * int(np.prod(x.shape[:-1], dtype=np.int64))))
    for a in range(0, count, chunk):  # bounded memory for long recordings
        part = frames[..., a:a + chunk, :]
        part = (part - part.mean(axis=-1, keepdims=True)) * taper
        power = np.abs(np.fft.rfft(part, axis=-1)[..., inside]) ** 2
        total = power.sum(axis=-1)
        with np.errstate(invalid="ignore", divide="ignore"):  # a silent channel gives NaN
            mean_hz[..., a:a + chunk] = (power * f).sum(axis=-1) / total
        # The frequency that halves the power, each bin's power spread
        # evenly over its width.
        cumulative = np.cumsum(power, axis=-1)
        half = total[..., None] / 2
        k = np.argmax(cumulative >= half, axis=-1)[..., None]
        at = np.take_along_axis(power, k, axis=-1)
        below = np.take_along_axis(cumulative, k, axis=-1) - at
        with np.errstate(invalid="ignore", divide="ignore"):
            median_hz[..., a:a + chunk] = (f[k] - df / 2 + (half - below) / at * df)[..., 0]
    times = (np.arange(count) * hop + n / 2) / rate
    return times, mean_hz, median_hz


def mean_frequency(x, rate: float, window: float = 1.0, step: float | None = None,
                   band: tuple[float, float] | None = (20.0, 450.0)):
    """(times, mean frequency per window); see spectral_frequencies."""
    times, mean_hz, _ = spectral_frequencies(x, rate, window, step, band)
    return times, mean_hz


def median_frequency(x, rate: float, window: float = 1.0, step: float | None = None,
                     band: tuple[float, float] | None = (20.0, 450.0)):
    """(times, median frequency per window); see spectral_frequencies."""
    times, _, median_hz = spectral_frequencies(x, rate, window, step, band)
    return times, median_hz
