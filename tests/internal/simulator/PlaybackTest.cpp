// Replay of a recording: its annotations come back as triggers and
// remote-control events in the blocks that cover their onsets, again on
// every pass through the file.
#include "SimTestSupport.h"

#include "Quelto_DataLayout.h"

// The Windows build has no EDF library: playback is not available there.
#ifndef _WIN32

#include <edflib.h>

#include <filesystem>
#include <map>

using namespace SimTest;

namespace {

// A 1 s EDF+ file: EMG of sensor 1 at 2000 Hz in 100 ms records, and the
// given annotations (onset in seconds, text).
std::string WriteRecording(const std::vector<std::pair<double, std::string>>& annotations) {
    const std::string path = (std::filesystem::path(::testing::TempDir()) / "quelto_playback_events.edf").string();
    const int h = edfopen_file_writeonly(path.c_str(), EDFLIB_FILETYPE_EDFPLUS, 1);
    if (h < 0) throw std::runtime_error("cannot create " + path);
    const Quelto_BufferLayout emg = Quelto_DataLayout_Buffer(QUELTO_BUFFER_EMG);
    char label[32];
    Quelto_DataLayout_Label(QUELTO_BUFFER_EMG, 0, 0, label, sizeof label);
    edf_set_datarecord_duration(h, 10000);  // 100 ms in units of 10 us
    edf_set_samplefrequency(h, 0, 200);
    edf_set_label(h, 0, label);
    edf_set_physical_dimension(h, 0, emg.unit);
    edf_set_physical_maximum(h, 0, emg.maximum);
    edf_set_physical_minimum(h, 0, emg.minimum);
    edf_set_digital_maximum(h, 0, 32767);
    edf_set_digital_minimum(h, 0, -32768);
    std::vector<double> record(200, 0.0);
    for (int r = 0; r < 10; ++r) edfwrite_physical_samples(h, record.data());
    for (const auto& [onset, text] : annotations) {
        edfwrite_annotation_utf8(h, static_cast<long long>(onset * 10000 + 0.5), -1, text.c_str());
    }
    edfclose_file(h);
    return path;
}

// A 1 s EDF+ file of constant channels at 100 Hz: label, unit, value.
struct ConstantChannel {
    const char* label;
    const char* unit;
    double value;
};
std::string WriteConstants(const std::string& name, const std::vector<ConstantChannel>& channels) {
    const std::string path = (std::filesystem::path(::testing::TempDir()) / name).string();
    const int h = edfopen_file_writeonly(path.c_str(), EDFLIB_FILETYPE_EDFPLUS, static_cast<int>(channels.size()));
    if (h < 0) throw std::runtime_error("cannot create " + path);
    edf_set_datarecord_duration(h, 10000);
    for (int s = 0; s < static_cast<int>(channels.size()); ++s) {
        edf_set_samplefrequency(h, s, 10);
        edf_set_label(h, s, channels[s].label);
        edf_set_physical_dimension(h, s, channels[s].unit);
        edf_set_physical_maximum(h, s, 2000.0);
        edf_set_physical_minimum(h, s, -2000.0);
        edf_set_digital_maximum(h, s, 32767);
        edf_set_digital_minimum(h, s, -32768);
    }
    for (int r = 0; r < 10; ++r) {
        for (const auto& c : channels) {
            std::vector<double> record(10, c.value);
            edfwrite_physical_samples(h, record.data());
        }
    }
    edfclose_file(h);
    return path;
}

}  // namespace

// Angular rates are written in deg/s; recordings with rpm (6 deg/s each)
// replay as the same deg/s. A unit the buffer cannot have leaves the channel out.
TEST(Playback, AngularRatesInDegreesOrRpmReplayInDegreesPerSecond) {
    const std::string path = WriteConstants(
        "quelto_playback_rates.edf",
        {{"GYR01X", "deg/s", 120.0}, {"GYR02X", "rpm", 20.0}, {"GYR03X", "rad/s", 2.0}, {"INS1GYRZ", "rpm", -5.0}});
    ScopedEnv playback("QUELTO_SIM_PLAYBACK", path);
    ScopedEnv mode("QUELTO_SIM_MODE", "fast");
    auto device = MakeDevice();
    std::vector<Block> blocks;
    CaptureWhile(*device, 0, [&](const Block& block) {
        blocks.push_back(std::make_shared<D::DataAvailableEventArgs>(*block));
        return blocks.size() < 3;
    });
    ASSERT_EQ(blocks.size(), 3u);
    const auto gx = Component(blocks, &D::DataAvailableEventArgs::GyroscopeSamples, 0);
    const auto insole = Component(blocks, &D::DataAvailableEventArgs::InsoleGyroscopeSamples, 2);
    ASSERT_EQ(gx[0].size(), 30u);
    ASSERT_EQ(insole[0].size(), 30u);
    // A step of the 16-bit range, six times over for rpm.
    const float step = 4000.0f / 65535.0f;
    for (size_t i = 0; i < gx[0].size(); ++i) {
        EXPECT_NEAR(gx[0][i], 120.0f, step);
        EXPECT_NEAR(gx[1][i], 120.0f, 6.0f * step);
        EXPECT_EQ(gx[2][i], 0.0f);
        EXPECT_NEAR(insole[0][i], -30.0f, 6.0f * step);
    }
    std::filesystem::remove(path);
}

TEST(Playback, AnnotationsReturnAsTriggersAndRemoteEventsOnEveryPass) {
    const std::string path = WriteRecording({{0.25, "StartTrigger"},
                                             {0.3, "Unrelated note"},
                                             {0.4, "Remote x"},
                                             {0.5, "Remote 3"},
                                             {0.75, "StopTrigger"},
                                             {0.9, "Marker"}});
    ScopedEnv playback("QUELTO_SIM_PLAYBACK", path);
    // 10 ms blocks, 1.5 s: the file plays once and then half again. Only
    // what is checked is kept: fast mode waits while blocks are held.
    ScopedEnv mode("QUELTO_SIM_MODE", "fast");
    auto device = MakeDevice();
    std::map<int, int32_t> starts, stops;  // block -> trigger scan
    std::map<int, std::vector<uint16_t>> remote;
    int k = 0;
    bool scansInOrder = true, remoteArrays = true;
    CaptureWhile(*device, 3, [&](const Block& block) {
        const auto& e = *block;
        scansInOrder = scansInOrder && e.ScanNumber == 20 * k;
        if (e.StartTriggerDetected) starts[k] = e.StartTriggerScan;
        if (e.StopTriggerDetected) stops[k] = e.StopTriggerScan;
        remoteArrays = remoteArrays && e.RemoteControlEvents;
        if (e.RemoteControlEvents) {
            for (std::size_t i = 0; i < e.RemoteControlEvents->Length(); ++i) {
                remote[k].push_back((*e.RemoteControlEvents)[static_cast<int64_t>(i)]);
            }
        }
        return ++k < 150;
    });
    ASSERT_EQ(k, 150);
    EXPECT_TRUE(scansInOrder);
    EXPECT_TRUE(remoteArrays);
    EXPECT_EQ(starts, (std::map<int, int32_t>{{25, 500}, {125, 2500}}));
    EXPECT_EQ(stops, (std::map<int, int32_t>{{75, 1500}}));
    EXPECT_EQ(remote, (std::map<int, std::vector<uint16_t>>{{50, {3}}, {90, {QUELTO_REMOTE_MARKER}}}));
    std::filesystem::remove(path);
}

#endif  // _WIN32
