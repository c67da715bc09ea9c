// Publishes a capture on the Lab Streaming Layer: one outlet per rate group
// and one string outlet of markers.
//
// The device never waits on the network: the block listener only queues a
// block (bounded; a full queue drops the block for the streams alone and
// counts it), and a thread of its own pushes to LSL. Each sample is stamped
// with its own time: its index on the group's rate, mapped onto LSL's clock
// by the shared SampleClock. The first pushes wait until the clock has seen
// half a second of the device, so that a late first block cannot shift them.
// Later changes of the clock's estimate are slewed, never stepped: the
// stamps of each block follow a line that leans towards the estimate by at
// most MaxSlew (1 ms per second), so that they always rise evenly.
#pragma once

#include "LslLibrary.h"
#include "Percentiles.h"
#include "SampleClock.h"
#include "StreamGroups.h"

#include "Quelto_BlockInfo.h"
#include "Quelto_DataAvailableEventArgs.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Capture {

// The device-to-host clock, fed by the block listener and read by the
// streams and the host markers. Host time is CLOCK_MONOTONIC in seconds.
class SharedClock {
public:
    void Observe(double deviceEnd_s, double arrivalMonotonic_s);
    SampleClock Snapshot() const;
    // Device second of a host time; 0 before the first block.
    double DeviceTime(double monotonic_s) const;

private:
    mutable std::mutex mutex_;
    SampleClock clock_;
};

// CLOCK_MONOTONIC now, in seconds.
double MonotonicSeconds();

struct LslSettings {
    std::string name = "Quelto";  // stream names: "<name> EMG", "<name> Markers"
    std::string sourceId;         // source_id of a stream: "<sourceId>/<group key>"
    int period_ms = 100;
    std::string deviceSoftware;   // "1.4.2.7"
    double bufferSeconds = 30;    // what an outlet keeps for a slow inlet
    size_t queueBlocks = 0;       // 0: two seconds of blocks (at least 8)
    double linger_s = 1;          // outlets stay this long after the last push while inlets are connected
};

// "quelto/<host name>/<device software>": the same for every run of the tool
// on this machine and device, so that inlets and recorders reconnect.
std::string DefaultSourceId(const std::string& deviceSoftware);

class LslPublisher {
public:
    static constexpr double WarmUpSeconds = 0.5;
    static constexpr double MaxSlew = 1e-3;


    // Creates the outlets (visible on the network from now on) and starts
    // the sending thread. Throws std::runtime_error when an outlet cannot be
    // made.
    LslPublisher(const Lsl::Library& lsl, std::vector<StreamGroup> groups, int scanRateHz, const SharedClock& clock,
                 LslSettings settings);
    ~LslPublisher();
    LslPublisher(const LslPublisher&) = delete;
    LslPublisher& operator=(const LslPublisher&) = delete;

    // A block listener (the bridge's worker thread): queues the block.
    static void QUELTO_CALL Listener(Quelto_DataAvailableEventArgs block, const Quelto_BlockInfo& info, void* self);
    void Offer(Quelto_DataAvailableEventArgs block, int64_t arrivalMonotonicNs = 0);
    // Any thread: a marker of the host at a CLOCK_MONOTONIC time.
    void HostMarker(std::string text, double monotonic_s);
    // Takes no more than `blocks` blocks (those of the file, when one is
    // written); the blocks after it are ignored.
    void SetLimit(int64_t blocks) { limit_ = blocks; }
    // Pushes everything queued, then stops the sending thread.
    void Finish();

    int64_t Dropped() const { return dropped_.load(); }
    int64_t Pushed() const { return pushed_.load(); }
    const std::vector<StreamGroup>& Groups() const { return groups_; }
    const std::string& SourceId() const { return settings_.sourceId; }
    // How much later than the stamp of its last sample each block arrived
    // (ms): the stamps' accuracy against the arrival times. After Finish().
    const Percentiles& ArrivalAfterStamp() const { return arrivalAfterStamp_; }
    // Outlets with a consumer (an inlet connected) right now.
    int Consumers() const;
    // Waits until every outlet has a consumer or `seconds` have passed;
    // true when all have one.
    bool WaitForConsumers(double seconds) const;

private:
    struct Item {
        bool isMarker = false;
        Quelto_DataAvailableEventArgs block;
        std::string text;
        double monotonic_s = 0;  // a marker's time, or a block's arrival
    };
    void Run();
    void Send(const Item& item, const SampleClock& clock);
    // The stamps' line over one block's device seconds [start, end].
    struct Segment {
        double start = 0, host = 0, slope = 1;  // host second of `start`, host seconds per device second
        double end = 0;
        double At(double device_s) const { return host + (device_s - start) * slope; }
    };
    Segment Lean(double start, double end, const SampleClock& clock);
    void SendMarker(const std::string& text, double lslTime);
    Lsl::Outlet MakeOutlet(const StreamGroup& group);
    Lsl::Outlet MakeMarkerOutlet();
    void Describe(Lsl::StreamInfo info, const char* group);

    const Lsl::Api& api_;
    std::vector<StreamGroup> groups_;
    int scanRateHz_;
    const SharedClock& clock_;
    LslSettings settings_;
    double lslMinusMonotonic_ = 0;
    Segment last_{};
    bool started_ = false;
    std::vector<Lsl::Outlet> outlets_;  // one per group
    Lsl::Outlet markers_ = nullptr;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Item> queue_;
    size_t capacity_;
    bool stopping_ = false;
    std::atomic<int64_t> dropped_{0}, pushed_{0};
    std::atomic<int64_t> limit_{INT64_MAX};
    int64_t offered_ = 0;  // under mutex_
    Percentiles arrivalAfterStamp_;  // sending thread
    std::atomic<bool> sawConsumers_{false};
    std::vector<float> data_;
    std::vector<double> stamps_;
    std::thread thread_;
};

}  // namespace Capture
