"""Block times, the whole device (period, triggers, configuration file,
software version), capture() time vectors, and how failures are reported."""
import collections.abc
import logging
import time
import unittest
from pathlib import Path

import numpy as np

import quelto
from quelto import layout

CONFIGS = Path(__file__).resolve().parents[2] / "configs"


class BlockTimes(unittest.TestCase):
    def setUp(self):
        self.device = quelto.Device()
        self.addCleanup(self.device.close)

    def test_blocks_are_numbered_and_stamped_on_both_clocks(self):
        wall, mono = time.time(), time.monotonic()
        self.device.start(period=quelto.Period.MS10)
        blocks = list(self.device.blocks(count=5, timeout=5))
        self.device.stop()
        wall_after, mono_after = time.time(), time.monotonic()
        self.assertEqual([b.sequence for b in blocks], list(range(5)))
        for b in blocks:
            self.assertTrue(wall <= b.arrival_time <= wall_after, (wall, b.arrival_time, wall_after))
            self.assertTrue(mono <= b.arrival_monotonic <= mono_after)
            self.assertGreaterEqual(b.blocks_waiting, 0)
        self.assertEqual(sorted(b.arrival_monotonic for b in blocks), [b.arrival_monotonic for b in blocks])

    def test_capture_gives_each_buffer_a_time_vector_labels_and_units(self):
        self.device.configure_capture(enabled_analog_channels=[True] * 32)
        cap = self.device.capture(0.3, period="MS25")
        self.assertIsInstance(cap, collections.abc.Sequence)  # still the blocks
        first = cap[0]
        emg, acc, sync = cap["emg"], cap["accelerometer"], cap["SyncSamples"]
        scans = sum(b.samples("sync") for b in cap)
        self.assertEqual(emg.data.shape, (36, scans))
        self.assertEqual(len(emg.times), scans)
        self.assertEqual(emg.rate_hz, 2000)
        self.assertEqual(acc.rate_hz, 100)
        self.assertEqual(len(acc.times), acc.data.shape[1])
        # float64 seconds since 1970 resolve about 0.24 us.
        self.assertTrue(np.allclose(np.diff(emg.times), 1 / 2000, rtol=0, atol=1e-6))
        # The first block's last scan is complete when it arrives.
        end_of_first = emg.times[first.samples("sync") - 1] + 1 / 2000
        self.assertAlmostEqual(end_of_first, first.arrival_time, places=6)
        self.assertAlmostEqual(sync.times[0], emg.times[0], places=9)
        # Buffers of other rates share the time base.
        self.assertLess(abs(acc.times[0] - emg.times[0]), 1 / 100)
        self.assertEqual(emg.labels[0], "EMG01")
        self.assertEqual(acc.labels[6][2], "ACC07Z")
        self.assertEqual(sync.labels, "SYNC")
        self.assertEqual((emg.unit, acc.unit, cap["analog"].unit), ("V", "g", "V"))
        with self.assertRaises(KeyError):
            cap["insole"]  # not enabled: no samples


class WholeDevice(unittest.TestCase):
    def setUp(self):
        self.device = quelto.Device()
        self.addCleanup(self.device.close)

    def test_periods_by_name_number_and_member(self):
        for period, scans in [("MS50", 100), (3, 20), (quelto.Period.DEFAULT, 200)]:
            self.device.clear_queue()
            self.device.start(period=period)
            # The first block of this capture: one of the last capture's may
            # still have been on its way when the queue was cleared.
            block = next(b for b in self.device.blocks(timeout=5) if b.scan_number == 0)
            self.device.stop()
            self.assertEqual(block.samples("sync"), scans, period)
        for bad, exc in [("MS7", ValueError), (4, ValueError), (-1, ValueError), (1.0, TypeError)]:
            with self.assertRaises(exc):
                self.device.start(period=bad)
        self.assertNotEqual(self.device.state, quelto.DeviceState.CAPTURING)

    def test_triggers_mark_following_blocks(self):
        self.device.start(period="MS10")
        self.device.start_trigger()
        seen = [b for b in self.device.blocks(count=40, timeout=5) if b.start_trigger_detected]
        self.device.stop_trigger()
        stops = [b for b in self.device.blocks(count=40, timeout=5) if b.stop_trigger_detected]
        self.device.stop()
        self.assertEqual(len(seen), 1)
        self.assertEqual(len(stops), 1)
        self.assertGreater(stops[0].stop_trigger_scan, seen[0].start_trigger_scan)

    def test_configuration_file_and_software_version(self):
        self.device.apply_configuration_file(CONFIGS / "complete.json")
        self.assertEqual(self.device.state, quelto.DeviceState.CONFIGURED)
        with self.assertRaises(quelto.QueltoError) as caught:
            self.device.apply_configuration_file(CONFIGS / "no-such-file.json")
        self.assertIn("FileNotFoundException", str(caught.exception))
        v = self.device.software_version
        self.assertEqual(v, (1, 4, 2, 7))
        self.assertEqual(v.major, 1)


class FailureReports(unittest.TestCase):
    def test_a_raising_callback_is_logged_once_with_its_traceback(self):
        with quelto.Device() as d:
            def broken(block):
                return 1 / 0
            d.add_callback(broken)
            with self.assertLogs("quelto", logging.ERROR) as logs:
                d.start(period="MS10")
                deadline = time.monotonic() + 10
                while d.callback_errors < 10 and time.monotonic() < deadline:
                    time.sleep(0.02)
                with self.assertRaises(quelto.CallbackError):
                    d.stop()  # the first failure, raised by the next call
                d.stop()
            self.assertGreaterEqual(d.callback_errors, 10)
            self.assertEqual(len(logs.records), 1, [r.getMessage() for r in logs.records])
            self.assertIn("broken", logs.output[0])
            self.assertIn("ZeroDivisionError", logs.output[0])
            self.assertIn("Traceback", logs.output[0])

    def test_dropped_blocks_are_reported_when_dropping_starts(self):
        with quelto.Device(queue_size=2) as d:
            with self.assertLogs("quelto", logging.WARNING) as logs:
                d.start(period="MS10")
                deadline = time.monotonic() + 10
                while d.dropped_blocks < 5 and time.monotonic() < deadline:
                    time.sleep(0.01)
                d.stop()
            self.assertGreaterEqual(d.dropped_blocks, 5)
            # One run of drops (nobody read the queue): one warning.
            self.assertEqual(len(logs.records), 1, logs.output)
            self.assertIn("dropping the oldest", logs.output[0])


if __name__ == "__main__":
    unittest.main()
