namespace Quelto.Common.Definitions
{
    // Configuration objects keep what is set and accept every number.
    public class FootSwTransducerEnabled : IFootSwTransducerEnabled
    {
        public bool T_A { get; set; }
        public bool T_1 { get; set; }
        public bool T_5 { get; set; }
        public bool T_T { get; set; }
    }

    public class FootSwTransducerThreshold : IFootSwTransducerThreshold
    {
        public double T_A { get; set; }
        public double T_1 { get; set; }
        public double T_5 { get; set; }
        public double T_T { get; set; }
    }

    public class CaptureConfiguration : ICaptureConfiguration
    {
        internal const int InsoleCount = 2;
        internal const int AnalogChannelCount = 32;

        private readonly bool[] enabledInsole = new bool[InsoleCount];
        private readonly bool[] enabledAnalogChannel = new bool[AnalogChannelCount];

        public CaptureConfiguration()
        {
            FootSwATransducerEnabled = new FootSwTransducerEnabled();
            FootSwBTransducerEnabled = new FootSwTransducerEnabled();
            FootSwATransducerThreshold = new FootSwTransducerThreshold();
            FootSwBTransducerThreshold = new FootSwTransducerThreshold();
        }

        public bool ExternalTriggerEnabled { get; set; }
        public int ExternalTriggerActiveLevel { get; set; }
        public bool ExternalTriggerStopDisabled { get; set; }
        public int ExternalEventActiveLevel { get; set; }
        public ImuAcqPType IMU_AcqPType { get; set; }
        public EmgAcqPType EMG_AcqPType { get; set; }
        public ImuAcqXType IMU_AcqXType { get; set; }
        public EmgAcqXType EMG_AcqXType { get; set; }
        public EmgImuAcqXType EMG_IMU_AcqXType { get; set; }
        public ImuAcqBType IMU_AcqBType { get; set; }
        public EmgAcqBType EMG_AcqBType { get; set; }
        public InsoleBtAcqType Insole_BtAcqType { get; set; }
        public InsoleRfAcqType Insole_RfAcqType { get; set; }
        public AnalogAcqType Analog_AcqType { get; set; }
        public InsoleRfProtocol Insole_RfProtocol { get; set; }
        public AccelerometerFullScale Insole_AccelerometerFullScale { get; set; }
        public GyroscopeFullScale Insole_GyroscopeFullScale { get; set; }
        public bool[] EnabledInsole { get { return enabledInsole; } }
        public bool[] EnabledAnalogChannel { get { return enabledAnalogChannel; } }
        public AnalogTriggerMode Analog_TriggerMode { get; set; }
        public VoltageFullScale Analog_VoltageFullScale { get; set; }
        public uint Analog_ChannelDelay_ms { get; set; }
        public IFootSwTransducerEnabled FootSwATransducerEnabled { get; set; }
        public IFootSwTransducerEnabled FootSwBTransducerEnabled { get; set; }
        public IFootSwTransducerThreshold FootSwATransducerThreshold { get; set; }
        public IFootSwTransducerThreshold FootSwBTransducerThreshold { get; set; }
        public FootSwProtocol FootSwProtocol { get; set; }
    }

    public class SensorConfiguration : ISensorConfiguration
    {
        public SensorModel SensorModel { get; set; }
        public SensorMode SensorMode { get; set; }
        public AccelerometerFullScale AccelerometerFullScale { get; set; }
        public GyroscopeFullScale GyroscopeFullScale { get; set; }
    }
}
