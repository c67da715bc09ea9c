namespace Quelto.Common.Definitions
{
    public interface IFootSwTransducerEnabled
    {
        bool T_A { get; set; }
        bool T_1 { get; set; }
        bool T_5 { get; set; }
        bool T_T { get; set; }
    }

    public interface IFootSwTransducerThreshold
    {
        double T_A { get; set; }
        double T_1 { get; set; }
        double T_5 { get; set; }
        double T_T { get; set; }
    }

    public interface ICaptureConfiguration
    {
        bool ExternalTriggerEnabled { get; set; }
        int ExternalTriggerActiveLevel { get; set; }
        bool ExternalTriggerStopDisabled { get; set; }
        int ExternalEventActiveLevel { get; set; }
        ImuAcqPType IMU_AcqPType { get; set; }
        EmgAcqPType EMG_AcqPType { get; set; }
        ImuAcqXType IMU_AcqXType { get; set; }
        EmgAcqXType EMG_AcqXType { get; set; }
        EmgImuAcqXType EMG_IMU_AcqXType { get; set; }
        ImuAcqBType IMU_AcqBType { get; set; }
        EmgAcqBType EMG_AcqBType { get; set; }
        InsoleBtAcqType Insole_BtAcqType { get; set; }
        InsoleRfAcqType Insole_RfAcqType { get; set; }
        AnalogAcqType Analog_AcqType { get; set; }
        InsoleRfProtocol Insole_RfProtocol { get; set; }
        AccelerometerFullScale Insole_AccelerometerFullScale { get; set; }
        GyroscopeFullScale Insole_GyroscopeFullScale { get; set; }
        // Owned by the object: 2 and 32 flags in a new one.
        bool[] EnabledInsole { get; }
        bool[] EnabledAnalogChannel { get; }
        AnalogTriggerMode Analog_TriggerMode { get; set; }
        VoltageFullScale Analog_VoltageFullScale { get; set; }
        uint Analog_ChannelDelay_ms { get; set; }
        IFootSwTransducerEnabled FootSwATransducerEnabled { get; set; }
        IFootSwTransducerEnabled FootSwBTransducerEnabled { get; set; }
        IFootSwTransducerThreshold FootSwATransducerThreshold { get; set; }
        IFootSwTransducerThreshold FootSwBTransducerThreshold { get; set; }
        FootSwProtocol FootSwProtocol { get; set; }
    }

    public interface ISensorConfiguration
    {
        SensorModel SensorModel { get; set; }
        SensorMode SensorMode { get; set; }
        AccelerometerFullScale AccelerometerFullScale { get; set; }
        GyroscopeFullScale GyroscopeFullScale { get; set; }
    }

    public interface IExtVersion
    {
        int Major { get; }
        int Minor { get; }
        int Build { get; }
        int Revision { get; }
    }
}
