/* One block of samples for C hosts: scalars and views into the buffers of
 * the library's own copy of the block. Valid only during the callback that
 * receives it; copy what you keep, free nothing. docs/data-layout.md gives
 * each buffer's dimensions, lengths and units. C11 and C++. */
#ifndef QUELTO_DATA_AVAILABLE_EVENT_ARGS_C_H
#define QUELTO_DATA_AVAILABLE_EVENT_ARGS_C_H

#include "QueltoCommon.h"

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A view: first element (NULL when empty) and element count (not bytes). */
typedef struct Quelto_ArrayView_f32 {
    const float* data;
    uint32_t count;
} Quelto_ArrayView_f32;

typedef struct Quelto_ArrayView_i16 {
    const int16_t* data;
    uint32_t count;
} Quelto_ArrayView_i16;

typedef struct Quelto_ArrayView_u16 {
    const uint16_t* data;
    uint32_t count;
} Quelto_ArrayView_u16;

/* Padding bytes are zero in every record a callback receives. */
typedef struct Quelto_DataAvailableEventArgs_C {
    int32_t ScanNumber;
    Quelto_ArrayView_f32 EmgSamples;
    Quelto_ArrayView_f32 ImuSamples;
    Quelto_ArrayView_f32 AccelerometerSamples;
    Quelto_ArrayView_f32 GyroscopeSamples;
    Quelto_ArrayView_f32 MagnetometerSamples;
    Quelto_ArrayView_f32 SyncSamples;
    Quelto_ArrayView_f32 SensorStates;
    Quelto_ArrayView_f32 FootSwSamples;
    Quelto_ArrayView_f32 FootSwRawSamples;
    Quelto_ArrayView_f32 FootSwSensorStates;
    Quelto_ArrayView_u16 RemoteControlEvents;
    uint16_t RemoteControlState;
    bool StartTriggerDetected;
    bool StopTriggerDetected;
    int32_t StartTriggerScan;
    int32_t StopTriggerScan;
    bool StartInsoleTriggerDetected;
    bool StopInsoleTriggerDetected;
    int32_t StartInsoleTriggerScan;
    int32_t StopInsoleTriggerScan;
    bool StartInsoleImuTriggerDetected;
    bool StopInsoleImuTriggerDetected;
    int32_t StartInsoleImuTriggerScan;
    int32_t StopInsoleImuTriggerScan;
    bool StartAnalogTriggerDetected;
    bool StopAnalogTriggerDetected;
    int32_t StartAnalogTriggerScan;
    int32_t StopAnalogTriggerScan;
    int32_t DataTransferRate;
    int32_t UsbLostPackets;
    bool UsbLowPerformance;
    int32_t InsoleScanNumber;
    int32_t InsoleImuScanNumber;
    Quelto_ArrayView_f32 InsoleSamples;
    Quelto_ArrayView_f32 InsoleImuSamples;
    Quelto_ArrayView_f32 InsoleAccelerometerSamples;
    Quelto_ArrayView_f32 InsoleGyroscopeSamples;
    Quelto_ArrayView_f32 InsoleStates;
    int32_t AnalogSpare;
    Quelto_ArrayView_f32 AnalogSamples;
    Quelto_ArrayView_i16 AnalogStates;
} Quelto_DataAvailableEventArgs_C;

#ifdef __cplusplus
}
#endif

#define QUELTO_C_OFFSET(field, off) QUELTO_CHECK_OFFSET(Quelto_DataAvailableEventArgs_C, field, off)
QUELTO_STATIC_ASSERT(sizeof(Quelto_ArrayView_f32) == 16 && sizeof(Quelto_ArrayView_i16) == 16 &&
                           sizeof(Quelto_ArrayView_u16) == 16, "array view size");
QUELTO_STATIC_ASSERT(offsetof(Quelto_ArrayView_f32, count) == 8, "array view count");
QUELTO_C_OFFSET(ScanNumber, 0);
QUELTO_C_OFFSET(EmgSamples, 8);
QUELTO_C_OFFSET(ImuSamples, 24);
QUELTO_C_OFFSET(AccelerometerSamples, 40);
QUELTO_C_OFFSET(GyroscopeSamples, 56);
QUELTO_C_OFFSET(MagnetometerSamples, 72);
QUELTO_C_OFFSET(SyncSamples, 88);
QUELTO_C_OFFSET(SensorStates, 104);
QUELTO_C_OFFSET(FootSwSamples, 120);
QUELTO_C_OFFSET(FootSwRawSamples, 136);
QUELTO_C_OFFSET(FootSwSensorStates, 152);
QUELTO_C_OFFSET(RemoteControlEvents, 168);
QUELTO_C_OFFSET(RemoteControlState, 184);
QUELTO_C_OFFSET(StartTriggerDetected, 186);
QUELTO_C_OFFSET(StopTriggerDetected, 187);
QUELTO_C_OFFSET(StartTriggerScan, 188);
QUELTO_C_OFFSET(StopTriggerScan, 192);
QUELTO_C_OFFSET(StartInsoleTriggerDetected, 196);
QUELTO_C_OFFSET(StopInsoleTriggerDetected, 197);
QUELTO_C_OFFSET(StartInsoleTriggerScan, 200);
QUELTO_C_OFFSET(StopInsoleTriggerScan, 204);
QUELTO_C_OFFSET(StartInsoleImuTriggerDetected, 208);
QUELTO_C_OFFSET(StopInsoleImuTriggerDetected, 209);
QUELTO_C_OFFSET(StartInsoleImuTriggerScan, 212);
QUELTO_C_OFFSET(StopInsoleImuTriggerScan, 216);
QUELTO_C_OFFSET(StartAnalogTriggerDetected, 220);
QUELTO_C_OFFSET(StopAnalogTriggerDetected, 221);
QUELTO_C_OFFSET(StartAnalogTriggerScan, 224);
QUELTO_C_OFFSET(StopAnalogTriggerScan, 228);
QUELTO_C_OFFSET(DataTransferRate, 232);
QUELTO_C_OFFSET(UsbLostPackets, 236);
QUELTO_C_OFFSET(UsbLowPerformance, 240);
QUELTO_C_OFFSET(InsoleScanNumber, 244);
QUELTO_C_OFFSET(InsoleImuScanNumber, 248);
QUELTO_C_OFFSET(InsoleSamples, 256);
QUELTO_C_OFFSET(InsoleImuSamples, 272);
QUELTO_C_OFFSET(InsoleAccelerometerSamples, 288);
QUELTO_C_OFFSET(InsoleGyroscopeSamples, 304);
QUELTO_C_OFFSET(InsoleStates, 320);
QUELTO_C_OFFSET(AnalogSpare, 336);
QUELTO_C_OFFSET(AnalogSamples, 344);
QUELTO_C_OFFSET(AnalogStates, 360);
QUELTO_STATIC_ASSERT(sizeof(Quelto_DataAvailableEventArgs_C) == 376, "Quelto_DataAvailableEventArgs_C size");
#undef QUELTO_C_OFFSET

#endif
