#include "FacadeTestSupport.h"
#include "TestPlatform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

using namespace FacadeTest;

// What the host sent to the device, saved by the device and loaded back
// through the reader, comes back byte for byte.
TEST(FacadeConfigurationFile, SavedReceiverConfigurationLoadsBackAsSent) {
    const std::string path = ::testing::TempDir() + "/quelto_rxconfig_roundtrip.json";
    std::filesystem::remove(path);
    TestPlatform::SetEnv("QUELTO_SIM_RXCONFIG", path);
    auto facade = MakeFacade();

    Quelto_CaptureConfiguration capture;
    std::memset(&capture, 0, sizeof capture);
    capture.ExternalTriggerEnabled = true;
    capture.ExternalTriggerActiveLevel = 1;
    capture.EMG_AcqXType = static_cast<Quelto_EmgAcqXType>(1);
    capture.Insole_GyroscopeFullScale = static_cast<Quelto_GyroscopeFullScale>(2);
    capture.EnabledInsole[1] = true;
    capture.EnabledAnalogChannel[5] = true;
    capture.EnabledAnalogChannel[31] = true;
    capture.FootSwBTransducerEnabled.T_T = true;
    capture.FootSwATransducerThreshold.T_5 = 0.75;
    capture.FootSwProtocol = static_cast<Quelto_FootSwProtocol>(2);
    capture.Analog_ChannelDelay_ms = 250;
    facade->ConfigureCapture(capture);

    Quelto_SensorConfiguration sensor;
    std::memset(&sensor, 0, sizeof sensor);
    sensor.SensorModel = static_cast<Quelto_SensorModel>(1);
    sensor.SensorMode = static_cast<Quelto_SensorMode>(2);
    sensor.AccelerometerFullScale = static_cast<Quelto_AccelerometerFullScale>(3);
    sensor.GyroscopeFullScale = static_cast<Quelto_GyroscopeFullScale>(1);
    facade->ConfigureSensor(sensor, 4);

    facade->SaveCurrentRxConfiguration();
    ASSERT_TRUE(std::filesystem::exists(path));
    ::testing::internal::CaptureStdout();
    const Quelto_ConfigurationExportBase loaded = facade->LoadConfiguration(path.c_str());
    ::testing::internal::GetCapturedStdout();
    TestPlatform::UnsetEnv("QUELTO_SIM_RXCONFIG");

    EXPECT_EQ(std::memcmp(&loaded.CaptureConfiguration, &capture, sizeof capture), 0);
    EXPECT_EQ(std::memcmp(&loaded.SensorConfiguration[3], &sensor, sizeof sensor), 0);
    Quelto_SensorConfiguration untouched;
    std::memset(&untouched, 0, sizeof untouched);
    EXPECT_EQ(std::memcmp(&loaded.SensorConfiguration[4], &untouched, sizeof untouched), 0);
}
