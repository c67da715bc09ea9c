"""Plain Python values to the fixed-layout configuration records, checked
before anything reaches the library."""
import math
import numbers
import operator

import numpy as np

from . import _records as R

INT32 = (-2**31, 2**31 - 1)
UINT16 = (0, 2**16 - 1)
UINT32 = (0, 2**32 - 1)


def _integer(name, value, lo, hi):
    if isinstance(value, bool):
        raise TypeError(f"{name} must be an integer, not bool")
    try:
        v = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}") from None
    if not lo <= v <= hi:
        raise ValueError(f"{name} must be within {lo}..{hi}, got {v}")
    return v


def _flag(name, value):
    # bool, NumPy's bool, or the integers 0 and 1.
    if isinstance(value, (bool, np.bool_)):
        return bool(value)
    if isinstance(value, numbers.Integral) and value in (0, 1):
        return bool(value)
    if isinstance(value, numbers.Integral):
        raise ValueError(f"{name} must be a flag (True/False or 0/1), got {value}")
    raise TypeError(f"{name} must be a bool, not {type(value).__name__}")


def _real(name, value):
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    v = float(value)
    if not math.isfinite(v):
        raise ValueError(f"{name} must be finite, got {v}")
    return v


def _sequence(name, value, length):
    if isinstance(value, (str, bytes)) or not hasattr(value, "__len__") or not hasattr(value, "__iter__"):
        raise TypeError(f"{name} must be a sequence of {length} values, not {type(value).__name__}")
    if len(value) != length:
        raise ValueError(f"{name} must have {length} values, got {len(value)}")
    return list(value)


# Python name: (record field, kind, lower bound, upper bound)
CAPTURE_FIELDS = {
    "external_trigger_enabled": ("ExternalTriggerEnabled", "flag"),
    "external_trigger_active_level": ("ExternalTriggerActiveLevel", "int", *INT32),
    "external_trigger_stop_disabled": ("ExternalTriggerStopDisabled", "flag"),
    "external_event_active_level": ("ExternalEventActiveLevel", "int", *INT32),
    "imu_acq_p_type": ("IMU_AcqPType", "int", *INT32),
    "emg_acq_p_type": ("EMG_AcqPType", "int", *INT32),
    "imu_acq_x_type": ("IMU_AcqXType", "int", *INT32),
    "emg_acq_x_type": ("EMG_AcqXType", "int", *INT32),
    "emg_imu_acq_x_type": ("EMG_IMU_AcqXType", "int", *INT32),
    "imu_acq_b_type": ("IMU_AcqBType", "int", *INT32),
    "emg_acq_b_type": ("EMG_AcqBType", "int", *INT32),
    "insole_bt_acq_type": ("Insole_BtAcqType", "int", *INT32),
    "insole_rf_acq_type": ("Insole_RfAcqType", "int", *INT32),
    "analog_acq_type": ("Analog_AcqType", "int", *INT32),
    "insole_rf_protocol": ("Insole_RfProtocol", "int", *INT32),
    "insole_accelerometer_full_scale": ("Insole_AccelerometerFullScale", "int", *INT32),
    "insole_gyroscope_full_scale": ("Insole_GyroscopeFullScale", "int", *INT32),
    "enabled_insoles": ("EnabledInsole", "flags", 2),
    "enabled_analog_channels": ("EnabledAnalogChannel", "flags", 32),
    "footswitch_a_enabled": ("FootSwATransducerEnabled", "transducer_flags"),
    "footswitch_b_enabled": ("FootSwBTransducerEnabled", "transducer_flags"),
    "footswitch_a_thresholds": ("FootSwATransducerThreshold", "thresholds"),
    "footswitch_b_thresholds": ("FootSwBTransducerThreshold", "thresholds"),
    "footswitch_protocol": ("FootSwProtocol", "int", 0, 2),
    "analog_trigger_mode": ("Analog_TriggerMode", "int", *INT32),
    "analog_voltage_full_scale": ("Analog_VoltageFullScale", "int", *INT32),
    "analog_channel_delay_ms": ("Analog_ChannelDelay_ms", "int", *UINT32),
}

SENSOR_FIELDS = {
    "sensor_model": ("SensorModel", "int", *INT32),
    "sensor_mode": ("SensorMode", "int", *UINT16),
    "accelerometer_full_scale": ("AccelerometerFullScale", "int", *INT32),
    "gyroscope_full_scale": ("GyroscopeFullScale", "int", *INT32),
}

TRANSDUCERS = ("T_A", "T_1", "T_5", "T_T")  # heel, 1st metatarsal, 5th metatarsal, toe


def _fill(record, table, values, what):
    unknown = sorted(set(values) - set(table))
    if unknown:
        raise TypeError(f"{what} got unexpected keyword argument(s): {', '.join(unknown)}")
    for name, value in values.items():
        field, kind, *bounds = table[name]
        if kind == "int":
            setattr(record, field, _integer(name, value, *bounds))
        elif kind == "flag":
            setattr(record, field, _flag(name, value))
        elif kind == "flags":
            target = getattr(record, field)
            for k, v in enumerate(_sequence(name, value, bounds[0])):
                target[k] = _flag(f"{name}[{k}]", v)
        elif kind == "transducer_flags":
            target = getattr(record, field)
            for t, v in zip(TRANSDUCERS, _sequence(name, value, 4)):
                setattr(target, t, _flag(f"{name}[{t}]", v))
        elif kind == "thresholds":
            target = getattr(record, field)
            for t, v in zip(TRANSDUCERS, _sequence(name, value, 4)):
                setattr(target, t, _real(f"{name}[{t}]", v))
    return record


def capture_configuration(**values):
    """A CaptureConfiguration record: every field zero, then `values`."""
    return _fill(R.CaptureConfiguration(), CAPTURE_FIELDS, values, "configure_capture()")


def sensor_configuration(**values):
    """A SensorConfiguration record: every field zero, then `values`."""
    return _fill(R.SensorConfiguration(), SENSOR_FIELDS, values, "configure_sensor()")


def sensor_index(value, allow_all=True):
    """1..36 for one sensor, 0 for all of them."""
    return _integer("sensor", value, 0 if allow_all else 1, 36)
