"""The documented data layout of one block (pipeline/Quelto_DataLayout.h,
docs/data-layout.md): rows, components, units and channel labels of each
buffer, and how a block's flat buffers become NumPy arrays."""
from dataclasses import dataclass

import numpy as np

SENSORS = 36
FOOTSWITCHES = 2
TRANSDUCERS = 4
INSOLES = 2
INSOLE_CELLS = 16
ANALOG_CHANNELS = 32
AXES = 3
QUATERNION = 4

# EMG and sync always run at this rate; ScanNumber counts these samples.
EMG_BLOCK_RATE_HZ = 2000

STATE_CONNECTED = 0x0001
STATE_EMG = 0x0002
STATE_INERTIAL = 0x0004
STATE_CALIBRATING = 0x0008
STATE_LOW_BATTERY = 0x0010
STATE_BATTERY_SHIFT = 8

ANALOG_STATE_OFF = 0
ANALOG_STATE_ON = 1
ANALOG_STATE_CLIPPED = 2

CONTACT_HEEL = 0x1
CONTACT_META1 = 0x2
CONTACT_META5 = 0x4
CONTACT_TOE = 0x8


@dataclass(frozen=True)
class Buffer:
    """One sample buffer: [row][sample] or [row][sample][component]."""
    name: str            # Python name (Block attribute)
    field: str           # member of the C record
    rows: int            # 1 for sync, which is [sample]
    components: int
    buffer_unit: str
    unit: str            # unit in files: file value = buffer value * scale
    scale: float
    minimum: float
    maximum: float
    label_format: str
    component_names: str

    def shape(self, count):
        """Array shape of a buffer holding `count` values."""
        per_sample = self.rows * self.components
        if count % per_sample:
            raise ValueError(f"{self.field}: {count} values do not fill {self.rows} rows "
                             f"of {self.components} components")
        samples = count // per_sample
        if self.field == "SyncSamples":
            return (samples,)
        if self.components == 1:
            return (self.rows, samples)
        return (self.rows, samples, self.components)

    def label(self, row, component=0):
        """Channel label of (row, component), both 0-based, e.g. "ACC07X"."""
        if not 0 <= row < self.rows or not 0 <= component < self.components:
            raise IndexError(f"{self.field}: no channel ({row}, {component})")
        if "%" not in self.label_format:
            return self.label_format
        if self.components == 1:
            return self.label_format % (row + 1)
        return self.label_format % (row + 1, self.component_names[component])


BUFFERS = (
    Buffer("emg", "EmgSamples", SENSORS, 1, "V", "uV", 1e6, -11000.0, 11000.0, "EMG%02d", ""),
    Buffer("orientation", "ImuSamples", SENSORS, QUATERNION, "", "-", 1.0, -1.0, 1.0, "ORI%02d%c", "WXYZ"),
    Buffer("accelerometer", "AccelerometerSamples", SENSORS, AXES, "g", "g", 1.0, -16.0, 16.0, "ACC%02d%c", "XYZ"),
    Buffer("gyroscope", "GyroscopeSamples", SENSORS, AXES, "deg/s", "deg/s", 1.0, -2000.0, 2000.0,
           "GYR%02d%c", "XYZ"),
    Buffer("magnetometer", "MagnetometerSamples", SENSORS, AXES, "uT", "uT", 1.0, -4900.0, 4900.0,
           "MAG%02d%c", "XYZ"),
    Buffer("sync", "SyncSamples", 1, 1, "", "-", 1.0, 0.0, 1.0, "SYNC", ""),
    Buffer("footswitch", "FootSwSamples", FOOTSWITCHES, 1, "", "-", 1.0, 0.0, 15.0, "FSW%d", ""),
    Buffer("footswitch_raw", "FootSwRawSamples", FOOTSWITCHES, TRANSDUCERS, "", "-", 1.0, 0.0, 1.0,
           "FSW%d%c", "H15T"),
    Buffer("insole", "InsoleSamples", INSOLES, INSOLE_CELLS, "kPa", "kPa", 1.0, 0.0, 600.0,
           "INS%dP%c", "ABCDEFGHIJKLMNOP"),
    Buffer("insole_orientation", "InsoleImuSamples", INSOLES, QUATERNION, "", "-", 1.0, -1.0, 1.0,
           "INS%dORI%c", "WXYZ"),
    Buffer("insole_accelerometer", "InsoleAccelerometerSamples", INSOLES, AXES, "g", "g", 1.0, -16.0, 16.0,
           "INS%dACC%c", "XYZ"),
    Buffer("insole_gyroscope", "InsoleGyroscopeSamples", INSOLES, AXES, "deg/s", "deg/s", 1.0, -2000.0,
           2000.0, "INS%dGYR%c", "XYZ"),
    Buffer("analog", "AnalogSamples", ANALOG_CHANNELS, 1, "V", "V", 1.0, -10.0, 10.0, "AN%02d", ""),
)
BY_NAME = {b.name: b for b in BUFFERS}
BY_FIELD = {b.field: b for b in BUFFERS}

# Buffers that are not samples: (Python name, C field, dtype). States are
# 16-bit bit sets that the record carries as floats.
STATES = (
    ("sensor_states", "SensorStates", np.uint16),
    ("footswitch_states", "FootSwSensorStates", np.uint16),
    ("insole_states", "InsoleStates", np.uint16),
    ("analog_states", "AnalogStates", np.int16),
    ("remote_events", "RemoteControlEvents", np.uint16),
)

# Scalars of the record, C name to Python name.
SCALARS = {
    "ScanNumber": "scan_number",
    "RemoteControlState": "remote_control_state",
    "StartTriggerDetected": "start_trigger_detected",
    "StopTriggerDetected": "stop_trigger_detected",
    "StartTriggerScan": "start_trigger_scan",
    "StopTriggerScan": "stop_trigger_scan",
    "StartInsoleTriggerDetected": "start_insole_trigger_detected",
    "StopInsoleTriggerDetected": "stop_insole_trigger_detected",
    "StartInsoleTriggerScan": "start_insole_trigger_scan",
    "StopInsoleTriggerScan": "stop_insole_trigger_scan",
    "StartInsoleImuTriggerDetected": "start_insole_imu_trigger_detected",
    "StopInsoleImuTriggerDetected": "stop_insole_imu_trigger_detected",
    "StartInsoleImuTriggerScan": "start_insole_imu_trigger_scan",
    "StopInsoleImuTriggerScan": "stop_insole_imu_trigger_scan",
    "StartAnalogTriggerDetected": "start_analog_trigger_detected",
    "StopAnalogTriggerDetected": "stop_analog_trigger_detected",
    "StartAnalogTriggerScan": "start_analog_trigger_scan",
    "StopAnalogTriggerScan": "stop_analog_trigger_scan",
    "DataTransferRate": "data_transfer_rate",
    "UsbLostPackets": "usb_lost_packets",
    "UsbLowPerformance": "usb_low_performance",
    "InsoleScanNumber": "insole_scan_number",
    "InsoleImuScanNumber": "insole_imu_scan_number",
    "AnalogSpare": "analog_spare",
}


def battery_percent(states):
    """Battery charge in percent from state values (array or scalar)."""
    return (np.asarray(states).astype(np.int64) >> STATE_BATTERY_SHIFT) & 0x7F


def concatenate(blocks):
    """Joins the sample buffers of consecutive blocks along the sample axis:
    {python name: array}. Buffers that are empty in every block stay empty."""
    out = {}
    for b in BUFFERS:
        parts = [getattr(block, b.name) for block in blocks]
        if not parts:
            out[b.name] = np.empty(b.shape(0), np.float32)
            continue
        axis = 0 if b.field == "SyncSamples" else 1
        out[b.name] = np.concatenate(parts, axis=axis)
    return out
