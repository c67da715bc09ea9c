// One block of samples for C++ hosts: every SDK array flattened into one
// owned buffer in row-major order (last index fastest), no extents.
// docs/data-layout.md gives each buffer's dimensions, lengths and units.
#pragma once

#include "QueltoCommon.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct Quelto_DataAvailableEventArgs {
    int32_t ScanNumber = 0;
    std::vector<float> EmgSamples;
    std::vector<float> ImuSamples;
    std::vector<float> AccelerometerSamples;
    std::vector<float> GyroscopeSamples;
    std::vector<float> MagnetometerSamples;
    std::vector<float> SyncSamples;
    std::vector<float> SensorStates;  // the SDK's 16-bit states, as floats
    std::vector<float> FootSwSamples;
    std::vector<float> FootSwRawSamples;
    std::vector<float> FootSwSensorStates;  // 16-bit states, as floats
    std::vector<uint16_t> RemoteControlEvents;
    uint16_t RemoteControlState = 0;
    bool StartTriggerDetected = false;
    bool StopTriggerDetected = false;
    int32_t StartTriggerScan = 0;
    int32_t StopTriggerScan = 0;
    bool StartInsoleTriggerDetected = false;
    bool StopInsoleTriggerDetected = false;
    int32_t StartInsoleTriggerScan = 0;
    int32_t StopInsoleTriggerScan = 0;
    bool StartInsoleImuTriggerDetected = false;
    bool StopInsoleImuTriggerDetected = false;
    int32_t StartInsoleImuTriggerScan = 0;
    int32_t StopInsoleImuTriggerScan = 0;
    bool StartAnalogTriggerDetected = false;
    bool StopAnalogTriggerDetected = false;
    int32_t StartAnalogTriggerScan = 0;
    int32_t StopAnalogTriggerScan = 0;
    int32_t DataTransferRate = 0;
    int32_t UsbLostPackets = 0;
    bool UsbLowPerformance = false;
    int32_t InsoleScanNumber = 0;
    int32_t InsoleImuScanNumber = 0;
    std::vector<float> InsoleSamples;
    std::vector<float> InsoleImuSamples;
    std::vector<float> InsoleAccelerometerSamples;
    std::vector<float> InsoleGyroscopeSamples;
    std::vector<float> InsoleStates;  // 16-bit states, as floats
    int32_t AnalogSpare = 0;          // never assigned by the pipeline; always 0
    std::vector<float> AnalogSamples;
    std::vector<int16_t> AnalogStates;
};

QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, ScanNumber, 0);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, EmgSamples, 8);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, ImuSamples, 32);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, AccelerometerSamples, 56);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, GyroscopeSamples, 80);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, MagnetometerSamples, 104);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, SyncSamples, 128);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, SensorStates, 152);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, FootSwSamples, 176);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, FootSwRawSamples, 200);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, FootSwSensorStates, 224);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, RemoteControlEvents, 248);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, RemoteControlState, 272);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, StartTriggerDetected, 274);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, StopTriggerDetected, 275);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, StartTriggerScan, 276);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, StopTriggerScan, 280);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, StartInsoleTriggerDetected, 284);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, StopInsoleTriggerDetected, 285);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, StartInsoleTriggerScan, 288);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, StopInsoleTriggerScan, 292);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, StartInsoleImuTriggerDetected, 296);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, StopInsoleImuTriggerDetected, 297);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, StartInsoleImuTriggerScan, 300);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, StopInsoleImuTriggerScan, 304);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, StartAnalogTriggerDetected, 308);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, StopAnalogTriggerDetected, 309);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, StartAnalogTriggerScan, 312);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, StopAnalogTriggerScan, 316);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, DataTransferRate, 320);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, UsbLostPackets, 324);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, UsbLowPerformance, 328);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, InsoleScanNumber, 332);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, InsoleImuScanNumber, 336);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, InsoleSamples, 344);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, InsoleImuSamples, 368);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, InsoleAccelerometerSamples, 392);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, InsoleGyroscopeSamples, 416);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, InsoleStates, 440);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, AnalogSpare, 464);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, AnalogSamples, 472);
QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs, AnalogStates, 496);
static_assert(sizeof(Quelto_DataAvailableEventArgs) == 520, "Quelto_DataAvailableEventArgs size");
static_assert(alignof(Quelto_DataAvailableEventArgs) == 8, "Quelto_DataAvailableEventArgs alignment");
