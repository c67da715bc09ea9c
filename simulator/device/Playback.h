// Replay of an EDF+/BDF+ recording as the device's data: every channel
// whose label and unit follow Quelto_DataLayout.h (as quelto-capture writes
// them) goes back into its buffer, row and component; other channels are
// ignored. Buffers with no channel in the file stay empty, rows without one
// are zeros. Annotations "StartTrigger", "StopTrigger", "Marker" and
// "Remote <code>" come back as triggers and remote-control events in the
// block that covers their onset; a press's duration as the button's state. The whole file is read when the device is
// made; at its end the replay starts over while the counters keep running.
#pragma once

#include "BlockGenerator.h"

#include <array>
#include <string>
#include <vector>

namespace QueltoSim {

class PlaybackSource final : public BlockSource {
public:
    // Throws FileNotFoundException (unreadable, or not a regular file: a
    // FIFO would block) or FormatException (not EDF/BDF, or no channel of
    // the layout), naming the file.
    explicit PlaybackSource(const std::string& path);

    DevicePlan Start(const DevicePlan& configured, std::chrono::microseconds period) override;
    Runtime::Ref<Quelto::Common::Definitions::DataAvailableEventArgs> Next() override;
    void Calibrate(Calibration, int) override {}

private:
    struct Stream {
        int rateHz = 0;
        int64_t length = 0;                    // samples per channel
        std::vector<std::vector<float>> data;  // [row * components + component], empty when absent
    };

    struct Event {
        enum class Kind { StartTrigger, StopTrigger, Remote } kind;
        int64_t onset_us;
        uint16_t code;        // for Remote
        int64_t held_us = 0;  // for Remote: how long the button is held
    };

    void ReadEvents(int handle, long long count);
    void FillEvents(Quelto::Common::Definitions::DataAvailableEventArgs& e, int64_t block, int scanRate,
                    int insoleRate, int insoleImuRate) const;
    template <int Rank>
    Runtime::ArrayRef<float, Rank> Slice(Quelto_Buffer buffer, int64_t block) const;
    int RateOf(Quelto_Buffer buffer) const { return streams_[buffer].rateHz; }
    bool RowPresent(Quelto_Buffer buffer, int row) const;

    std::array<Stream, QUELTO_BUFFER_COUNT> streams_;
    std::vector<Event> events_;  // by onset
    int channels_ = 0;
    int64_t duration_us_ = 0;
    int64_t period_us_ = 100000;
    int64_t block_ = 0;
};

}  // namespace QueltoSim
