// The facade's configuration members against the simulated device and the
// simulated configuration reader.
#include "ConfigTestSupport.h"
#include "Quelto_DaqSystem.h"
#include "TestPlatform.h"

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace ConfigTest;

class FacadeConfiguration : public testing::Test {
protected:
    void SetUp() override {
        TestSupport::UseBuildLibraryFolder();
        TestSupport::SimControl().SetRecording(true);
        TestSupport::SimControl().ClearCalls();
        TestSupport::SimControl().ClearFailures();
    }
    void TearDown() override { TestSupport::SimControl().SetRecording(false); }

    static std::vector<QueltoSim::CallRecord> CallsTo(const std::string& operation) {
        std::vector<QueltoSim::CallRecord> out;
        for (auto& call : TestSupport::SimControl().Calls()) {
            if (call.operation == operation) out.push_back(call);
        }
        return out;
    }

    static Quelto_SensorConfiguration Sensor() {
        Quelto_SensorConfiguration s;
        std::memset(&s, 0, sizeof s);
        s.SensorModel = Quelto_SensorModel{4};
        s.SensorMode = Quelto_SensorMode{65535};
        return s;
    }
};

TEST_F(FacadeConfiguration, SensorZeroConfiguresAll36WithOwnObjects) {
    Quelto_DaqSystem daq;
    Quelto_SensorConfiguration s = Sensor();
    daq.ConfigureSensor(s, 0);
    const auto calls = CallsTo("ConfigureSensor");
    ASSERT_EQ(calls.size(), 36u);
    for (std::size_t i = 0; i < calls.size(); ++i) {
        ASSERT_FALSE(calls[i].arguments.empty());
        EXPECT_EQ(calls[i].arguments.back(), static_cast<int64_t>(i + 1));
        auto sent = std::dynamic_pointer_cast<D::ISensorConfiguration>(calls[i].object);
        ASSERT_TRUE(sent);
        EXPECT_EQ(static_cast<int32_t>(sent->get_SensorMode()), 65535);
        for (std::size_t j = 0; j < i; ++j) EXPECT_NE(calls[j].object, calls[i].object);
    }
}

TEST_F(FacadeConfiguration, SensorNumbersOutsideZeroTo36DoNothing) {
    Quelto_DaqSystem daq;
    Quelto_SensorConfiguration s = Sensor();
    daq.ConfigureSensor(s, 36);
    daq.ConfigureSensor(s, 1);
    const auto one = CallsTo("ConfigureSensor");
    ASSERT_EQ(one.size(), 2u);
    EXPECT_EQ(one[0].arguments.back(), 36);
    EXPECT_EQ(one[1].arguments.back(), 1);

    TestSupport::SimControl().ClearCalls();
    for (int index : {37, -1, 1000, -2147483647 - 1}) daq.ConfigureSensor(s, index);
    EXPECT_TRUE(CallsTo("ConfigureSensor").empty());
}

TEST_F(FacadeConfiguration, CaptureIsConvertedBeforeAnythingIsSent) {
    Quelto_DaqSystem daq;
    Quelto_CaptureConfiguration c;
    std::memset(&c, 0, sizeof c);
    c.Analog_ChannelDelay_ms = 4294967295u;
    c.FootSwProtocol = Quelto_FootSwProtocol{3};
    EXPECT_THROW(daq.ConfigureCapture(c), Runtime::ArgumentOutOfRangeException);
    EXPECT_TRUE(CallsTo("ConfigureCapture").empty());

    c.FootSwProtocol = Quelto_FootSwProtocol{2};
    daq.ConfigureCapture(c);
    const auto calls = CallsTo("ConfigureCapture");
    ASSERT_EQ(calls.size(), 1u);
    auto sent = std::dynamic_pointer_cast<D::ICaptureConfiguration>(calls[0].object);
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->get_Analog_ChannelDelay_ms(), 4294967295u);
    EXPECT_EQ(static_cast<int32_t>(sent->get_FootSwProtocol()), 2);
}

class LoadConfiguration : public FacadeConfiguration {
protected:
    static std::string Sample(const char* name) { return std::string(QUELTO_SOURCE_DIR) + "/configs/" + name; }
};

TEST_F(LoadConfiguration, CompleteSampleLoadsAndConvertsBack) {
    Quelto_DaqSystem daq;
    TestSupport::SimControl().ClearCalls();
    const std::string path = Sample("complete.json");
    testing::internal::CaptureStdout();
    const Quelto_ConfigurationExportBase record = daq.LoadConfiguration(path.c_str());
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed.rfind("EnabledInsole[0] = ", 0), 0u) << printed;
    EXPECT_NE(printed.find("\nEnabledInsole[1] = "), std::string::npos) << printed;

    // The device is not involved.
    EXPECT_TRUE(TestSupport::SimControl().Calls().empty());

    // A name of 16 or more characters arrives whole.
    EXPECT_GE(record.EfaChannelName[0].size(), 16u);

    auto reader = Runtime::AppDomain::CurrentDomain().CreateInstance<D::ICfgReader>(D::CfgReaderAssemblyName,
                                                                                   D::CfgReaderClass);
    const auto loaded = reader->ReadCfgFile(Runtime::String(Runtime::Text::FromAnsi(path.c_str())));
    testing::internal::CaptureStdout();
    ExpectMatches(*loaded, record);
    ExpectMatches(*Quelto_ConfigurationExportBaseHelper::ToManaged(record), record);
    testing::internal::GetCapturedStdout();
}

TEST_F(LoadConfiguration, MinimalSampleLoads) {
    Quelto_DaqSystem daq;
    testing::internal::CaptureStdout();
    daq.LoadConfiguration(Sample("minimal.json").c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "EnabledInsole[0] = False\nEnabledInsole[1] = False\n");
}

TEST_F(LoadConfiguration, NullPathReachesTheReader) {
    Quelto_DaqSystem daq;
    // The reader rejects a null path with its own argument-null error naming
    // the parameter; an empty path would have been a missing file instead.
    try {
        daq.LoadConfiguration(nullptr);
        FAIL() << "no exception";
    } catch (const Runtime::ArgumentNullException& e) {
        EXPECT_NE(e.Message().find("path"), std::string::npos) << e.Message();
    }
}

#ifndef _WIN32
// The narrow code page is UTF-8 here, whatever locale the host has (none
// set: "C"). Before, such a path reached the reader with '?' for every byte
// that is not ASCII, and the file of that name was loaded instead.
TEST_F(LoadConfiguration, NonAsciiPathsAndNamesRoundTripInTheCLocale) {
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("quelto_cfg_\xc3\xbc_" + std::to_string(TestPlatform::ProcessId()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const auto write = [&](const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    };
    const std::string path =
        write("cfg_\xc3\xbc_\xc2\xb5V.json", R"({"Insoles": [{"Name": "M\u00fcller", "Unit": "\u00b5V"}, {"Name": "Fu\u00df"}]})");
    write("cfg_??_??V.json", R"({"Insoles": [{"Name": "wrong file"}, {}]})");

    Quelto_DaqSystem daq;
    testing::internal::CaptureStdout();
    Quelto_ConfigurationExportBase record;
    EXPECT_NO_THROW(record = daq.LoadConfiguration(path.c_str()));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(record.InsoleName[0], "M\xc3\xbcller");
    EXPECT_EQ(record.InsoleUnit[0], "\xc2\xb5V");
    EXPECT_EQ(record.InsoleName[1], "Fu\xc3\x9f");
    const auto back = Quelto_ConfigurationExportBaseHelper::ToManaged(record);
    EXPECT_EQ((*back->InsoleName)[0], Runtime::String(u"M\u00fcller"));
    EXPECT_EQ((*back->InsoleUnit)[0], Runtime::String(u"\u00b5V"));
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}
#endif

TEST_F(LoadConfiguration, ReaderFailuresPassThrough) {
    Quelto_DaqSystem daq;
    EXPECT_THROW(daq.LoadConfiguration("/nonexistent/folder/config.json"), Runtime::FileNotFoundException);
}

}  // namespace
