"""The ctypes records against the C headers, and configuration values."""
import ctypes as C
import math
import unittest

import numpy as np

import quelto
from quelto import _records as R
from quelto import config
from tests import support


class RecordLayout(unittest.TestCase):
    def test_block_record_offsets_match_the_c_header(self):
        expected = support.offsets(support.header("pipeline/include/Quelto_DataAvailableEventArgs_C.h"), "QUELTO_C_OFFSET")
        self.assertEqual(len(expected), len(R.DataAvailableEventArgs._fields_))
        for field, offset in expected.items():
            self.assertEqual(getattr(R.DataAvailableEventArgs, field).offset, offset, field)
        self.assertEqual(C.sizeof(R.DataAvailableEventArgs), 376)

    def test_block_record_follows_the_list_of_block_fields(self):
        views = {"f32": R.ArrayViewF32, "i16": R.ArrayViewI16, "u16": R.ArrayViewU16}
        fields = support.block_fields()
        self.assertEqual([name for _, name, _ in fields], [name for name, _ in R.DataAvailableEventArgs._fields_])
        types = dict(R.DataAvailableEventArgs._fields_)
        for kind, name, view in fields:
            if kind == "ARRAY":
                self.assertIs(types[name], views[view], name)
            elif kind == "FLAG":
                self.assertIs(types[name], C.c_bool, name)
            elif kind == "SCALAR":
                self.assertIs(types[name], {"int32_t": C.c_int32, "uint16_t": C.c_uint16}[view], name)
            else:
                self.assertIs(types[name], C.c_int32, name)

    def test_capture_record_offsets_match_the_c_header(self):
        expected = support.offsets(support.header("config/include/Quelto_CaptureConfiguration.h"), "QUELTO_CAPTURE_AT")
        self.assertEqual(len(expected), len(R.CaptureConfiguration._fields_))
        for field, offset in expected.items():
            self.assertEqual(getattr(R.CaptureConfiguration, field).offset, offset, field)
        self.assertEqual(C.sizeof(R.CaptureConfiguration), 192)

    def test_sensor_record_and_field_widths(self):
        self.assertEqual(C.sizeof(R.SensorConfiguration), 16)
        self.assertEqual(R.SensorConfiguration.AccelerometerFullScale.offset, 8)
        self.assertEqual(R.SensorConfiguration.SensorMode.size, 2)   # 16-bit enumeration
        self.assertEqual(R.CaptureConfiguration.FootSwProtocol.size, 2)


class CaptureValues(unittest.TestCase):
    def test_unnamed_fields_are_zero(self):
        raw = bytes(config.capture_configuration())
        self.assertEqual(raw, bytes(192))

    def test_values_land_in_their_fields(self):
        r = config.capture_configuration(
            external_trigger_enabled=True, emg_acq_p_type=1, analog_channel_delay_ms=2**32 - 1,
            enabled_insoles=[True, False], enabled_analog_channels=[k % 2 == 0 for k in range(32)],
            footswitch_b_enabled=[1, 0, 1, 0], footswitch_a_thresholds=(0.1, 0.2, 0.3, 0.4),
            footswitch_protocol=2, imu_acq_p_type=-5)
        self.assertTrue(r.ExternalTriggerEnabled)
        self.assertEqual(r.EMG_AcqPType, 1)
        self.assertEqual(r.IMU_AcqPType, -5)
        self.assertEqual(r.Analog_ChannelDelay_ms, 2**32 - 1)
        self.assertEqual(list(r.EnabledInsole), [True, False])
        self.assertEqual(sum(r.EnabledAnalogChannel), 16)
        self.assertFalse(r.EnabledAnalogChannel[1])
        self.assertEqual((r.FootSwBTransducerEnabled.T_A, r.FootSwBTransducerEnabled.T_1,
                          r.FootSwBTransducerEnabled.T_5, r.FootSwBTransducerEnabled.T_T),
                         (True, False, True, False))
        self.assertEqual(r.FootSwATransducerThreshold.T_T, 0.4)
        self.assertEqual(r.FootSwProtocol, 2)
        raw = bytes(r)
        self.assertEqual(raw[176:178], (2).to_bytes(2, "little"))
        self.assertEqual(raw[188:192], b"\xff\xff\xff\xff")

    def test_numpy_values_are_accepted(self):
        r = config.capture_configuration(emg_acq_p_type=np.int64(2), enabled_insoles=np.array([True, True]),
                                         footswitch_a_thresholds=np.array([0.5] * 4))
        self.assertEqual(r.EMG_AcqPType, 2)
        self.assertEqual(list(r.EnabledInsole), [True, True])

    def test_wrong_types_raise_type_error(self):
        cases = [dict(emg_acq_p_type=1.5), dict(emg_acq_p_type="1"), dict(emg_acq_p_type=True),
                 dict(external_trigger_enabled="yes"), dict(enabled_insoles="TT"), dict(enabled_insoles=3),
                 dict(footswitch_a_thresholds=[0.1, 0.2, "x", 0.4]), dict(no_such_field=1),
                 dict(external_trigger_enabled=None)]
        for kw in cases:
            with self.subTest(kw=kw), self.assertRaises(TypeError):
                config.capture_configuration(**kw)

    def test_out_of_range_values_raise_value_error(self):
        cases = [dict(footswitch_protocol=3), dict(footswitch_protocol=-1), dict(emg_acq_p_type=2**31),
                 dict(analog_channel_delay_ms=-1), dict(enabled_insoles=[True]),
                 dict(enabled_analog_channels=[True] * 33), dict(external_trigger_enabled=2),
                 dict(footswitch_b_thresholds=[0.1, math.nan, 0.1, 0.1])]
        for kw in cases:
            with self.subTest(kw=kw), self.assertRaises(ValueError):
                config.capture_configuration(**kw)

    def test_sensor_values(self):
        r = config.sensor_configuration(sensor_model=1, sensor_mode=65535, accelerometer_full_scale=3)
        self.assertEqual((r.SensorModel, r.SensorMode, r.AccelerometerFullScale, r.GyroscopeFullScale),
                         (1, 65535, 3, 0))
        with self.assertRaises(ValueError):
            config.sensor_configuration(sensor_mode=65536)
        with self.assertRaises(TypeError):
            config.sensor_configuration(sensor_model=None)
        for bad in (-1, 37):
            with self.assertRaises(ValueError):
                config.sensor_index(bad)
        self.assertEqual(config.sensor_index(36), 36)

    def test_package_exports_the_records(self):
        self.assertIs(quelto.CaptureConfiguration, R.CaptureConfiguration)
        self.assertIsInstance(quelto.capture_configuration(), R.CaptureConfiguration)


if __name__ == "__main__":
    unittest.main()
