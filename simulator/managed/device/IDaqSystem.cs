using Quelto.Common.Definitions;

namespace Quelto.Interfaces
{
    // The device. Calls come from host threads, DataAvailable from the
    // device's own thread.
    public interface IDaqSystem : System.IDisposable
    {
        void StartCapturing(DataAvailableEventPeriod period);
        void StopCapturing();
        void GenerateInternalStartTrigger();
        void GenerateInternalStopTrigger();
        void UpdateDisplay();
        void QL_SaveCurrentRxConfiguration();
        void ConfigureCapture(ICaptureConfiguration configuration);
        void ConfigureSensor(ISensorConfiguration configuration, int sensor);
        void CalibrateSensorImuOffset(int sensor);
        void CalibrateGyroscopeOffset(int sensor);
        void DetectAccelerometerOffset(int sensor);
        void QL_CalibrateEmgOffset(int sensor);
        DeviceState State { get; }
        IExtVersion SoftwareVersion { get; }
        event DataAvailableEventHandler DataAvailable;
    }
}
