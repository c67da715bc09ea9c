// The event bridge: takes the device's data events off the device's thread
// and delivers them, flattened, to the facade on a worker thread of its own.
//
// Queue: unbounded, first in first out; nothing is dropped or merged while
// the bridge lives. The device thread only appends.
#pragma once

#include "Quelto_DataAvailableEventArgs.h"
#include "SdkContract.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

// The one place where pipeline/ reaches back into bridge/: the facade owns
// its event bridge, and the worker hands each block to that owner
// (Quelto_DaqSystem::DaqDataAvailable). Only the declaration is needed here.
class Quelto_DaqSystem;

class QueltoManagedBridge : public std::enable_shared_from_this<QueltoManagedBridge> {
public:
    using EventArgs = Quelto::Common::Definitions::DataAvailableEventArgs;

    explicit QueltoManagedBridge(Quelto_DaqSystem* owner);
    ~QueltoManagedBridge();
    QueltoManagedBridge(const QueltoManagedBridge&) = delete;
    QueltoManagedBridge& operator=(const QueltoManagedBridge&) = delete;

    // Device thread: appends `e` and returns.
    void OnDataAvailable(const Runtime::Ref<Runtime::Object>& sender, const Runtime::Ref<EventArgs>& e);
    // Starts the worker unless it runs. Queued events are delivered first.
    void StartProcessing();
    // Lets a delivery in progress finish, then ends the worker; the queue is
    // kept. On the worker itself (a listener destroying its facade) it does
    // not wait: the worker ends after the current listener returns.
    void StopProcessing();

    // The subscription to hand to the device: holds the bridge weakly, so an
    // event raised after the bridge is gone is dropped, never delivered to
    // freed memory.
    Quelto::Common::Definitions::DataAvailableEventHandler Handler();

    static Quelto_DataAvailableEventArgs CopyEventArgs(const EventArgs& e);

    bool IsWorkerThread() const;
    std::size_t QueueLength() const;

private:
    void ProcessBufferLoop();

    Quelto_DaqSystem* const owner;
    std::thread processingThread;
    bool running = false;
    std::deque<Runtime::Ref<EventArgs>> argsBuffer;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
};
