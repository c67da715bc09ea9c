namespace Quelto.Common.Definitions
{
    // One block of samples. Any array may be null. A fresh object per event,
    // never changed by the device afterwards.
    public class DataAvailableEventArgs : System.EventArgs
    {
        public int ScanNumber;
        public float[,] EmgSamples;
        public float[,,] ImuSamples;
        public float[,,] AccelerometerSamples;
        public float[,,] GyroscopeSamples;
        public float[,,] MagnetometerSamples;
        public float[] SyncSamples;
        public short[] SensorStates;
        public float[,] FootSwSamples;
        public float[,,] FootSwRawSamples;
        public short[] FootSwSensorStates;
        public ushort[] RemoteControlEvents;
        public ushort RemoteControlState;
        public bool StartTriggerDetected;
        public bool StopTriggerDetected;
        public int StartTriggerScan;
        public int StopTriggerScan;
        public bool StartInsoleTriggerDetected;
        public bool StopInsoleTriggerDetected;
        public int StartInsoleTriggerScan;
        public int StopInsoleTriggerScan;
        public bool StartInsoleImuTriggerDetected;
        public bool StopInsoleImuTriggerDetected;
        public int StartInsoleImuTriggerScan;
        public int StopInsoleImuTriggerScan;
        public bool StartAnalogTriggerDetected;
        public bool StopAnalogTriggerDetected;
        public int StartAnalogTriggerScan;
        public int StopAnalogTriggerScan;
        public int DataTransferRate;
        public int UsbLostPackets;
        public bool UsbLowPerformance;
        public int InsoleScanNumber;
        public int InsoleImuScanNumber;
        public float[,,] InsoleSamples;
        public float[,,] InsoleImuSamples;
        public float[,,] InsoleAccelerometerSamples;
        public float[,,] InsoleGyroscopeSamples;
        public short[] InsoleStates;
        public float[,] AnalogSamples;
        public short[] AnalogStates;
    }

    public delegate void DataAvailableEventHandler(object sender, DataAvailableEventArgs e);
}
