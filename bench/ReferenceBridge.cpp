#include "ReferenceBridge.h"

#include "EventFlattening.h"

#include <chrono>

namespace Bench {

void ReferenceBridge::OnDataAvailable(const Runtime::Ref<Runtime::Object>&, const Runtime::Ref<EventArgs>& e) {
    std::lock_guard lock(mutex_);
    argsBuffer_.push_back(e);
}

Quelto::Common::Definitions::DataAvailableEventHandler ReferenceBridge::Handler() {
    return [this](const Runtime::Ref<Runtime::Object>& sender, const Runtime::Ref<EventArgs>& e) {
        OnDataAvailable(sender, e);
    };
}

void ReferenceBridge::StartProcessing() {
    if (running_.exchange(true)) return;
    processingThread_ = std::thread([this] { ProcessBufferLoop(); });
}

void ReferenceBridge::StopProcessing() {
    running_ = false;
    if (processingThread_.joinable()) processingThread_.join();
}

std::size_t ReferenceBridge::QueueLength() const {
    std::lock_guard lock(mutex_);
    return argsBuffer_.size();
}

void ReferenceBridge::ProcessBufferLoop() {
    while (running_) {
        Runtime::Ref<EventArgs> e;
        {
            std::lock_guard lock(mutex_);
            if (!argsBuffer_.empty()) {
                e = std::move(argsBuffer_.front());
                argsBuffer_.pop_front();
            }
        }
        if (!e) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        Quelto_DataAvailableEventArgs record = ::Pipeline::CopyEventArgs(*e);
        e.reset();
        DaqDataAvailable(record);
    }
}

void ReferenceBridge::DaqDataAvailable(Quelto_DataAvailableEventArgs arg) {
    const std::size_t end = listeners_.size();
    for (std::size_t i = 0; i < end; ++i) {
        listeners_[i].cb(arg, listeners_[i].context);  // a copy for each
    }
}

}  // namespace Bench
