#include "QueltoManagedBridge.h"

#include "EventFlattening.h"
#include "ManagedRuntime.h"
#include "Quelto_DaqSystem.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bridge_ = QueltoManagedBridge;

// The bridge whose worker runs on this thread, if any.
thread_local const Bridge_* t_worker = nullptr;

// Workers waiting in StopProcessing for another bridge's worker: (the bridge
// of the waiting worker, the bridge it waits for). A wait that would close a
// cycle is not made.
std::mutex g_waitsMutex;
std::vector<std::pair<const Bridge_*, const Bridge_*>> g_waits;

// True when the worker of `from` waits, directly or through others, for the
// worker of `target` (or `from` is `target`).
bool WaitsFor(const Bridge_* from, const Bridge_* target) {
    for (std::size_t hops = 0; from && hops <= g_waits.size(); ++hops) {
        if (from == target) return true;
        const auto it = std::find_if(g_waits.begin(), g_waits.end(), [&](const auto& w) { return w.first == from; });
        from = it == g_waits.end() ? nullptr : it->second;
    }
    return false;
}


std::string Seconds(int64_t ns) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ns) / 1e9);
    return text;
}

void ReportWorkerFailure(const std::string& text) {
    const std::string line = "Quelto.bridge: a block could not be delivered: " + text + "\n";
    Runtime::Console::WriteError(line);
    Runtime::Debug::Write(line);
}

void ReportBacklog(int64_t thresholdNs, std::size_t blocks) {
    Runtime::Debug::Write("Quelto.bridge: warning: the host's listeners are falling behind: " +
                          std::to_string(thresholdNs / 1'000'000'000) + " s of data waiting (" +
                          std::to_string(blocks) +
                          " blocks); the queue keeps growing until the listeners catch up\n");
}

}  // namespace

QueltoManagedBridge::QueltoManagedBridge(Quelto_DaqSystem* owner_, Clock clock)
    : owner(owner_), clock_(clock ? clock : &Pipeline::MonotonicNs) {}

QueltoManagedBridge::~QueltoManagedBridge() {
    if (!processingThread.joinable()) return;
    if (processingThread.get_id() == std::this_thread::get_id()) {
        processingThread.detach();  // the worker's own reference was the last
        return;
    }
    StopProcessing();
}

Quelto_DataAvailableEventArgs QueltoManagedBridge::CopyEventArgs(const EventArgs& e) { return Pipeline::CopyEventArgs(e); }

void QueltoManagedBridge::OnDataAvailable(const Runtime::Ref<Runtime::Object>&, const Runtime::Ref<EventArgs>& e) {
    const int64_t monotonic = Pipeline::MonotonicNs();
    const int64_t now = clock_ == &Pipeline::MonotonicNs ? monotonic : clock_();
    bool wake = false;
    int passed = 0;  // 1 or 2: the threshold this append passed first
    std::size_t blocks = 0;
    {
        std::lock_guard lock(mutex_);
        argsBuffer.push_back(QueuedEvent{e, now, received++, monotonic});
        wake = std::exchange(workerAsleep_, false);
        wakeUps_ += wake;
        const int64_t waited = now - argsBuffer.front().arrivalNs;
        if (waited >= kBacklogWarnNs[0]) {
            blocks = argsBuffer.size();
            peakBlocks_ = std::max(peakBlocks_, blocks);
            peakNs_ = std::max(peakNs_, waited);
            const int before = backlogLevel_;
            while (backlogLevel_ < 2 && waited >= kBacklogWarnNs[backlogLevel_]) ++backlogLevel_;
            if (backlogLevel_ > before) passed = backlogLevel_;  // the highest one reached
        }
    }
    if (wake) wake_.notify_one();
    if (passed) ReportBacklog(kBacklogWarnNs[passed - 1], blocks);
}

Quelto::Common::Definitions::DataAvailableEventHandler QueltoManagedBridge::Handler() {
    return [weak = weak_from_this()](const Runtime::Ref<Runtime::Object>& sender, const Runtime::Ref<EventArgs>& e) {
        if (auto self = weak.lock()) self->OnDataAvailable(sender, e);
    };
}

void QueltoManagedBridge::StartProcessing() {
    std::lock_guard lock(mutex_);
    if (running) return;
    if (processingThread.joinable()) processingThread.join();  // an ended earlier worker
    running = true;
    // The worker keeps its bridge alive until it has left the loop.
    processingThread = std::thread([self = shared_from_this()] {
        t_worker = self.get();
        self->ProcessBufferLoop();
    });
}

bool QueltoManagedBridge::StopProcessing() {
    {
        std::lock_guard lock(mutex_);
        running = false;
    }
    wake_.notify_all();
    if (!processingThread.joinable()) return true;
    if (IsWorkerThread()) {
        processingThread.detach();
        return false;
    }
    const Bridge_* const me = t_worker;  // a worker of another bridge, or none
    if (me) {
        std::lock_guard lock(g_waitsMutex);
        if (WaitsFor(this, me)) {
            processingThread.detach();
            return false;
        }
        g_waits.emplace_back(me, this);
    }
    processingThread.join();
    if (me) {
        std::lock_guard lock(g_waitsMutex);
        g_waits.erase(std::find(g_waits.begin(), g_waits.end(), std::pair<const Bridge_*, const Bridge_*>(me, this)));
    }
    return true;
}

bool QueltoManagedBridge::IsWorkerThread() const { return t_worker == this; }

std::size_t QueltoManagedBridge::QueueLength() const {
    std::lock_guard lock(mutex_);
    return argsBuffer.size();
}

int64_t QueltoManagedBridge::WakeUps() const {
    std::lock_guard lock(mutex_);
    return wakeUps_;
}

bool QueltoManagedBridge::WorkerSleeps() const {
    std::lock_guard lock(mutex_);
    return workerAsleep_;
}

void QueltoManagedBridge::ReportDrained(std::size_t peakBlocks, int64_t peakNs) {
    Runtime::Debug::Write("Quelto.bridge: the host's listeners have caught up: no blocks waiting (at most " +
                          std::to_string(peakBlocks) + " waited, the oldest for " + Seconds(peakNs) + ")\n");
}

void QueltoManagedBridge::ProcessBufferLoop() {
    std::unique_lock lock(mutex_);
    while (running) {
        if (argsBuffer.empty()) {
            if (backlogLevel_ > 0) {
                const std::size_t blocks = std::exchange(peakBlocks_, 0);
                const int64_t waited = std::exchange(peakNs_, 0);
                backlogLevel_ = 0;
                lock.unlock();
                ReportDrained(blocks, waited);
                lock.lock();
                continue;
            }
            // Sleeps until an event is appended or the bridge is stopped;
            // the appending thread wakes it once.
            workerAsleep_ = true;
            wake_.wait(lock, [&] { return !running || !argsBuffer.empty(); });
            workerAsleep_ = false;
            continue;
        }
        Runtime::Ref<EventArgs> e = std::move(argsBuffer.front().event);
        const int64_t sequence = argsBuffer.front().sequence, monotonic = argsBuffer.front().monotonicNs;
        argsBuffer.pop_front();
        const auto waiting = static_cast<int32_t>(std::min<std::size_t>(argsBuffer.size(), INT32_MAX));
        lock.unlock();
        const Quelto_BlockInfo info{sequence, monotonic, Pipeline::RealtimeAt(monotonic), waiting, 0};
        try {
            Runtime::Deref(e).Acquire();
            Quelto_DataAvailableEventArgs record = CopyEventArgs(*e);
            e.reset();
            Hosting::Managed::CollectAfterBlock();
            owner->DeliverBlock(std::move(record), info);
        } catch (const Runtime::Exception& ex) {
            ReportWorkerFailure(ex.ToString());
        } catch (const std::exception& ex) {
            ReportWorkerFailure(ex.what());
        } catch (...) {
            ReportWorkerFailure("unknown exception");
        }
        lock.lock();
    }
}
