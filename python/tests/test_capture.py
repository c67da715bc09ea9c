"""capture(): samples joined once as the blocks come, blocks as views of
them, progress reports, and memory no more than the samples' size."""
import collections.abc
import json
import os
import subprocess
import sys
import threading
import unittest
from pathlib import Path

import numpy as np

import quelto
from quelto import layout

HERE = Path(__file__).resolve().parent


def fast_device(**kwargs):
    os.environ["QUELTO_SIM_MODE"] = "fast"
    try:
        return quelto.Device(**kwargs)
    finally:
        del os.environ["QUELTO_SIM_MODE"]


class Joined(unittest.TestCase):
    def setUp(self):
        self.device = fast_device()
        self.addCleanup(self.device.close)

    def test_blocks_are_views_of_the_joined_samples_and_equal_the_delivered_ones(self):
        delivered = []
        self.device.add_callback(delivered.append)
        self.device.configure_capture(enabled_insoles=[True, True], footswitch_a_enabled=[True] * 4,
                                      footswitch_b_enabled=[True] * 4, enabled_analog_channels=[True] * 32)
        cap = self.device.capture(1.3, period="MS25", progress=False)
        self.assertIsInstance(cap, collections.abc.Sequence)
        self.assertEqual(len(cap), 52)
        self.assertEqual(cap.duration, 1.3)
        self.assertGreaterEqual(len(delivered), len(cap))  # callbacks still see every block
        for i in (0, 1, 27, len(cap) - 1):
            ours, theirs = cap[i], delivered[i]
            self.assertEqual(ours.scalars, theirs.scalars)
            self.assertEqual((ours.sequence, ours.arrival_time), (theirs.sequence, theirs.arrival_time))
            for name, array in theirs.arrays.items():
                np.testing.assert_array_equal(ours.arrays[name], array, name)
            self.assertTrue(np.shares_memory(ours.emg, cap["emg"].data))
            self.assertTrue(np.shares_memory(ours.insole, cap["insole"].data))
        # 100 Hz in 25 ms blocks: 2, 3, 2, 3 ... samples, joined without gaps.
        counts = [b.samples("insole") for b in cap[:4]]
        self.assertEqual(counts, [2, 3, 2, 3])
        joined = quelto.concatenate(delivered[:len(cap)])
        for name, buffer in cap.buffers.items():
            np.testing.assert_array_equal(buffer.data, joined[name], name)
        self.assertEqual([b.scan_number for b in cap][-1], cap[-1].scan_number)
        np.testing.assert_array_equal(cap.column("scan_number"), [b.scan_number for b in delivered[:len(cap)]])

    def test_a_capture_of_a_list_of_blocks_is_the_same(self):
        cap = self.device.capture(0.5, period="MS50", progress=False)
        again = quelto.Capture(iter(cap))
        self.assertEqual(len(again), len(cap))
        self.assertFalse(np.shares_memory(again["emg"].data, cap["emg"].data))
        self.assertEqual(again["emg"].data.base.shape, cap["emg"].data.shape)  # reserved to the sample
        for name, buffer in cap.buffers.items():
            np.testing.assert_array_equal(again[name].data, buffer.data)
            self.assertEqual(again[name].rate_hz, buffer.rate_hz)
            np.testing.assert_array_equal(again[name].times, buffer.times)
        self.assertEqual(again[3].scalars, cap[3].scalars)
        self.assertEqual(len(cap[-3:]), 3)
        with self.assertRaises(IndexError):
            cap[len(cap)]

    def test_blocks_bypass_the_queue(self):
        with fast_device(queue_size=4) as d:
            cap = d.capture(1.0, period="MS10", progress=False)
            self.assertEqual(len(cap), 100)
            self.assertEqual(d.dropped_blocks, 0)


class Progress(unittest.TestCase):
    def test_callback_on_the_calling_thread_up_to_the_total(self):
        calls = []
        with fast_device() as d:
            cap = d.capture(3.0, period="MS10",
                            progress=lambda done, total: calls.append((done, total, threading.get_ident())))
        self.assertEqual(cap.duration, 3.0)
        self.assertGreaterEqual(len(calls), 1)
        self.assertEqual(calls[-1][:2], (3.0, 3.0))
        self.assertEqual({c[2] for c in calls}, {threading.get_ident()})
        done = [c[0] for c in calls]
        self.assertEqual(done, sorted(done))

    def test_bar_on_standard_error_only_when_asked_or_long(self):
        code = ("import os, quelto\nos.environ['QUELTO_SIM_MODE'] = 'fast'\n"
                "with quelto.Device() as d:\n    d.capture(0.5, progress={})\n")
        env = dict(os.environ, PYTHONPATH=str(Path(quelto.__file__).resolve().parents[1]))
        quiet = subprocess.run([sys.executable, "-c", code.format("None")], env=env, capture_output=True,
                               text=True, timeout=60)
        self.assertEqual((quiet.returncode, quiet.stderr), (0, ""))  # short: no bar
        try:
            import tqdm  # noqa: F401
        except ImportError:
            r = subprocess.run([sys.executable, "-c", code.format("True")], env=env, capture_output=True,
                               text=True, timeout=60)
            self.assertIn("needs tqdm", r.stderr)
            return
        shown = subprocess.run([sys.executable, "-c", code.format("True")], env=env, capture_output=True,
                               text=True, timeout=60)
        self.assertEqual(shown.returncode, 0, shown.stderr)
        self.assertIn("capture: 100%", shown.stderr)
        self.assertIn("0.5/0.5 s", shown.stderr)

    def test_bad_progress(self):
        with fast_device() as d:
            with self.assertRaises(TypeError):
                d.capture(0.1, progress="yes")


class Memory(unittest.TestCase):
    def test_peak_memory_is_about_the_samples_size(self):
        r = subprocess.run([sys.executable, str(HERE / "capture_memory.py"), "30"], capture_output=True,
                           text=True, timeout=120,
                           env=dict(os.environ, PYTHONPATH=str(Path(quelto.__file__).resolve().parents[1])))
        self.assertEqual(r.returncode, 0, r.stderr)
        figures = json.loads(r.stdout)
        samples = figures["samples_MiB"]
        # 599 channels for 30 s: 22.3 MiB of float32 samples.
        self.assertAlmostEqual(samples, 30 * 0.744, delta=0.5)
        self.assertLess(figures["peak_rss_added_MiB"], 1.1 * samples + 4, figures)
        self.assertLess(figures["traced_peak_MiB"], 1.1 * samples + 2, figures)


class Events(unittest.TestCase):
    def test_triggers_and_a_held_press(self):
        with fast_device() as d:
            d.start(period="MS10")
            d.start_trigger()
            blocks = list(d.blocks(count=60, timeout=5))
            d.stop_trigger()
            blocks += list(d.blocks(count=560, timeout=5))
            d.stop()
        cap = quelto.Capture(blocks)
        first = blocks[0].scan_number
        start = next(b for b in blocks if b.start_trigger_detected)
        stop = next(b for b in blocks if b.stop_trigger_detected)
        events = cap.events()
        self.assertIn(((start.start_trigger_scan - first) / 2000, None, "StartTrigger"), events)
        self.assertIn(((stop.stop_trigger_scan - first) / 2000, None, "StopTrigger"), events)
        # The simulated remote control's marker: pressed 5 s in, held 0.3 s
        # (to the 10 ms block).
        marker = [e for e in events if e[2] == "Marker"]
        self.assertEqual(len(marker), 1)
        self.assertAlmostEqual(marker[0][0] + first / 2000, 5.0, places=6)
        self.assertAlmostEqual(marker[0][1], 0.3, delta=0.01 + 1e-9)


class Layout(unittest.TestCase):
    def test_times_and_start(self):
        with fast_device() as d:
            cap = d.capture(0.4, progress=False)
        emg = cap["emg"]
        self.assertEqual(emg.times.shape, (emg.samples,))
        self.assertEqual(emg.start_time, emg.times[0])
        self.assertAlmostEqual(cap.start_time, emg.times[0], places=6)
        self.assertEqual(emg.rate_hz, layout.EMG_BLOCK_RATE_HZ)


if __name__ == "__main__":
    unittest.main()
