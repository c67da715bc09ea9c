#include "EventFlattening.h"

namespace Pipeline {
namespace {

// The SDK array's storage is already row-major, so visiting every element
// with the last index fastest is a walk over its storage in order. One
// allocation, one pass; elements are converted to the buffer's type.
template <class Dst, class Src, int Rank>
void Flatten(std::vector<Dst>& out, const Runtime::ArrayRef<Src, Rank>& in) {
    if (!in) return;
    std::size_t n = 1;
    for (int d = 0; d < Rank; ++d) n *= static_cast<std::size_t>(in->GetLength(d));
    if (n == 0) return;
    const Src* src = in->Data();
    out.assign(src, src + n);
}

}  // namespace

Quelto_DataAvailableEventArgs CopyEventArgs(const Quelto::Common::Definitions::DataAvailableEventArgs& e) {
    Quelto_DataAvailableEventArgs r;
    r.ScanNumber = e.ScanNumber;
    Flatten(r.EmgSamples, e.EmgSamples);
    Flatten(r.ImuSamples, e.ImuSamples);
    Flatten(r.AccelerometerSamples, e.AccelerometerSamples);
    Flatten(r.GyroscopeSamples, e.GyroscopeSamples);
    Flatten(r.MagnetometerSamples, e.MagnetometerSamples);
    Flatten(r.SyncSamples, e.SyncSamples);
    Flatten(r.SensorStates, e.SensorStates);
    Flatten(r.FootSwSamples, e.FootSwSamples);
    Flatten(r.FootSwRawSamples, e.FootSwRawSamples);
    Flatten(r.FootSwSensorStates, e.FootSwSensorStates);
    Flatten(r.RemoteControlEvents, e.RemoteControlEvents);
    Flatten(r.AnalogSamples, e.AnalogSamples);
    Flatten(r.AnalogStates, e.AnalogStates);
    Flatten(r.InsoleSamples, e.InsoleSamples);
    Flatten(r.InsoleImuSamples, e.InsoleImuSamples);
    Flatten(r.InsoleAccelerometerSamples, e.InsoleAccelerometerSamples);
    Flatten(r.InsoleGyroscopeSamples, e.InsoleGyroscopeSamples);
    Flatten(r.InsoleStates, e.InsoleStates);

    r.RemoteControlState = e.RemoteControlState;
    r.StartTriggerDetected = e.StartTriggerDetected;
    r.StopTriggerDetected = e.StopTriggerDetected;
    r.StartTriggerScan = e.StartTriggerScan;
    r.StopTriggerScan = e.StopTriggerScan;
    r.StartInsoleTriggerDetected = e.StartInsoleTriggerDetected;
    r.StopInsoleTriggerDetected = e.StopInsoleTriggerDetected;
    r.StartInsoleTriggerScan = e.StartInsoleTriggerScan;
    r.StopInsoleTriggerScan = e.StopInsoleTriggerScan;
    r.StartInsoleImuTriggerDetected = e.StartInsoleImuTriggerDetected;
    r.StopInsoleImuTriggerDetected = e.StopInsoleImuTriggerDetected;
    r.StartInsoleImuTriggerScan = e.StartInsoleImuTriggerScan;
    r.StopInsoleImuTriggerScan = e.StopInsoleImuTriggerScan;
    r.StartAnalogTriggerDetected = e.StartAnalogTriggerDetected;
    r.StopAnalogTriggerDetected = e.StopAnalogTriggerDetected;
    r.StartAnalogTriggerScan = e.StartAnalogTriggerScan;
    r.StopAnalogTriggerScan = e.StopAnalogTriggerScan;
    r.DataTransferRate = e.DataTransferRate;
    r.UsbLostPackets = e.UsbLostPackets;
    r.UsbLowPerformance = e.UsbLowPerformance;
    r.InsoleScanNumber = e.InsoleScanNumber;
    r.InsoleImuScanNumber = e.InsoleImuScanNumber;
    return r;
}

}  // namespace Pipeline
