#include "DataThunk.h"

#include <cstring>

namespace {

// Sets a view's pointer and count in place; its padding keeps the zero of
// the record's fill. (A view built aside and copied in whole costs a stalled
// 16-byte load per view.)
template <class View, class T>
void SetView(View& field, const std::vector<T>& buffer) {
    field.data = buffer.empty() ? nullptr : buffer.data();
    field.count = static_cast<uint32_t>(buffer.size());
}

// Booleans cross as bytes.
void CopyFlag(bool& to, const bool& from) { std::memcpy(&to, &from, 1); }

}  // namespace

void Bridge_FillC(const Quelto_DataAvailableEventArgs& n, Quelto_DataAvailableEventArgs_C& c) {
    std::memset(&c, 0, sizeof c);
    c.ScanNumber = n.ScanNumber;
    SetView(c.EmgSamples, n.EmgSamples);
    SetView(c.ImuSamples, n.ImuSamples);
    SetView(c.AccelerometerSamples, n.AccelerometerSamples);
    SetView(c.GyroscopeSamples, n.GyroscopeSamples);
    SetView(c.MagnetometerSamples, n.MagnetometerSamples);
    SetView(c.SyncSamples, n.SyncSamples);
    SetView(c.SensorStates, n.SensorStates);
    SetView(c.FootSwSamples, n.FootSwSamples);
    SetView(c.FootSwRawSamples, n.FootSwRawSamples);
    SetView(c.FootSwSensorStates, n.FootSwSensorStates);
    SetView(c.RemoteControlEvents, n.RemoteControlEvents);
    c.RemoteControlState = n.RemoteControlState;
    CopyFlag(c.StartTriggerDetected, n.StartTriggerDetected);
    CopyFlag(c.StopTriggerDetected, n.StopTriggerDetected);
    c.StartTriggerScan = n.StartTriggerScan;
    c.StopTriggerScan = n.StopTriggerScan;
    CopyFlag(c.StartInsoleTriggerDetected, n.StartInsoleTriggerDetected);
    CopyFlag(c.StopInsoleTriggerDetected, n.StopInsoleTriggerDetected);
    c.StartInsoleTriggerScan = n.StartInsoleTriggerScan;
    c.StopInsoleTriggerScan = n.StopInsoleTriggerScan;
    CopyFlag(c.StartInsoleImuTriggerDetected, n.StartInsoleImuTriggerDetected);
    CopyFlag(c.StopInsoleImuTriggerDetected, n.StopInsoleImuTriggerDetected);
    c.StartInsoleImuTriggerScan = n.StartInsoleImuTriggerScan;
    c.StopInsoleImuTriggerScan = n.StopInsoleImuTriggerScan;
    CopyFlag(c.StartAnalogTriggerDetected, n.StartAnalogTriggerDetected);
    CopyFlag(c.StopAnalogTriggerDetected, n.StopAnalogTriggerDetected);
    c.StartAnalogTriggerScan = n.StartAnalogTriggerScan;
    c.StopAnalogTriggerScan = n.StopAnalogTriggerScan;
    c.DataTransferRate = n.DataTransferRate;
    c.UsbLostPackets = n.UsbLostPackets;
    CopyFlag(c.UsbLowPerformance, n.UsbLowPerformance);
    c.InsoleScanNumber = n.InsoleScanNumber;
    c.InsoleImuScanNumber = n.InsoleImuScanNumber;
    SetView(c.InsoleSamples, n.InsoleSamples);
    SetView(c.InsoleImuSamples, n.InsoleImuSamples);
    SetView(c.InsoleAccelerometerSamples, n.InsoleAccelerometerSamples);
    SetView(c.InsoleGyroscopeSamples, n.InsoleGyroscopeSamples);
    SetView(c.InsoleStates, n.InsoleStates);
    c.AnalogSpare = n.AnalogSpare;
    SetView(c.AnalogSamples, n.AnalogSamples);
    SetView(c.AnalogStates, n.AnalogStates);
}

extern "C" void QUELTO_CALL Bridge_DataThunk(Quelto_DataAvailableEventArgs native, void* ctx) {
    const auto* registration = static_cast<const Bridge_Registration*>(ctx);
    if (!registration || !registration->cb) return;
    Quelto_DataAvailableEventArgs_C c;
    Bridge_FillC(native, c);
    registration->cb(&c, registration->context);
}
