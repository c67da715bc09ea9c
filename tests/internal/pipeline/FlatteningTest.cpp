#include "EventFlattening.h"

#include <gtest/gtest.h>

using Quelto::Common::Definitions::DataAvailableEventArgs;
using Runtime::NewArray;

TEST(Flattening, AllArraysAbsentGivesEmptyBuffersAndTheScalars) {
    DataAvailableEventArgs e;
    e.ScanNumber = 1234;
    e.RemoteControlState = 65535;
    e.StartTriggerDetected = true;
    e.StopTriggerScan = -7;
    e.StartInsoleImuTriggerScan = 99;
    e.StopAnalogTriggerDetected = true;
    e.DataTransferRate = 321;
    e.UsbLostPackets = 3;
    e.UsbLowPerformance = true;
    e.InsoleScanNumber = 55;
    e.InsoleImuScanNumber = 66;
    const auto r = Pipeline::CopyEventArgs(e);
    EXPECT_EQ(r.ScanNumber, 1234);
    EXPECT_TRUE(r.EmgSamples.empty() && r.ImuSamples.empty() && r.AccelerometerSamples.empty() &&
                r.GyroscopeSamples.empty() && r.MagnetometerSamples.empty() && r.SyncSamples.empty() &&
                r.SensorStates.empty() && r.FootSwSamples.empty() && r.FootSwRawSamples.empty() &&
                r.FootSwSensorStates.empty() && r.RemoteControlEvents.empty() && r.InsoleSamples.empty() &&
                r.InsoleImuSamples.empty() && r.InsoleAccelerometerSamples.empty() &&
                r.InsoleGyroscopeSamples.empty() && r.InsoleStates.empty() && r.AnalogSamples.empty() &&
                r.AnalogStates.empty());
    EXPECT_EQ(r.RemoteControlState, 65535);
    EXPECT_TRUE(r.StartTriggerDetected);
    EXPECT_FALSE(r.StopTriggerDetected);
    EXPECT_EQ(r.StopTriggerScan, -7);
    EXPECT_EQ(r.StartInsoleImuTriggerScan, 99);
    EXPECT_TRUE(r.StopAnalogTriggerDetected);
    EXPECT_EQ(r.DataTransferRate, 321);
    EXPECT_EQ(r.UsbLostPackets, 3);
    EXPECT_TRUE(r.UsbLowPerformance);
    EXPECT_EQ(r.InsoleScanNumber, 55);
    EXPECT_EQ(r.InsoleImuScanNumber, 66);
    EXPECT_EQ(r.AnalogSpare, 0);
}

TEST(Flattening, OneTwoAndThreeDimensionsAreRowMajor) {
    DataAvailableEventArgs e;
    e.SyncSamples = NewArray<float>(3);
    for (int i = 0; i < 3; ++i) (*e.SyncSamples)[i] = static_cast<float>(i) + 0.5f;
    e.EmgSamples = NewArray<float>(3, 2);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 2; ++j) (*e.EmgSamples)(i, j) = static_cast<float>(10 * i + j);
    e.ImuSamples = NewArray<float>(2, 2, 2);
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j)
            for (int k = 0; k < 2; ++k) (*e.ImuSamples)(i, j, k) = static_cast<float>(100 * i + 10 * j + k);
    const auto r = Pipeline::CopyEventArgs(e);
    EXPECT_EQ(r.SyncSamples, (std::vector<float>{0.5f, 1.5f, 2.5f}));
    EXPECT_EQ(r.EmgSamples, (std::vector<float>{0, 1, 10, 11, 20, 21}));
    EXPECT_EQ(r.ImuSamples, (std::vector<float>{0, 1, 10, 11, 100, 101, 110, 111}));
}

TEST(Flattening, ZeroExtentGivesEmptyBuffer) {
    DataAvailableEventArgs e;
    e.EmgSamples = NewArray<float>(4, 0);
    e.InsoleSamples = NewArray<float>(2, 0, 3);
    e.SensorStates = NewArray<int16_t>(0);
    const auto r = Pipeline::CopyEventArgs(e);
    EXPECT_TRUE(r.EmgSamples.empty());
    EXPECT_TRUE(r.InsoleSamples.empty());
    EXPECT_TRUE(r.SensorStates.empty());
}

TEST(Flattening, MembersAreIndependentOfOneAnother) {
    DataAvailableEventArgs a;
    a.InsoleSamples = NewArray<float>(1, 1, 2);
    DataAvailableEventArgs b;
    b.InsoleAccelerometerSamples = NewArray<float>(1, 1, 3);
    const auto ra = Pipeline::CopyEventArgs(a);
    const auto rb = Pipeline::CopyEventArgs(b);
    EXPECT_EQ(ra.InsoleSamples.size(), 2u);
    EXPECT_TRUE(ra.InsoleAccelerometerSamples.empty());
    EXPECT_TRUE(rb.InsoleSamples.empty());
    EXPECT_EQ(rb.InsoleAccelerometerSamples.size(), 3u);
}

TEST(Flattening, StateConversionExtremes) {
    DataAvailableEventArgs e;
    e.SensorStates = NewArray<int16_t>(2);
    (*e.SensorStates)[0] = -32768;
    (*e.SensorStates)[1] = 32767;
    e.FootSwSensorStates = NewArray<int16_t>(1);
    (*e.FootSwSensorStates)[0] = -1;
    e.InsoleStates = NewArray<int16_t>(1);
    (*e.InsoleStates)[0] = -32768;
    e.AnalogStates = NewArray<int16_t>(1);
    (*e.AnalogStates)[0] = -32768;
    e.RemoteControlEvents = NewArray<uint16_t>(2);
    (*e.RemoteControlEvents)[0] = 65535;
    (*e.RemoteControlEvents)[1] = 0;
    const auto r = Pipeline::CopyEventArgs(e);
    EXPECT_EQ(r.SensorStates, (std::vector<float>{-32768.0f, 32767.0f}));
    EXPECT_EQ(r.FootSwSensorStates, (std::vector<float>{-1.0f}));
    EXPECT_EQ(r.InsoleStates, (std::vector<float>{-32768.0f}));
    EXPECT_EQ(r.AnalogStates, (std::vector<int16_t>{-32768}));
    EXPECT_EQ(r.RemoteControlEvents, (std::vector<uint16_t>{65535, 0}));
}

TEST(BlockRecord, CopyIsIndependentAndMoveEmptiesTheSource) {
    Quelto_DataAvailableEventArgs a;
    a.ScanNumber = 9;
    a.EmgSamples = {1, 2, 3};
    a.AnalogStates = {-1, -2};
    a.AnalogSpare = 17;
    Quelto_DataAvailableEventArgs copy = a;
    copy.EmgSamples[0] = 100;
    EXPECT_EQ(a.EmgSamples[0], 1);
    EXPECT_NE(copy.EmgSamples.data(), a.EmgSamples.data());
    EXPECT_EQ(copy.AnalogSpare, 17);

    const float* storage = a.EmgSamples.data();
    Quelto_DataAvailableEventArgs moved = std::move(a);
    EXPECT_EQ(moved.EmgSamples.data(), storage);
    EXPECT_TRUE(a.EmgSamples.empty());  // NOLINT(bugprone-use-after-move)
    EXPECT_TRUE(a.AnalogStates.empty());
    EXPECT_EQ(moved.ScanNumber, 9);

    Quelto_DataAvailableEventArgs assigned;
    assigned = moved;
    EXPECT_EQ(assigned.EmgSamples, moved.EmgSamples);
    assigned = std::move(moved);
    EXPECT_TRUE(moved.EmgSamples.empty());
}
