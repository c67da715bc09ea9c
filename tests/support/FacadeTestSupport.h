// Shared pieces of the facade tests: a recording listener and events.
#pragma once

#include "Quelto_DaqSystem.h"
#include "SdkTestSupport.h"
#include "TestPlatform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace FacadeTest {

namespace D = Quelto::Common::Definitions;

struct Seen {
    int32_t scan;
    void* context;
    std::thread::id thread;
    std::string threadTag;  // comparable with the device's, see TestPlatform.h
    const float* emg;  // storage of the listener's copy
};

// Records every call it receives; listeners get it through the context.
struct Recorder {
    std::mutex m;
    std::condition_variable cv;
    std::vector<Seen> seen;

    static void Listen(Quelto_DataAvailableEventArgs arg, void* context) {
        auto* self = static_cast<Recorder*>(context);
        std::lock_guard lock(self->m);
        self->seen.push_back(Seen{arg.ScanNumber, context, std::this_thread::get_id(), TestPlatform::ThreadTag(),
                                  arg.EmgSamples.empty() ? nullptr : arg.EmgSamples.data()});
        self->cv.notify_all();
    }
    bool WaitFor(std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock lock(m);
        return cv.wait_for(lock, timeout, [&] { return seen.size() >= n; });
    }
    std::vector<int32_t> Scans() {
        std::lock_guard lock(m);
        std::vector<int32_t> out;
        for (const auto& s : seen) out.push_back(s.scan);
        return out;
    }
};

inline Runtime::Ref<D::DataAvailableEventArgs> Event(int32_t scan, int emgValues = 0) {
    auto e = std::make_shared<D::DataAvailableEventArgs>();
    e->ScanNumber = scan;
    if (emgValues > 0) {
        e->EmgSamples = Runtime::NewArray<float>(1, emgValues);
        for (int i = 0; i < emgValues; ++i) (*e->EmgSamples)(0, i) = static_cast<float>(scan + i);
    }
    return e;
}

// Raises an event on the device thread of the most recent facade.
inline void Raise(int32_t scan, int emgValues = 0) {
    ASSERT_TRUE(TestSupport::SimControl().RaiseEvent(Event(scan, emgValues)));
}

inline std::unique_ptr<Quelto_DaqSystem> MakeFacade() {
    TestSupport::UseBuildLibraryFolder();
    return std::make_unique<Quelto_DaqSystem>();
}

}  // namespace FacadeTest
