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
    : owner(owner_), inbox_(std::make_shared<Inbox>(clock ? clock : &Pipeline::MonotonicNs)) {}

QueltoManagedBridge::~QueltoManagedBridge() {
    if (processingThread.joinable()) {
        if (processingThread.get_id() == std::this_thread::get_id()) {
            processingThread.detach();  // the worker's own reference was the last
        } else {
            StopProcessing();
        }
    }
    // The subscription may outlive the bridge: it keeps the inbox, which
    // from now on drops what is raised and holds no event.
    Pipeline::BlockQueue<QueuedEvent> left;  // released after the lock
    {
        std::lock_guard lock(inbox_->mutex);
        inbox_->open = false;
        left = std::move(inbox_->argsBuffer);
    }
}

Quelto_DataAvailableEventArgs QueltoManagedBridge::CopyEventArgs(const EventArgs& e) { return Pipeline::CopyEventArgs(e); }

void QueltoManagedBridge::OnDataAvailable(const Runtime::Ref<Runtime::Object>&, const Runtime::Ref<EventArgs>& e) {
    inbox_->Append(e);
}

void QueltoManagedBridge::Inbox::Append(const Runtime::Ref<EventArgs>& e) {
    const int64_t monotonic = Pipeline::MonotonicNs();
    const int64_t now = clock == &Pipeline::MonotonicNs ? monotonic : clock();
    bool wake = false;
    int passed = 0;  // 1 or 2: the threshold this append passed first
    std::size_t blocks = 0;
    {
        std::lock_guard lock(mutex);
        if (!open) return;
        argsBuffer.push_back(QueuedEvent{e, now, received++, monotonic});
        wake = std::exchange(workerAsleep, false);
        wakeUps += wake;
        const int64_t waited = now - argsBuffer.front().arrivalNs;
        if (waited >= kBacklogWarnNs[0]) {
            blocks = argsBuffer.size();
            peakBlocks = std::max(peakBlocks, blocks);
            peakNs = std::max(peakNs, waited);
            const int before = backlogLevel;
            while (backlogLevel < 2 && waited >= kBacklogWarnNs[backlogLevel]) ++backlogLevel;
            if (backlogLevel > before) passed = backlogLevel;  // the highest one reached
        }
    }
    if (wake) this->wake.notify_one();
    if (passed) ReportBacklog(kBacklogWarnNs[passed - 1], blocks);
}

Quelto::Common::Definitions::DataAvailableEventHandler QueltoManagedBridge::Handler() {
    return [inbox = inbox_](const Runtime::Ref<Runtime::Object>&, const Runtime::Ref<EventArgs>& e) {
        inbox->Append(e);
    };
}

void QueltoManagedBridge::StartProcessing() {
    std::lock_guard lock(inbox_->mutex);
    if (inbox_->running) return;
    if (processingThread.joinable()) processingThread.join();  // an ended earlier worker
    inbox_->running = true;
    // The worker keeps its bridge alive until it has left the loop.
    processingThread = std::thread([self = shared_from_this()] {
        t_worker = self.get();
        self->ProcessBufferLoop();
    });
}

bool QueltoManagedBridge::StopProcessing() {
    {
        std::lock_guard lock(inbox_->mutex);
        inbox_->running = false;
    }
    inbox_->wake.notify_all();
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
    std::lock_guard lock(inbox_->mutex);
    return inbox_->argsBuffer.size();
}

int64_t QueltoManagedBridge::WakeUps() const {
    std::lock_guard lock(inbox_->mutex);
    return inbox_->wakeUps;
}

bool QueltoManagedBridge::WorkerSleeps() const {
    std::lock_guard lock(inbox_->mutex);
    return inbox_->workerAsleep;
}

void QueltoManagedBridge::ReportDrained(std::size_t peakBlocks, int64_t peakNs) {
    Runtime::Debug::Write("Quelto.bridge: the host's listeners have caught up: no blocks waiting (at most " +
                          std::to_string(peakBlocks) + " waited, the oldest for " + Seconds(peakNs) + ")\n");
}

void QueltoManagedBridge::ProcessBufferLoop() {
    Inbox& in = *inbox_;
    std::unique_lock lock(in.mutex);
    while (in.running) {
        if (in.argsBuffer.empty()) {
            if (in.backlogLevel > 0) {
                const std::size_t blocks = std::exchange(in.peakBlocks, 0);
                const int64_t waited = std::exchange(in.peakNs, 0);
                in.backlogLevel = 0;
                lock.unlock();
                ReportDrained(blocks, waited);
                lock.lock();
                continue;
            }
            // Sleeps until an event is appended or the bridge is stopped;
            // the appending thread wakes it once.
            in.workerAsleep = true;
            in.wake.wait(lock, [&] { return !in.running || !in.argsBuffer.empty(); });
            in.workerAsleep = false;
            continue;
        }
        Runtime::Ref<EventArgs> e = std::move(in.argsBuffer.front().event);
        const int64_t sequence = in.argsBuffer.front().sequence, monotonic = in.argsBuffer.front().monotonicNs;
        in.argsBuffer.pop_front();
        const auto waiting = static_cast<int32_t>(std::min<std::size_t>(in.argsBuffer.size(), INT32_MAX));
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
