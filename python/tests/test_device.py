"""Device over the simulated SDK: life, calls, blocks, callbacks, errors."""
import gc
import logging
import os
import threading
import time
import unittest

import numpy as np

import quelto
from quelto import layout


class Life(unittest.TestCase):
    def test_context_manager_creates_and_destroys(self):
        with quelto.Device() as d:
            self.assertFalse(d.closed)
            self.assertEqual(d.state, quelto.DeviceState.IDLE)
        self.assertTrue(d.closed)
        with self.assertRaises(quelto.QueltoError):
            d.start()
        d.close()  # again: nothing

    def test_dropping_a_capturing_device_does_not_crash(self):
        d = quelto.Device()
        d.add_callback(lambda block: None)
        d.start()
        d.next_block(timeout=5)
        del d
        gc.collect()

    def test_bad_queue_size(self):
        with self.assertRaises(ValueError):
            quelto.Device(queue_size=-1)
        with self.assertRaises(TypeError):
            quelto.Device(queue_size="10")


class Blocks(unittest.TestCase):
    def setUp(self):
        self.device = quelto.Device()
        self.addCleanup(self.device.close)

    def test_blocks_are_shaped_by_the_layout_and_consecutive(self):
        d = self.device
        d.configure_capture(enabled_insoles=[True, True], footswitch_a_enabled=[True] * 4,
                            footswitch_b_enabled=[True] * 4, enabled_analog_channels=[True] * 32)
        d.start()
        blocks = list(d.blocks(count=4, timeout=5))
        d.stop()
        for prev, b in zip(blocks, blocks[1:]):
            self.assertEqual(b.scan_number, prev.scan_number + prev.samples("sync"))
        for b in blocks:
            n = b.samples("emg")
            self.assertGreater(n, 0)
            self.assertEqual(b.emg.shape, (36, n))
            self.assertEqual(b.sync.shape, (n,))
            self.assertEqual(b.analog.shape[0], 32)
            self.assertEqual(b.accelerometer.shape[0::2], (36, 3))
            self.assertEqual(b.orientation.shape[0::2], (36, 4))
            self.assertEqual(b.footswitch_raw.shape[0::2], (2, 4))
            self.assertGreater(b.footswitch.shape[1], 0)
            self.assertEqual(b.insole.shape[0::2], (2, 16))
            self.assertEqual(b.sensor_states.shape, (36,))
            self.assertEqual(b.emg.dtype, np.float32)
            self.assertIs(b.EmgSamples, b.emg)
            self.assertEqual(b.ScanNumber, b.scan_number)
            # Contact bits only use the four transducers.
            self.assertTrue(np.all((b.footswitch.astype(int) & ~0xF) == 0))
            # Quaternions are unit length.
            norms = np.linalg.norm(b.orientation, axis=2)
            self.assertTrue(np.allclose(norms[norms > 0], 1.0, atol=1e-3))

    def test_arrays_are_copies_that_outlive_the_callback(self):
        kept = []
        snapshots = []
        self.device.add_callback(lambda b: (kept.append(b), snapshots.append(b.emg.copy())))
        self.device.start()
        list(self.device.blocks(count=5, timeout=5))
        self.device.stop()
        self.assertGreaterEqual(len(kept), 5)
        for block, snapshot in zip(kept, snapshots):
            root = block.emg
            while isinstance(root.base, np.ndarray):
                root = root.base
            self.assertTrue(root.flags.owndata)   # not a view of the library's buffer
            np.testing.assert_array_equal(block.emg, snapshot)
        self.assertFalse(np.array_equal(kept[0].emg, kept[1].emg))

    def test_sensor_configuration_reaches_the_device(self):
        d = self.device
        d.configure_sensor(0, sensor_mode=0)
        d.configure_sensor(1, sensor_mode=3)   # off
        d.configure_sensor(2, sensor_mode=1)   # EMG only
        d.start()
        b = d.next_block(timeout=5)
        d.stop()
        states = b.sensor_states
        self.assertEqual(states[0] & layout.STATE_CONNECTED, 0)
        self.assertTrue(states[1] & layout.STATE_EMG)
        self.assertFalse(states[1] & layout.STATE_INERTIAL)
        self.assertTrue(states[2] & layout.STATE_INERTIAL)
        self.assertEqual(np.abs(b.emg[0]).max(), 0.0)
        self.assertGreater(np.abs(b.emg[1]).max(), 0.0)
        self.assertEqual(np.abs(b.accelerometer[1]).max(), 0.0)
        self.assertGreater(np.abs(b.accelerometer[2]).max(), 0.0)

    def test_callbacks_run_on_the_worker_and_can_be_removed(self):
        seen = []
        main = threading.get_ident()

        def on_block(block):
            seen.append(threading.get_ident())
        self.device.add_callback(on_block)
        self.device.start()
        self.device.next_block(timeout=5)
        self.device.next_block(timeout=5)
        self.device.remove_callback(on_block)
        count = len(seen)
        self.device.next_block(timeout=5)
        self.device.next_block(timeout=5)
        self.device.stop()
        self.assertGreaterEqual(count, 2)
        self.assertEqual(len(seen), count)
        self.assertNotIn(main, seen)
        with self.assertRaises(ValueError):
            self.device.remove_callback(on_block)
        with self.assertRaises(TypeError):
            self.device.add_callback(42)

    def test_a_raising_callback_is_reported_on_the_next_call(self):
        calls = []

        def bad(block):
            calls.append(block.scan_number)
            raise ZeroDivisionError("boom")
        self.device.add_callback(bad)
        self.device.start()
        deadline = time.monotonic() + 5
        while not calls and time.monotonic() < deadline:
            time.sleep(0.01)
        self.device.remove_callback(bad)
        with self.assertRaises(quelto.CallbackError) as caught:
            self.device.stop()
        self.assertIsInstance(caught.exception.__cause__, ZeroDivisionError)
        self.assertIn("boom", str(caught.exception))
        # Reported once; the device still works.
        self.device.stop()
        self.device.start()
        self.assertIsNotNone(self.device.next_block(timeout=5))
        self.device.stop()

    def test_iterator_stops_on_a_raising_callback(self):
        self.device.add_callback(lambda b: 1 / 0)
        self.device.start()
        with self.assertRaises(quelto.CallbackError):
            for _ in self.device.blocks(count=50, timeout=5):
                pass

    def test_timeout_when_not_capturing(self):
        start = time.monotonic()
        with self.assertRaises(TimeoutError) as caught:
            self.device.next_block(timeout=0.2)
        self.assertLess(time.monotonic() - start, 2.0)
        self.assertIn("capture has not been started", str(caught.exception))
        self.device.start(period="MS10")
        self.device.next_block(timeout=5)
        self.device.stop()
        self.device.clear_queue()
        time.sleep(0.1)  # a block on its way when stop() returned
        self.device.clear_queue()
        with self.assertRaises(TimeoutError) as caught:
            self.device.next_block(timeout=0.2)
        self.assertIn("capture was stopped", str(caught.exception))
        with self.assertRaises(ValueError):
            self.device.next_block(timeout=-1)
        with self.assertRaises(TypeError):
            self.device.next_block(timeout="1")

    def test_a_timeout_beyond_what_a_wait_takes_waits_for_the_block(self):
        # Longer than threading.TIMEOUT_MAX: waits as long as it may.
        self.device.start(period="MS10")
        self.device.clear_queue()
        self.assertIsNotNone(self.device.next_block(timeout=1e10))
        self.device.stop()

    def test_full_queue_keeps_the_newest(self):
        with quelto.Device(queue_size=2) as d:
            d.start()
            deadline = time.monotonic() + 10
            while d.blocks_received < 5 and time.monotonic() < deadline:
                time.sleep(0.02)
            d.stop()
            self.assertGreaterEqual(d.dropped_blocks, 3)
            a, b = d.next_block(timeout=1), d.next_block(timeout=1)
            self.assertGreater(b.scan_number, a.scan_number)
            self.assertGreater(a.scan_number, 0)

    def test_closing_from_a_callback(self):
        closed = threading.Event()

        def close_me(block):
            self.device.close()
            closed.set()
        self.device.add_callback(close_me)
        self.device.start()
        self.assertTrue(closed.wait(5))
        self.assertTrue(self.device.closed)

    def test_capture_collects_seconds_of_signal(self):
        blocks = self.device.capture(0.5)
        samples = sum(b.samples("sync") for b in blocks)
        self.assertGreaterEqual(samples, 0.5 * layout.EMG_BLOCK_RATE_HZ)
        self.assertNotEqual(self.device.state, quelto.DeviceState.CAPTURING)
        joined = quelto.concatenate(blocks)
        self.assertEqual(joined["emg"].shape, (36, samples))


class BadInput(unittest.TestCase):
    def setUp(self):
        self.device = quelto.Device()
        self.addCleanup(self.device.close)

    def test_checked_before_the_library(self):
        d = self.device
        for call, exc in [(lambda: d.configure_sensor(37), ValueError),
                          (lambda: d.configure_sensor(-1), ValueError),
                          (lambda: d.configure_sensor("1"), TypeError),
                          (lambda: d.configure_sensor(1, sensor_mode=70000), ValueError),
                          (lambda: d.configure_capture(footswitch_protocol=3), ValueError),
                          (lambda: d.configure_capture(enabled_insoles=[1, 2]), ValueError),
                          (lambda: d.configure_capture(record=b"x" * 192), TypeError),
                          (lambda: d.configure_capture(quelto.CaptureConfiguration(), emg_acq_p_type=1), TypeError),
                          (lambda: d.calibrate_emg_offset(99), ValueError),
                          (lambda: d.calibrate_imu_offset(1.0), TypeError),
                          (lambda: d.capture(0), ValueError)]:
            with self.assertRaises(exc):
                call()
        self.assertEqual(d.state, quelto.DeviceState.IDLE)  # nothing reached the device

    def test_library_failure_carries_the_last_error_text(self):
        record = quelto.CaptureConfiguration()
        record.FootSwProtocol = 3   # past the Python checks on purpose
        with self.assertRaises(quelto.QueltoError) as caught:
            self.device.configure_capture(record)
        self.assertIn("ArgumentOutOfRangeException", str(caught.exception))
        self.assertIn("   at ", caught.exception.native_stack)
        # The call that follows succeeds and clears it.
        self.device.configure_capture(quelto.capture_configuration(footswitch_protocol=2))
        self.assertEqual(self.device.state, quelto.DeviceState.CONFIGURED)

    def test_a_path_with_a_nul_is_refused(self):
        # Cut at the NUL, the path would name another file, which exists.
        config = os.path.join(os.path.dirname(__file__), "..", "..", "configs", "complete.json")
        self.assertTrue(os.path.exists(config))
        for path in (config + "\0.bak", os.fsencode(config) + b"\0.bak"):
            with self.assertRaises(ValueError) as caught:
                self.device.apply_configuration_file(path)
            self.assertIn("NUL", str(caught.exception))
        self.assertEqual(self.device.state, quelto.DeviceState.IDLE)

    def test_library_failure_text_is_its_type_and_message_and_keeps_the_stack_apart(self):
        missing = "/no such folder/config.json"
        with self.assertLogs("quelto", logging.DEBUG) as logs:
            with self.assertRaises(quelto.QueltoError) as caught:
                self.device.apply_configuration_file(missing)
        e = caught.exception
        self.assertEqual(str(e), "Quelto_Bridge_ApplyConfigurationFile: System.IO.FileNotFoundException: "
                                 f"Could not find file '{missing}'.")
        frames = e.native_stack.splitlines()
        self.assertGreater(len(frames), 2)
        self.assertTrue(all(f.startswith("   at ") for f in frames), frames)
        self.assertTrue(any("Quelto_Bridge_ApplyConfigurationFile" in f for f in frames), frames)
        self.assertEqual(e.details.rstrip(), f"{e}\n{e.native_stack}")
        # The whole text, stack included, is in the log.
        self.assertIn(e.native_stack, "\n".join(logs.output))
        # The binding's own failures have no stack.
        self.device.close()
        with self.assertRaises(quelto.QueltoError) as caught:
            self.device.start()
        self.assertEqual((str(caught.exception), caught.exception.native_stack), ("the device is closed", ""))

    def test_calibration_of_one_and_all_sensors(self):
        self.device.calibrate_emg_offset(3)
        self.device.calibrate_gyroscope_offset(0)
        self.device.calibrate_accelerometer_offset(36)


if __name__ == "__main__":
    unittest.main()
