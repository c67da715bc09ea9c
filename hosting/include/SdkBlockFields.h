// The one list of a block's fields, in the order of both block records: the
// SDK's data event (SdkContract.h) is declared from it, and flattening, the
// C view, the fuzz check and the Python binding's check are written from
// it. The two public block records stay spelled out, guarded by their
// offset checks, which fail when this list and a record part ways.
//
//   ARRAY(name, element, rank, view)  an SDK array of `element` of rank 1 to 3;
//                                     `view` is the C view's suffix (f32, i16, u16)
//   SCALAR(name, type)                a number copied as it is
//   FLAG(name)                        a boolean, copied as a byte
//   SPARE(name)                       a record member with no SDK field (always 0)
#pragma once

#include <cstdint>

#define QUELTO_BLOCK_FIELDS(ARRAY, SCALAR, FLAG, SPARE)     \
    SCALAR(ScanNumber, int32_t)                             \
    ARRAY(EmgSamples, float, 2, f32)                        \
    ARRAY(ImuSamples, float, 3, f32)                        \
    ARRAY(AccelerometerSamples, float, 3, f32)              \
    ARRAY(GyroscopeSamples, float, 3, f32)                  \
    ARRAY(MagnetometerSamples, float, 3, f32)               \
    ARRAY(SyncSamples, float, 1, f32)                       \
    ARRAY(SensorStates, int16_t, 1, f32)                    \
    ARRAY(FootSwSamples, float, 2, f32)                     \
    ARRAY(FootSwRawSamples, float, 3, f32)                  \
    ARRAY(FootSwSensorStates, int16_t, 1, f32)              \
    ARRAY(RemoteControlEvents, uint16_t, 1, u16)            \
    SCALAR(RemoteControlState, uint16_t)                    \
    FLAG(StartTriggerDetected)                              \
    FLAG(StopTriggerDetected)                               \
    SCALAR(StartTriggerScan, int32_t)                       \
    SCALAR(StopTriggerScan, int32_t)                        \
    FLAG(StartInsoleTriggerDetected)                        \
    FLAG(StopInsoleTriggerDetected)                         \
    SCALAR(StartInsoleTriggerScan, int32_t)                 \
    SCALAR(StopInsoleTriggerScan, int32_t)                  \
    FLAG(StartInsoleImuTriggerDetected)                     \
    FLAG(StopInsoleImuTriggerDetected)                      \
    SCALAR(StartInsoleImuTriggerScan, int32_t)              \
    SCALAR(StopInsoleImuTriggerScan, int32_t)               \
    FLAG(StartAnalogTriggerDetected)                        \
    FLAG(StopAnalogTriggerDetected)                         \
    SCALAR(StartAnalogTriggerScan, int32_t)                 \
    SCALAR(StopAnalogTriggerScan, int32_t)                  \
    SCALAR(DataTransferRate, int32_t)                       \
    SCALAR(UsbLostPackets, int32_t)                         \
    FLAG(UsbLowPerformance)                                 \
    SCALAR(InsoleScanNumber, int32_t)                       \
    SCALAR(InsoleImuScanNumber, int32_t)                    \
    ARRAY(InsoleSamples, float, 3, f32)                     \
    ARRAY(InsoleImuSamples, float, 3, f32)                  \
    ARRAY(InsoleAccelerometerSamples, float, 3, f32)        \
    ARRAY(InsoleGyroscopeSamples, float, 3, f32)            \
    ARRAY(InsoleStates, int16_t, 1, f32)                    \
    SPARE(AnalogSpare)                                      \
    ARRAY(AnalogSamples, float, 2, f32)                     \
    ARRAY(AnalogStates, int16_t, 1, i16)

// Expands to nothing: for the kinds a use skips.
#define QUELTO_BLOCK_SKIP(...)
