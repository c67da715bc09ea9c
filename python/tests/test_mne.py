"""Capture.to_mne(): one RawArray per rate group, checked against the
blocks as delivered and against quelto-capture's file of the same seed."""
import datetime
import os
import subprocess
import tempfile
import unittest
from pathlib import Path

import numpy as np

import quelto
from quelto import _mne, layout

try:
    import mne
except ImportError:  # pragma: no cover - MNE is in both test environments
    mne = None

SOURCE = Path(__file__).resolve().parents[2]


def capture_tool():
    tool = os.environ.get("QUELTO_CAPTURE_TOOL") or str(SOURCE / "build" / "default" / "bin" / "quelto-capture")
    return tool if os.path.isfile(tool) else None


class SimSettings:
    """QUELTO_SIM_* for the devices made inside the block."""

    def __init__(self, **values):
        self.values = values

    def __enter__(self):
        self.saved = {k: os.environ.get(k) for k in self.values}
        os.environ.update(self.values)

    def __exit__(self, *exc):
        for k, v in self.saved.items():
            if v is None:
                os.environ.pop(k, None)
            else:
                os.environ[k] = v


@unittest.skipIf(mne is None, "MNE is not installed")
class AgainstBlocks(unittest.TestCase):
    def test_groups_names_types_units_and_values(self):
        delivered = []
        with SimSettings(QUELTO_SIM_MODE="fast", QUELTO_SIM_SEED="3"), quelto.Device() as d:
            d.add_callback(delivered.append)
            d.configure_capture(enabled_insoles=[True, True], footswitch_a_enabled=[True] * 4,
                                footswitch_b_enabled=[True] * 4, enabled_analog_channels=[True] * 4 + [False] * 28,
                                imu_acq_p_type=1)
            d.configure_sensor(0, sensor_mode=0)
            d.configure_sensor(2, sensor_mode=3)   # sensor 2 off
            cap = d.capture(1.0, progress=False)
        raws = cap.to_mne()
        self.assertEqual(list(raws), ["emg", "imu", "sync", "footswitch", "insole", "insole-imu", "analog"])
        expected_rates = {"emg": 2000, "imu": 200, "sync": 2000, "footswitch": 500, "insole": 100,
                          "insole-imu": 100, "analog": 2000}
        for key, raw in raws.items():
            self.assertIsInstance(raw, mne.io.RawArray)
            self.assertEqual(raw.info["sfreq"], expected_rates[key], key)
        emg = raws["emg"]
        self.assertEqual(emg.ch_names, [f"EMG{s:02d}" for s in range(1, 37) if s != 2])
        self.assertEqual(set(emg.get_channel_types()), {"emg"})
        self.assertEqual(raws["analog"].ch_names, ["AN01", "AN02", "AN03", "AN04"])
        self.assertEqual(raws["sync"].get_channel_types(), ["stim"])
        self.assertEqual(raws["footswitch"].get_channel_types()[:2], ["stim", "stim"])
        self.assertEqual(raws["footswitch"].ch_names[2:6], ["FSW1H", "FSW11", "FSW15", "FSW1T"])
        self.assertEqual(raws["imu"].ch_names[:5], ["ORI01W", "ORI01X", "ORI01Y", "ORI01Z", "ORI03W"])
        self.assertEqual(len(raws["imu"].ch_names), 35 * 13)
        units = {ch["ch_name"]: ch["unit"] for ch in raws["imu"].info["chs"]}
        self.assertEqual(units["MAG01X"], 112)   # FIFF_UNIT_T
        self.assertEqual(raws["insole"].info["chs"][0]["unit"], 103)   # FIFF_UNIT_PA

        # Values: the delivered blocks' samples, in SI units.
        joined = quelto.concatenate(delivered[:len(cap)])
        checks = [("emg", "EMG05", joined["emg"][4], 1.0),
                  ("imu", "ACC07Y", joined["accelerometer"][6, :, 1], 9.80665),
                  ("imu", "GYR01X", joined["gyroscope"][0, :, 0], np.pi / 180),
                  ("imu", "MAG36Z", joined["magnetometer"][35, :, 2], 1e-6),
                  ("insole", "INS2PK", joined["insole"][1, :, 10], 1e3),
                  ("insole-imu", "INS1ACCZ", joined["insole_accelerometer"][0, :, 2], 9.80665),
                  ("footswitch", "FSW2", joined["footswitch"][1], 1.0),
                  ("sync", "SYNC", joined["sync"], 1.0),
                  ("analog", "AN03", joined["analog"][2], 1.0)]
        for key, name, samples, factor in checks:
            got = raws[key].get_data(picks=[name])[0]
            np.testing.assert_allclose(got, samples.astype(np.float64) * factor, rtol=1e-12, err_msg=name)
            self.assertTrue(np.any(samples != 0), name)

        # Start: the first sample's time, to the microsecond, in UTC.
        for raw in raws.values():
            start = raw.info["meas_date"]
            self.assertEqual(start.tzinfo, datetime.timezone.utc)
            self.assertAlmostEqual(start.timestamp(), cap["emg"].times[0], delta=1e-6)
        self.assertNotEqual(raws["emg"].info["meas_date"].microsecond, 0)

    def test_keep_all_and_chosen_groups(self):
        with SimSettings(QUELTO_SIM_MODE="fast"), quelto.Device() as d:
            d.configure_sensor(0, sensor_mode=1)    # EMG only
            d.configure_sensor(5, sensor_mode=3)
            cap = d.capture(0.2, progress=False)
        raws = cap.to_mne(groups=["emg"])
        self.assertEqual(list(raws), ["emg"])
        self.assertNotIn("EMG05", raws["emg"].ch_names)
        every = cap.to_mne(keep_all=True)
        self.assertIn("EMG05", every["emg"].ch_names)
        self.assertEqual(len(every["emg"].ch_names), 36)
        self.assertEqual(np.abs(every["emg"].get_data(picks=["EMG05"])).max(), 0.0)
        for keep_all in (False, True):
            with self.assertRaises(KeyError):
                cap.to_mne(groups=["imu"], keep_all=keep_all)   # no inertial data at all
        with self.assertRaises(KeyError):
            cap.to_mne(groups=["eeg"])

    def test_a_group_of_two_rates_is_split_as_the_capture_tool_splits_it(self):
        def block(scan):
            arrays = {}
            for b in layout.BUFFERS:
                n = {"emg": 20, "sync": 20, "orientation": 1, "accelerometer": 2}.get(b.name, 0)
                arrays[b.name] = np.ones(b.shape(n * b.rows * b.components), np.float32)
            arrays["sensor_states"] = np.full(36, layout.STATE_CONNECTED | layout.STATE_EMG | layout.STATE_INERTIAL,
                                              np.uint16)
            return quelto.Block(arrays, {"scan_number": scan})
        cap = quelto.Capture([block(0), block(20), block(40)])
        groups = _mne.channels(cap)
        self.assertEqual(list(groups), ["emg", "imu-100hz", "imu-200hz", "sync"])
        self.assertEqual(groups["imu-200hz"][0][3], "ACC01X")


@unittest.skipIf(mne is None, "MNE is not installed")
@unittest.skipIf(capture_tool() is None, "quelto-capture is not built")
class AgainstTheCaptureTool(unittest.TestCase):
    def test_same_seed_gives_the_file_s_channels_values_and_annotations(self):
        seconds, seed = 15.2, "21"   # two marker presses, the second still held at the end
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "capture.bdf")
            r = subprocess.run([capture_tool(), "--seed", seed, "--fast", "--quiet", "--duration", str(seconds),
                                "--output", path], capture_output=True, text=True, timeout=120)
            self.assertEqual(r.returncode, 0, r.stderr)
            with SimSettings(QUELTO_SIM_MODE="fast", QUELTO_SIM_SEED=seed), quelto.Device() as d:
                cap = d.capture(seconds, progress=False)
            raws = cap.to_mne()
            self.assertEqual(sum(len(raw.ch_names) for raw in raws.values()), 599)
            for key, raw in raws.items():
                names = raw.ch_names
                read = mne.io.read_raw_bdf(path, include=names, infer_types=True, preload=True, verbose="error")
                self.assertEqual(read.ch_names, names, key)
                self.assertEqual(read.info["sfreq"], raw.info["sfreq"], key)
                ours = raw.get_data()
                theirs = read.get_data()
                self.assertEqual(ours.shape, theirs.shape, key)
                for k, name in enumerate(names):
                    buffer = _buffer_of(name)
                    factor = _mne.CHANNELS[buffer.name][2]
                    # A step of the file (24 bits over its range) in the buffer's
                    # units, which MNE gives (it reads the file's uV as V).
                    step = (buffer.maximum - buffer.minimum) / (2**24 - 1) / buffer.scale
                    np.testing.assert_allclose(ours[k] / factor, theirs[k], rtol=0, atol=step,
                                               err_msg=name)
                annotations = read.annotations
                self.assertEqual(list(annotations.description), list(raw.annotations.description), key)
                np.testing.assert_allclose(raw.annotations.onset, annotations.onset, atol=1e-4)
                np.testing.assert_allclose(raw.annotations.duration, annotations.duration, atol=1e-4)
            self.assertEqual(list(raws["emg"].annotations.description), ["Marker", "Marker"])
            np.testing.assert_allclose(raws["emg"].annotations.onset, [5.0, 15.0])
            np.testing.assert_allclose(raws["emg"].annotations.duration, [0.3, 0.0])


def _buffer_of(label):
    for b in layout.BUFFERS:
        for r in range(b.rows):
            for c in range(b.components):
                if b.label(r, c) == label:
                    return b
    raise KeyError(label)


if __name__ == "__main__":
    unittest.main()
