using System.Drawing;
using PellimorCfgReader.Definitions;
using Quelto.Common.Definitions;

namespace PellimorCfgReader
{
    // One configuration file. A new object holds every array with its fixed
    // length, a new capture configuration and 38 new sensor configurations.
    public class ConfigurationExportBase
    {
        internal const int SensorCount = 38;
        internal const int ImuAgmCount = 114;
        internal const int InsoleCount = 2;
        internal const int AnalogOutputRows = 2;
        internal const int AnalogOutputColumns = 40;

        public ICaptureConfiguration CaptureConfiguration = new CaptureConfiguration();
        public ISensorConfiguration[] SensorConfiguration = NewSensors();

        public bool[] InstalledEfaChannels = new bool[SensorCount], EnabledEfaChannels = new bool[SensorCount];
        public string[] EfaChannelName = new string[SensorCount], EfaChannelUnit = new string[SensorCount];
        public float[] EfaChannelScale = new float[SensorCount];
        public ChannelType[] EfaChannelType = new ChannelType[SensorCount];
        public ChannelSide[] EfaChannelSide = new ChannelSide[SensorCount];
        public Color[] EfaChannelLineColor = new Color[SensorCount];
        public float[] EfaChannelFullScale = new float[SensorCount];

        public bool[] InstalledImuChannels = new bool[SensorCount], EnabledImuChannels = new bool[SensorCount];
        public string[] ImuChannelName = new string[SensorCount], ImuChannelUnit = new string[SensorCount];
        public float[] ImuChannelScale = new float[SensorCount];
        public ChannelType[] ImuChannelType = new ChannelType[SensorCount];
        public ChannelSide[] ImuChannelSide = new ChannelSide[SensorCount];
        public Color[] ImuChannelLineColor = new Color[SensorCount];
        public float[] ImuChannelFullScale = new float[SensorCount];

        public bool[] InstalledAccFswMapChannels = new bool[SensorCount], EnabledAccFswMapChannels = new bool[SensorCount];
        public string[] AccFswMapChannelName = new string[SensorCount], AccFswMapChannelUnit = new string[SensorCount];
        public float[] AccFswMapChannelScale = new float[SensorCount];
        public ChannelType[] AccFswMapChannelType = new ChannelType[SensorCount];
        public ChannelSide[] AccFswMapChannelSide = new ChannelSide[SensorCount];
        public Color[] AccFswMapChannelLineColor = new Color[SensorCount];
        public float[] AccFswMapChannelFullScale = new float[SensorCount];

        public bool[] InstalledImuAgmChannels = new bool[ImuAgmCount], EnabledImuAgmChannels = new bool[ImuAgmCount];
        public string[] ImuAgmChannelName = new string[ImuAgmCount], ImuAgmChannelUnit = new string[ImuAgmCount];
        public float[] ImuAgmChannelScale = new float[ImuAgmCount];
        public ChannelType[] ImuAgmChannelType = new ChannelType[ImuAgmCount];
        public ChannelSide[] ImuAgmChannelSide = new ChannelSide[ImuAgmCount];
        public Color[] ImuAgmChannelLineColor = new Color[ImuAgmCount];
        public float[] ImuAgmChannelFullScale = new float[ImuAgmCount];

        public ChannelType[,] AnalogOutputChannelType = new ChannelType[AnalogOutputRows, AnalogOutputColumns];
        public int[,] AnalogOutputSensorNum = new int[AnalogOutputRows, AnalogOutputColumns];
        public int[,] AnalogOutputChannelAxis = new int[AnalogOutputRows, AnalogOutputColumns];

        public bool[] InstalledInsoles = new bool[InsoleCount], EnabledInsoles = new bool[InsoleCount],
                      PlottingEnabledInsoles = new bool[InsoleCount];
        public string[] InsoleName = new string[InsoleCount], InsoleUnit = new string[InsoleCount];
        public float[] InsoleScale = new float[InsoleCount];
        public ChannelSide[] InsoleSide = new ChannelSide[InsoleCount];
        public InsoleSize[] InsoleSize = new InsoleSize[InsoleCount];
        public float[] InsoleFullScale = new float[InsoleCount];
        public bool[] EnabledInsoleImuChannels = new bool[InsoleCount];

        public float InsoleSampleRate_Hz;
        public float InsoleImuSampleRate_Hz;

        private static ISensorConfiguration[] NewSensors()
        {
            var sensors = new ISensorConfiguration[SensorCount];
            for (int i = 0; i < SensorCount; ++i) sensors[i] = new SensorConfiguration();
            return sensors;
        }
    }
}
