// quelto-capture --view: the capture in the browser while it runs.
//
// The block listener only queues the block (bounded: a full queue drops it
// for the view alone and counts it). A thread of the view's own reduces the
// blocks for display (EMG as the minimum and maximum of every 4 ms and as
// an envelope, the RMS above 10 Hz of every 25 ms; inertial data, foot
// switches and insoles at 50 Hz), keeps the signal quality (Quality.h),
// and FrameHz times a second hands a frame of what is new to the server,
// which sends it to every viewer without waiting for any (ViewServer.h).
// Frames trail the device by about one block so that the traces move on
// evenly between blocks.
#pragma once

#include "Options.h"
#include "Quality.h"
#include "ViewServer.h"

#include "Quelto_BlockInfo.h"
#include "Quelto_DataAvailableEventArgs.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Capture {

// The folder of the page's files: QUELTO_VIEW_DIR, else share/quelto-bridge/view
// beside the program's bin/ folder (the build tree and an install alike).
std::string ViewFolder();

struct ViewSetup {
    std::array<bool, QUELTO_LAYOUT_SENSORS> sensors{};  // the rows of the page
    int period_ms = 100;
    std::string recording;  // the file written, "" when none
    bool lsl = false;
    std::string device;  // "1.4.2.7"
    double window_s = 10;  // the traces' length
};

class LiveView {
public:
    static constexpr int FrameHz = 20;
    static constexpr double QualityEvery_s = 0.5;
    static constexpr size_t QueueBlocks = 64;

    // Listens at `at` (throws std::runtime_error when it cannot) with the
    // files of `folder`.
    LiveView(const Endpoint& at, const std::string& folder);
    ~LiveView();
    LiveView(const LiveView&) = delete;
    LiveView& operator=(const LiveView&) = delete;

    // Before the capture: what the page shows; starts the view's thread.
    void Begin(const ViewSetup& setup);
    // A block listener (the bridge's worker thread): queues the block.
    static void QUELTO_CALL Listener(Quelto_DataAvailableEventArgs block, const Quelto_BlockInfo& info, void* self);
    void Offer(Quelto_DataAvailableEventArgs block, int64_t arrivalMonotonicNs);
    // Takes no more than `blocks` blocks (those of the file).
    void SetLimit(int64_t blocks) { limit_ = blocks; }
    // The device's state number, from the thread that owns the device.
    void SetDeviceState(int state) { deviceState_ = state; }
    // Sends the last frame (the capture's end), then closes the server.
    void Finish();

    ViewServer& Server() { return *server_; }
    int64_t Dropped() const { return dropped_.load(); }
    int64_t Frames() const { return frames_.load(); }

private:
    struct Item {
        Quelto_DataAvailableEventArgs block;
        int64_t arrivalNs;
    };
    // One reduced stream: `rows` of values every `dt` seconds from the start.
    struct Series {
        double dt = 0;
        int64_t first = 0;  // index of the oldest value kept
        std::vector<std::deque<float>> rows;
        std::vector<std::deque<float>> extra;  // EMG: the maxima beside the minima
    };
    struct Bucket {
        int count = 0;
        double a = 0, b = 0;  // running minimum and maximum, or sum, or sum of squares
        double high = 0, last = 0;  // the envelope's high-pass state
    };

    void Run();
    void Start(const std::vector<Item>& firstRecord);
    void Process(const Item& item);
    void Frame(bool last);
    std::string Greeting() const;

    std::unique_ptr<ViewServer> server_;
    ViewSetup setup_;
    std::unique_ptr<QualityEstimator> quality_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Item> queue_;
    bool stopping_ = false;
    int64_t offered_ = 0;  // under mutex_
    std::atomic<int64_t> limit_{INT64_MAX};
    std::atomic<int64_t> dropped_{0}, frames_{0};
    std::atomic<int> deviceState_{0};
    std::thread thread_;

    // The view's thread only.
    std::vector<Item> firstRecord_;
    bool started_ = false;
    std::vector<int> rows_;  // sensor index of each row
    int emgRate_ = 0, imuRate_ = 0, fswRate_ = 0, insRate_ = 0;
    int emgStep_ = 8, envStep_ = 50, imuStep_ = 1, fswStep_ = 1, insStep_ = 1;
    int64_t emgCount_ = 0, imuCount_ = 0, fswCount_ = 0, insCount_ = 0;  // samples so far
    Series emg_, env_, acc_[3], fsw_, ins_;
    std::vector<Bucket> emgBucket_, envBucket_, accBucket_, fswBucket_, insBucket_;
    std::vector<bool> fswOn_, insOn_;
    int64_t blocks_ = 0, lost_ = 0, nextScan_ = -1;
    double lastEnd_s_ = 0;       // device time of the last sample
    int64_t lastArrivalNs_ = 0;  // when that block came
    double shown_s_ = 0;         // device time shown so far
    int64_t sent_[5] = {};       // values sent of EMG, envelope, inertial, foot switches, insoles
    int64_t seq_ = 0;
    double nextQuality_s_ = 0;
};

// Opens the view for the options (--view): listens, and says where on
// standard error (with a warning when others can reach it). Throws Refused
// when the address cannot be used.
std::unique_ptr<LiveView> OpenView(const Options& options);

}  // namespace Capture
