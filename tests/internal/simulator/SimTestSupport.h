// Capturing from the simulated device in tests: settings through the
// environment, blocks collected on the device thread.
#pragma once

#include "SdkTestSupport.h"
#include "TestPlatform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace SimTest {

namespace D = Quelto::Common::Definitions;
using Block = Runtime::Ref<D::DataAvailableEventArgs>;

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        TestPlatform::SetEnv(name, value);
    }
    ~ScopedEnv() {
        if (old_) {
            TestPlatform::SetEnv(name_, *old_);
        } else {
            TestPlatform::UnsetEnv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

inline Runtime::Ref<Quelto::Interfaces::IDaqSystem> MakeDevice() {
    TestSupport::UseBuildLibraryFolder();
    return Runtime::AppDomain::CurrentDomain().CreateInstance<Quelto::Interfaces::IDaqSystem>(D::QueltoAssemblyName,
                                                                                             Quelto::DaqSystemClass);
}

inline Runtime::Ref<D::ICaptureConfiguration> NewCapture() {
    TestSupport::UseBuildLibraryFolder();
    return Runtime::AppDomain::CurrentDomain().CreateInstance<D::ICaptureConfiguration>(D::CommonAssemblyName,
                                                                                       D::CaptureConfigurationClass);
}

inline Runtime::Ref<D::ISensorConfiguration> NewSensor(int model, int mode, int accFullScale = 0, int gyroFullScale = 0) {
    TestSupport::UseBuildLibraryFolder();
    auto s = Runtime::AppDomain::CurrentDomain().CreateInstance<D::ISensorConfiguration>(D::CommonAssemblyName,
                                                                                        D::SensorConfigurationClass);
    s->set_SensorModel(D::SensorModel{model});
    s->set_SensorMode(D::SensorMode{mode});
    s->set_AccelerometerFullScale(D::AccelerometerFullScale{accFullScale});
    s->set_GyroscopeFullScale(D::GyroscopeFullScale{gyroFullScale});
    return s;
}

// Runs `onBlock` for each block until it returns false (or the wait times
// out, which fails the test), then stops capture.
inline void CaptureWhile(Quelto::Interfaces::IDaqSystem& device, int period, const std::function<bool(const Block&)>& onBlock,
                         std::chrono::seconds timeout = std::chrono::seconds(60)) {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    device.add_DataAvailable([&](const auto&, const Block& e) {
        std::lock_guard lock(m);
        if (done) return;
        if (!onBlock(e)) {
            done = true;
            cv.notify_all();
        }
    });
    device.StartCapturing(D::DataAvailableEventPeriod{period});
    std::unique_lock lock(m);
    const bool finished = cv.wait_for(lock, timeout, [&] { return done; });
    lock.unlock();
    device.StopCapturing();
    // Handlers of a block in flight finish before Dispose returns.
    device.Dispose();
    EXPECT_TRUE(finished) << "capture did not finish in time";
}

// The first `count` blocks of a fresh device in fast mode. Copies are kept
// (sharing the arrays): fast mode waits while the host holds 8 blocks.
inline std::vector<Block> FastBlocks(int count, int period = 3, const std::function<void(Quelto::Interfaces::IDaqSystem&)>& setup = {}) {
    ScopedEnv mode("QUELTO_SIM_MODE", "fast");
    auto device = MakeDevice();
    if (setup) setup(*device);
    std::vector<Block> blocks;
    CaptureWhile(*device, period, [&](const Block& e) {
        blocks.push_back(std::make_shared<D::DataAvailableEventArgs>(*e));
        return static_cast<int>(blocks.size()) < count;
    });
    return blocks;
}

// Rows of one rank-2 buffer joined over blocks: out[row] = samples.
inline std::vector<std::vector<float>> Rows(const std::vector<Block>& blocks,
                                            Runtime::ArrayRef<float, 2> D::DataAvailableEventArgs::*member) {
    std::vector<std::vector<float>> rows;
    for (const auto& b : blocks) {
        const auto& a = (*b).*member;
        if (!a) continue;
        rows.resize(a->GetLength(0));
        for (int r = 0; r < a->GetLength(0); ++r) {
            for (int i = 0; i < a->GetLength(1); ++i) rows[r].push_back((*a)(r, i));
        }
    }
    return rows;
}

// One component of a rank-3 buffer joined over blocks: out[row] = samples.
inline std::vector<std::vector<float>> Component(const std::vector<Block>& blocks,
                                                 Runtime::ArrayRef<float, 3> D::DataAvailableEventArgs::*member,
                                                 int component) {
    std::vector<std::vector<float>> rows;
    for (const auto& b : blocks) {
        const auto& a = (*b).*member;
        if (!a) continue;
        rows.resize(a->GetLength(0));
        for (int r = 0; r < a->GetLength(0); ++r) {
            for (int i = 0; i < a->GetLength(1); ++i) rows[r].push_back((*a)(r, i, component));
        }
    }
    return rows;
}

}  // namespace SimTest
