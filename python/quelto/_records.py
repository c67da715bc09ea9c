"""ctypes images of the fixed-layout C records (see config/*.h and
pipeline/Quelto_DataAvailableEventArgs_C.h)."""
import ctypes as C

c_bool = C.c_bool


class ArrayViewF32(C.Structure):
    _fields_ = [("data", C.POINTER(C.c_float)), ("count", C.c_uint32)]


class ArrayViewI16(C.Structure):
    _fields_ = [("data", C.POINTER(C.c_int16)), ("count", C.c_uint32)]


class ArrayViewU16(C.Structure):
    _fields_ = [("data", C.POINTER(C.c_uint16)), ("count", C.c_uint32)]


class DataAvailableEventArgs(C.Structure):
    _fields_ = [
        ("ScanNumber", C.c_int32),
        ("EmgSamples", ArrayViewF32),
        ("ImuSamples", ArrayViewF32),
        ("AccelerometerSamples", ArrayViewF32),
        ("GyroscopeSamples", ArrayViewF32),
        ("MagnetometerSamples", ArrayViewF32),
        ("SyncSamples", ArrayViewF32),
        ("SensorStates", ArrayViewF32),
        ("FootSwSamples", ArrayViewF32),
        ("FootSwRawSamples", ArrayViewF32),
        ("FootSwSensorStates", ArrayViewF32),
        ("RemoteControlEvents", ArrayViewU16),
        ("RemoteControlState", C.c_uint16),
        ("StartTriggerDetected", c_bool),
        ("StopTriggerDetected", c_bool),
        ("StartTriggerScan", C.c_int32),
        ("StopTriggerScan", C.c_int32),
        ("StartInsoleTriggerDetected", c_bool),
        ("StopInsoleTriggerDetected", c_bool),
        ("StartInsoleTriggerScan", C.c_int32),
        ("StopInsoleTriggerScan", C.c_int32),
        ("StartInsoleImuTriggerDetected", c_bool),
        ("StopInsoleImuTriggerDetected", c_bool),
        ("StartInsoleImuTriggerScan", C.c_int32),
        ("StopInsoleImuTriggerScan", C.c_int32),
        ("StartAnalogTriggerDetected", c_bool),
        ("StopAnalogTriggerDetected", c_bool),
        ("StartAnalogTriggerScan", C.c_int32),
        ("StopAnalogTriggerScan", C.c_int32),
        ("DataTransferRate", C.c_int32),
        ("UsbLostPackets", C.c_int32),
        ("UsbLowPerformance", c_bool),
        ("InsoleScanNumber", C.c_int32),
        ("InsoleImuScanNumber", C.c_int32),
        ("InsoleSamples", ArrayViewF32),
        ("InsoleImuSamples", ArrayViewF32),
        ("InsoleAccelerometerSamples", ArrayViewF32),
        ("InsoleGyroscopeSamples", ArrayViewF32),
        ("InsoleStates", ArrayViewF32),
        ("AnalogSpare", C.c_int32),
        ("AnalogSamples", ArrayViewF32),
        ("AnalogStates", ArrayViewI16),
    ]


class BlockInfo(C.Structure):
    _fields_ = [
        ("sequence", C.c_int64),
        ("arrivalMonotonicNs", C.c_int64),
        ("arrivalRealtimeNs", C.c_int64),
        ("blocksWaiting", C.c_int32),
        ("reserved", C.c_int32),
    ]


class SoftwareVersion(C.Structure):
    _fields_ = [("Major", C.c_int32), ("Minor", C.c_int32), ("Build", C.c_int32), ("Revision", C.c_int32)]


class FootSwTransducerEnabled(C.Structure):
    _fields_ = [("T_A", c_bool), ("T_1", c_bool), ("T_5", c_bool), ("T_T", c_bool)]


class FootSwTransducerThreshold(C.Structure):
    _fields_ = [("T_A", C.c_double), ("T_1", C.c_double), ("T_5", C.c_double), ("T_T", C.c_double)]


class CaptureConfiguration(C.Structure):
    _fields_ = [
        ("ExternalTriggerEnabled", c_bool),
        ("ExternalTriggerActiveLevel", C.c_int32),
        ("ExternalTriggerStopDisabled", c_bool),
        ("ExternalEventActiveLevel", C.c_int32),
        ("IMU_AcqPType", C.c_int32),
        ("EMG_AcqPType", C.c_int32),
        ("IMU_AcqXType", C.c_int32),
        ("EMG_AcqXType", C.c_int32),
        ("EMG_IMU_AcqXType", C.c_int32),
        ("IMU_AcqBType", C.c_int32),
        ("EMG_AcqBType", C.c_int32),
        ("Insole_BtAcqType", C.c_int32),
        ("Insole_RfAcqType", C.c_int32),
        ("Analog_AcqType", C.c_int32),
        ("Insole_RfProtocol", C.c_int32),
        ("Insole_AccelerometerFullScale", C.c_int32),
        ("Insole_GyroscopeFullScale", C.c_int32),
        ("EnabledInsole", c_bool * 2),
        ("EnabledAnalogChannel", c_bool * 32),
        ("FootSwATransducerEnabled", FootSwTransducerEnabled),
        ("FootSwBTransducerEnabled", FootSwTransducerEnabled),
        ("FootSwATransducerThreshold", FootSwTransducerThreshold),
        ("FootSwBTransducerThreshold", FootSwTransducerThreshold),
        ("FootSwProtocol", C.c_uint16),
        ("Analog_TriggerMode", C.c_int32),
        ("Analog_VoltageFullScale", C.c_int32),
        ("Analog_ChannelDelay_ms", C.c_uint32),
    ]


class SensorConfiguration(C.Structure):
    _fields_ = [
        ("SensorModel", C.c_int32),
        ("SensorMode", C.c_uint16),
        ("AccelerometerFullScale", C.c_int32),
        ("GyroscopeFullScale", C.c_int32),
    ]


# The C headers fix these; a mismatch would corrupt every call.
assert C.sizeof(ArrayViewF32) == 16 and ArrayViewF32.count.offset == 8
assert C.sizeof(DataAvailableEventArgs) == 376, C.sizeof(DataAvailableEventArgs)
assert C.sizeof(CaptureConfiguration) == 192, C.sizeof(CaptureConfiguration)
assert C.alignment(CaptureConfiguration) == 8
assert C.sizeof(SensorConfiguration) == 16, C.sizeof(SensorConfiguration)
assert C.sizeof(BlockInfo) == 32 and BlockInfo.blocksWaiting.offset == 24
assert C.sizeof(SoftwareVersion) == 16

DataCallback = C.CFUNCTYPE(None, C.POINTER(DataAvailableEventArgs), C.c_void_p)
BlockCallback = C.CFUNCTYPE(None, C.POINTER(DataAvailableEventArgs), C.POINTER(BlockInfo), C.c_void_p)
