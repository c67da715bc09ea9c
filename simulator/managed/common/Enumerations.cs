namespace Quelto.Common.Definitions
{
    // The SDK's numbers; the simulated device reads them as
    // docs/data-layout.md describes. Any number is accepted.
    public enum InsoleSize { }
    public enum FootSwProtocol { }
    public enum DataAvailableEventPeriod { }
    public enum SensorMode { }
    public enum DeviceState
    {
        NotInitialized = 0,
        Idle = 1,
        Configured = 2,
        Capturing = 3,
        Calibrating = 4,
        Error = 5,
        Disposed = 6,
    }
    public enum ImuAcqPType { }
    public enum EmgAcqPType { }
    public enum ImuAcqXType { }
    public enum EmgAcqXType { }
    public enum EmgImuAcqXType { }
    public enum ImuAcqBType { }
    public enum EmgAcqBType { }
    public enum InsoleBtAcqType { }
    public enum InsoleRfAcqType { }
    public enum AnalogAcqType { }
    public enum InsoleRfProtocol { }
    public enum AccelerometerFullScale { }
    public enum GyroscopeFullScale { }
    public enum AnalogTriggerMode { }
    public enum VoltageFullScale { }
    public enum SensorModel { }
}
