// The event bridge: takes the device's data events off the device's thread
// and delivers them, flattened, to the facade on a worker thread of its own.
//
// Queue: unbounded, first in first out; nothing is dropped or merged while
// the bridge lives. The device thread only appends, and wakes the worker
// only when it sleeps (one wake-up per sleep, no system call while the
// worker is busy).
//
// A backlog is reported on the debug trace: once when the oldest waiting
// block has waited 1 s, once at 10 s, and once more when the queue drains.
#pragma once

#include "ArrivalClock.h"
#include "BlockQueue.h"
#include "Quelto_DataAvailableEventArgs.h"
#include "SdkContract.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

// The one place where pipeline/ reaches back into bridge/: the facade owns
// its event bridge, and the worker hands each block to that owner
// (Quelto_DaqSystem::DeliverBlock). Only the declaration is needed here.
class Quelto_DaqSystem;

class QueltoManagedBridge : public std::enable_shared_from_this<QueltoManagedBridge> {
public:
    using EventArgs = Quelto::Common::Definitions::DataAvailableEventArgs;
    using Clock = int64_t (*)();  // nanoseconds of a monotonic clock

    // One waiting block: the SDK's event and what the device thread noted
    // when it arrived. The wall-clock time of arrival is worked out by the
    // worker from the monotonic one, which keeps a clock reading off the
    // device thread.
    struct QueuedEvent {
        Runtime::Ref<EventArgs> event;
        int64_t arrivalNs = 0;    // on `Clock`, for the backlog report
        int64_t sequence = 0;     // for the host
        int64_t monotonicNs = 0;  // for the host
    };

    explicit QueltoManagedBridge(Quelto_DaqSystem* owner, Clock clock = nullptr);
    ~QueltoManagedBridge();
    QueltoManagedBridge(const QueltoManagedBridge&) = delete;
    QueltoManagedBridge& operator=(const QueltoManagedBridge&) = delete;

    // Device thread: stamps `e` (sequence and monotonic time), appends it
    // and returns. It wakes the worker only when the worker sleeps.
    void OnDataAvailable(const Runtime::Ref<Runtime::Object>& sender, const Runtime::Ref<EventArgs>& e);
    // Starts the worker unless it runs. Queued events are delivered first.
    void StartProcessing();
    // Lets a delivery in progress finish (to every listener), then ends the
    // worker; the queue is kept. True when it waited for the worker's end.
    // It does not wait, and returns false, on the worker itself (a listener
    // destroying its own facade) and when waiting would close a cycle of
    // workers waiting for one another (listeners of two facades destroying
    // each other's): that worker then ends after its current listener.
    bool StopProcessing();

    // The subscription to hand to the device: it holds the queue, not the
    // bridge, so an event raised after the bridge is gone is dropped, never
    // delivered to freed memory.
    Quelto::Common::Definitions::DataAvailableEventHandler Handler();

    static Quelto_DataAvailableEventArgs CopyEventArgs(const EventArgs& e);

    bool IsWorkerThread() const;
    std::size_t QueueLength() const;
    // Wake-ups the device thread has made so far (one per sleep of the
    // worker at most), and whether the worker sleeps now waiting for a block.
    int64_t WakeUps() const;
    bool WorkerSleeps() const;

    // Waits at which the backlog is reported, in nanoseconds.
    static constexpr int64_t kBacklogWarnNs[2] = {1'000'000'000, 10'000'000'000};

private:
    // What the device thread and the worker share. The subscription holds it
    // too, strongly, so that a raise takes no reference count; the bridge
    // closes it as it goes, and later raises are dropped.
    struct Inbox {
        explicit Inbox(Clock c) : clock(c) {}
        // Device thread: appends `e` unless closed, wakes a sleeping worker.
        void Append(const Runtime::Ref<EventArgs>& e);
        const Clock clock;
        mutable std::mutex mutex;
        std::condition_variable wake;
        // Guarded by mutex.
        bool open = true;      // until the bridge goes
        bool running = false;  // the worker is asked to run
        Pipeline::BlockQueue<QueuedEvent> argsBuffer;
        int64_t received = 0;       // events appended so far: the next sequence
        bool workerAsleep = false;  // waiting on `wake` and not yet woken
        int64_t wakeUps = 0;        // notifications made by Append
        int backlogLevel = 0;       // thresholds of kBacklogWarnNs passed since the last drain
        std::size_t peakBlocks = 0;
        int64_t peakNs = 0;
    };

    void ProcessBufferLoop();
    void ReportDrained(std::size_t peakBlocks, int64_t peakNs);

    Quelto_DaqSystem* const owner;
    const std::shared_ptr<Inbox> inbox_;
    std::thread processingThread;
};
