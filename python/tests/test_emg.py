"""quelto.emg against signals with known answers, and on the simulated
device: the fatigue drift of its muscles shows in the spectral measures."""
import doctest
import os
import unittest

import numpy as np

from quelto import emg

RATE = 2000


def sine(freq, seconds=4.0, amplitude=1.0, phase=0.3):
    t = np.arange(int(seconds * RATE)) / RATE
    return amplitude * np.sin(2 * np.pi * freq * t + phase)


def rms(x):
    return float(np.sqrt(np.mean(np.square(x))))


class Filters(unittest.TestCase):
    def test_offset_is_removed_per_channel(self):
        rng = np.random.default_rng(1)
        x = rng.standard_normal((3, 1000)) + np.array([[50e-6], [-80e-6], [0.0]])
        y = emg.remove_offset(x.astype(np.float32))
        np.testing.assert_allclose(y.mean(axis=-1), 0, atol=1e-7)
        for row in range(3):
            np.testing.assert_allclose(y[row], emg.remove_offset(x[row]), atol=1e-6)

    def test_bandpass_keeps_the_band_in_phase_and_drops_the_rest(self):
        middle = slice(RATE, -RATE)
        inside = sine(100)
        out = emg.bandpass(inside + sine(5) + sine(800), RATE)
        # Zero phase: the 100 Hz sine comes out where it went in.
        self.assertLess(np.abs(out - inside)[middle].max(), 0.01)
        for freq in (5, 800):
            self.assertLess(rms(emg.bandpass(sine(freq), RATE)[middle]), 0.01 * rms(sine(freq)), freq)
        with self.assertRaises(ValueError):
            emg.bandpass(inside, 800)  # 450 Hz is above half of 800 Hz

    def test_notch_removes_mains_and_harmonics_to_the_ends(self):
        for mains, between in ((50, 75), (60, 90)):
            hum = sine(mains, amplitude=20e-6) + sine(3 * mains, amplitude=5e-6, phase=1.0) \
                + sine(7 * mains, amplitude=5e-6, phase=2.0)
            kept = sine(between, amplitude=10e-6)
            out = emg.notch(np.stack([hum + kept, hum]), RATE, mains=mains)
            self.assertLess(np.abs(out[0] - kept).max(), 0.5e-6, mains)  # ends included
            self.assertLess(rms(out[1]), 0.1e-6, mains)
        only_fundamental = emg.notch(sine(50) + sine(100), RATE, harmonics=1)
        self.assertAlmostEqual(rms(only_fundamental[RATE:-RATE]), rms(sine(100)), delta=0.01)
        for bad in (0, 1000, -50):
            with self.assertRaises(ValueError):
                emg.notch(sine(50), RATE, mains=bad)

    def test_linear_envelope_of_a_sine_is_its_rectified_mean(self):
        amplitude = 300e-6
        env = emg.envelope(sine(100, amplitude=amplitude), RATE)
        middle = env[RATE // 2:-RATE // 2]
        np.testing.assert_allclose(middle, 2 * amplitude / np.pi, rtol=0.01)
        # The ends neither dip nor overshoot.
        np.testing.assert_allclose(env, 2 * amplitude / np.pi, rtol=0.05)
        np.testing.assert_array_equal(emg.rectify([-1.0, 2.0, -3.0]), [1.0, 2.0, 3.0])


class Amplitude(unittest.TestCase):
    def test_moving_rms_of_sines_is_amplitude_over_root_two(self):
        amplitudes = np.array([[1e-3], [50e-6]])
        x = amplitudes * sine(50)
        out = emg.moving_rms(x, RATE, window=0.1)  # five periods
        np.testing.assert_allclose(out[:, 100:-100], amplitudes / np.sqrt(2) * np.ones((1, x.shape[1] - 200)),
                                   rtol=1e-6)
        self.assertEqual(out.shape, x.shape)
        # A window cut short at the ends is still a mean over real samples.
        self.assertAlmostEqual(float(emg.moving_rms(np.ones(10), RATE, window=0.1)[0]), 1.0)


class Bursts(unittest.TestCase):
    def test_onsets_and_offsets_of_steps(self):
        # A resting envelope with a slow ripple (its mean + 3 SD lies above
        # its peaks), and steps of activity.
        env = 2e-6 + 0.1e-6 * np.sin(2 * np.pi * 3 * np.arange(8000) / RATE) * np.ones((3, 1))
        edges = [(3000, 5000), (1000, 1500), None]
        for row, edge in enumerate(edges):
            if edge:
                env[row, edge[0]:edge[1]] += 100e-6
        found = emg.detect_bursts(env, RATE)
        self.assertEqual(len(found), 3)
        for row, edge in enumerate(edges):
            if edge is None:
                self.assertEqual(found[row].shape, (0, 2))
            else:
                self.assertEqual(found[row].shape, (1, 2), found[row])
                np.testing.assert_allclose(found[row][0], edge, atol=1)

    def test_short_spikes_are_dropped_and_short_gaps_bridged(self):
        env = np.full(6000, 1e-6)
        env[500:520] = 50e-6       # 10 ms: shorter than min_on
        env[2000:2600] = 50e-6
        env[2640:3000] = 50e-6     # a 20 ms gap: bridged
        found = emg.detect_bursts(env, RATE, threshold=10e-6, min_on=0.03, min_off=0.03)
        np.testing.assert_array_equal(found, [[2000, 3000]])
        kept = emg.detect_bursts(env, RATE, threshold=10e-6, min_on=0.005, min_off=0.005)
        np.testing.assert_array_equal(kept, [[500, 520], [2000, 2600], [2640, 3000]])

    def test_burst_of_emg_found_to_the_rms_window(self):
        rng = np.random.default_rng(3)
        x = 40e-6 + 2.5e-6 * rng.standard_normal(10000)
        x[4000:6000] += 200e-6 * rng.standard_normal(2000)
        level = emg.moving_rms(emg.remove_offset(x), RATE, window=0.02)
        (onset, offset), = emg.detect_bursts(level, RATE, baseline=(0.0, 1.5), k=5)
        # The centred window sees the burst half its width (20 samples) early.
        self.assertLessEqual(abs(onset - 4000), 21)
        self.assertLessEqual(abs(offset - 6000), 21)


class Spectrum(unittest.TestCase):
    def test_flat_spectrum_has_its_centre_as_mean_and_median(self):
        # Equal tones from 52 to 148 Hz, 3 Hz apart: in 1 s windows their
        # tapered peaks (3 bins wide) do not overlap.
        rng = np.random.default_rng(4)
        t = np.arange(4 * RATE) / RATE
        x = sum(np.sin(2 * np.pi * f * t + rng.uniform(0, 2 * np.pi)) for f in range(52, 149, 3))
        times, mean_hz, median_hz = emg.spectral_frequencies(x, RATE, window=1.0)
        np.testing.assert_array_equal(times, [0.5, 1.5, 2.5, 3.5])
        np.testing.assert_allclose(mean_hz, 100, atol=0.5)
        np.testing.assert_allclose(median_hz, 100, atol=0.5)

    def test_two_tones_weighted_by_power(self):
        # Power 3 at 60 Hz, 1 at 200 Hz: mean (3*60 + 200) / 4 = 95 Hz,
        # and more than half the power lies at 60 Hz.
        x = np.sqrt(3) * sine(60, seconds=2) + sine(200, seconds=2)
        _, mean_hz = emg.mean_frequency(x, RATE, window=0.5)
        _, median_hz = emg.median_frequency(x, RATE, window=0.5)
        np.testing.assert_allclose(mean_hz, 95, atol=0.5)
        np.testing.assert_allclose(median_hz, 60, atol=2.0)  # within the 60 Hz bin (2 Hz wide)

    def test_many_channels_and_long_signals_match_one_channel_at_a_time(self):
        rng = np.random.default_rng(5)
        x = rng.standard_normal((36, 120 * RATE // 4))  # enough windows to be done in parts
        times, mean_hz, median_hz = emg.spectral_frequencies(x, RATE, window=0.25, step=0.125)
        self.assertEqual(mean_hz.shape, (36, len(times)))
        for row in (0, 35):
            _, m, d = emg.spectral_frequencies(x[row], RATE, window=0.25, step=0.125)
            np.testing.assert_allclose(mean_hz[row], m, rtol=1e-12)
            np.testing.assert_allclose(median_hz[row], d, rtol=1e-12)


class Docstrings(unittest.TestCase):
    def test_examples_run(self):
        failures, tried = doctest.testmod(emg)
        self.assertGreater(tried, 5)
        self.assertEqual(failures, 0)


class SimulatedFatigue(unittest.TestCase):
    """The simulated muscles' corner frequencies slide down with time
    (7 % between 15 s and 285 s): so do their mean and median frequency."""

    def test_spectral_frequencies_fall_over_five_minutes(self):
        import quelto
        saved = {k: os.environ.get(k) for k in ("QUELTO_SIM_MODE", "QUELTO_SIM_SEED")}
        os.environ.update(QUELTO_SIM_MODE="fast", QUELTO_SIM_SEED="11")
        try:
            with quelto.Device() as device:
                device.configure_sensor(0, sensor_mode=1)   # EMG only
                capture = device.capture(300.0, progress=False)
        finally:
            for k, v in saved.items():
                os.environ.pop(k, None) if v is None else os.environ.__setitem__(k, v)
        data = capture["emg"]
        clean = emg.bandpass(emg.remove_offset(data.data), data.rate_hz)
        del capture, data
        _, mean_hz, median_hz = emg.spectral_frequencies(clean, RATE, window=30.0)
        for name, values in (("mean", mean_hz), ("median", median_hz)):
            change = values[:, -1] / values[:, 0] - 1
            self.assertTrue(-0.09 < np.median(change) < -0.03, (name, np.median(change)))
            self.assertGreaterEqual(int((change < 0).sum()), 30, (name, change))
        # A slow, steady slide: the median over sensors falls window by window, bar noise.
        trend = np.median(mean_hz, axis=0)
        self.assertLess(np.polyfit(np.arange(trend.size), trend, 1)[0], 0)


if __name__ == "__main__":
    unittest.main()
