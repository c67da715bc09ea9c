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

}  // namespace

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
