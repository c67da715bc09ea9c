// The polling design, built from the project's own record and flattening,
// to measure against in the same run: the worker looks at the queue and
// sleeps 1 ms when it is empty; each record is copied once more when handed
// to delivery, and once per listener.
#pragma once

#include "Quelto_DaqSystem.h"
#include "SdkContract.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace Bench {

class ReferenceBridge {
public:
    using EventArgs = Quelto::Common::Definitions::DataAvailableEventArgs;

    ReferenceBridge() = default;
    ~ReferenceBridge() { StopProcessing(); }
    ReferenceBridge(const ReferenceBridge&) = delete;
    ReferenceBridge& operator=(const ReferenceBridge&) = delete;

    // Before StartProcessing only.
    void AddListener(Quelto_DataAvailableListener cb, void* context) { listeners_.push_back(Listener{cb, context}); }

    void OnDataAvailable(const Runtime::Ref<Runtime::Object>&, const Runtime::Ref<EventArgs>& e);
    Quelto::Common::Definitions::DataAvailableEventHandler Handler();
    void StartProcessing();
    void StopProcessing();
    std::size_t QueueLength() const;

private:
    void ProcessBufferLoop();
    // By value: the hand-over copy.
    void DaqDataAvailable(Quelto_DataAvailableEventArgs arg);

    std::vector<Listener> listeners_;
    std::thread processingThread_;
    std::atomic<bool> running_{false};
    std::deque<Runtime::Ref<EventArgs>> argsBuffer_;
    mutable std::mutex mutex_;
};

}  // namespace Bench
