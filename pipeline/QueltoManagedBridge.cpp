#include "QueltoManagedBridge.h"

#include "EventFlattening.h"
#include "Quelto_DaqSystem.h"

namespace {

void ReportWorkerFailure(const std::string& text) {
    const std::string line = "Quelto.bridge: a block could not be delivered: " + text + "\n";
    Runtime::Console::WriteError(line);
    Runtime::Debug::Write(line);
}

}  // namespace

QueltoManagedBridge::QueltoManagedBridge(Quelto_DaqSystem* owner_) : owner(owner_) {}

QueltoManagedBridge::~QueltoManagedBridge() {
    StopProcessing();
    if (processingThread.joinable()) processingThread.detach();
}

Quelto_DataAvailableEventArgs QueltoManagedBridge::CopyEventArgs(const EventArgs& e) { return Pipeline::CopyEventArgs(e); }

void QueltoManagedBridge::OnDataAvailable(const Runtime::Ref<Runtime::Object>&, const Runtime::Ref<EventArgs>& e) {
    {
        std::lock_guard lock(mutex_);
        argsBuffer.push_back(e);
    }
    wake_.notify_one();
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
    processingThread = std::thread([self = shared_from_this()] { self->ProcessBufferLoop(); });
}

void QueltoManagedBridge::StopProcessing() {
    {
        std::lock_guard lock(mutex_);
        running = false;
    }
    wake_.notify_all();
    if (!processingThread.joinable()) return;
    if (IsWorkerThread()) {
        processingThread.detach();
    } else {
        processingThread.join();
    }
}

bool QueltoManagedBridge::IsWorkerThread() const { return processingThread.get_id() == std::this_thread::get_id(); }

std::size_t QueltoManagedBridge::QueueLength() const {
    std::lock_guard lock(mutex_);
    return argsBuffer.size();
}

void QueltoManagedBridge::ProcessBufferLoop() {
    std::unique_lock lock(mutex_);
    while (running) {
        if (argsBuffer.empty()) {
            // Sleeps until an event is appended or the bridge is stopped.
            wake_.wait(lock, [&] { return !running || !argsBuffer.empty(); });
            continue;
        }
        Runtime::Ref<EventArgs> e = std::move(argsBuffer.front());
        argsBuffer.pop_front();
        lock.unlock();
        try {
            Quelto_DataAvailableEventArgs record = CopyEventArgs(Runtime::Deref(e));
            e.reset();
            owner->DaqDataAvailable(std::move(record));
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
