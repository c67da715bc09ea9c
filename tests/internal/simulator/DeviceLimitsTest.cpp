// What a long-running or misbehaving host may do to the simulated device
// without growing it or killing itself: calls nobody records, failures on
// the device thread, a host that stops taking blocks in fast mode.
#include "SimTestSupport.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <stdexcept>
#include <thread>

using namespace SimTest;

namespace {

// Polls `done` for up to 20 s (a loaded machine); true when it held.
bool WaitFor(const std::function<bool()>& done) { return TestPlatform::PollUntil(done, std::chrono::seconds(20)); }

bool LogHas(const std::vector<std::string>& log, const std::string& text) {
    return std::any_of(log.begin(), log.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

}  // namespace

// ------------------------------------------------------------- recording

TEST(SimControlRecording, NothingIsKeptWhileNoTestRecords) {
    auto& control = TestSupport::SimControl();
    ASSERT_FALSE(control.Recording());
    control.ClearCalls();
    control.ClearLog();
    auto device = MakeDevice();
    auto capture = NewCapture();
    const std::weak_ptr<D::ICaptureConfiguration> sent = capture;
    device->ConfigureCapture(capture);
    capture.reset();
    for (int i = 0; i < 1000; ++i) device->get_State();
    device->UpdateDisplay();
    device->Dispose();
    device.reset();
    EXPECT_EQ(control.Calls().size(), 0u);
    EXPECT_EQ(control.Log().size(), 0u);
    EXPECT_TRUE(sent.expired()) << "the control still holds the configuration passed";
}

TEST(SimControlRecording, RecordsWhileAskedAndForgetsWhenStopped) {
    auto& control = TestSupport::SimControl();
    auto device = MakeDevice();
    std::weak_ptr<D::ICaptureConfiguration> sent;
    {
        QueltoSim::ScopedRecording recording(control);
        control.ClearCalls();
        control.ClearLog();
        auto capture = NewCapture();
        sent = capture;
        device->ConfigureCapture(capture);
        {
            QueltoSim::ScopedRecording nested(control);
        }
        EXPECT_TRUE(control.Recording()) << "a nested recording ended the outer one";
        device->UpdateDisplay();
        const auto calls = control.Calls();
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[0].operation, "ConfigureCapture");
        EXPECT_EQ(calls[0].object, capture);
        EXPECT_EQ(calls[1].operation, "UpdateDisplay");
        EXPECT_TRUE(LogHas(control.Log(), "display updated"));
    }
    EXPECT_FALSE(control.Recording());
    EXPECT_TRUE(control.Calls().empty());
    EXPECT_TRUE(control.Log().empty());
    device->Dispose();
    device.reset();
    EXPECT_TRUE(sent.expired());
}

// ------------------------------------------------- device thread failures

TEST(DeviceThreadFailure, ABlockThatCannotBeMadeStopsTheCaptureWithStateError) {
    auto& control = TestSupport::SimControl();
    QueltoSim::ScopedRecording recording(control);
    control.ClearLog();
    auto device = MakeDevice();
    std::atomic<int> blocks{0};
    device->add_DataAvailable([&](const auto&, const Block&) { ++blocks; });
    device->StartCapturing(D::DataAvailableEventPeriod{3});
    ASSERT_TRUE(WaitFor([&] { return blocks >= 2; }));
    control.SetFailure("NextBlock", [] { throw std::bad_alloc(); }, 1);
    ASSERT_TRUE(WaitFor([&] { return device->get_State() == D::DeviceState::Error; }));
    const int raised = blocks;
    std::this_thread::sleep_for(std::chrono::milliseconds(60));  // six periods
    EXPECT_EQ(blocks.load(), raised) << "the capture went on after the failure";
    EXPECT_EQ(device->get_State(), D::DeviceState::Error);
    const auto log = control.Log();
    EXPECT_TRUE(LogHas(log, "capture stopped after " + std::to_string(raised) + " blocks: std::bad_alloc"))
        << (log.empty() ? "" : log.back());

    // A new capture starts over.
    device->StartCapturing(D::DataAvailableEventPeriod{3});
    EXPECT_EQ(device->get_State(), D::DeviceState::Capturing);
    EXPECT_TRUE(WaitFor([&] { return blocks > raised; }));
    device->Dispose();
    control.ClearFailures();
}

TEST(DeviceThreadFailure, AHandlerThatThrowsStopsTheCaptureNotTheProcess) {
    auto& control = TestSupport::SimControl();
    QueltoSim::ScopedRecording recording(control);
    control.ClearLog();
    auto device = MakeDevice();
    std::atomic<int> blocks{0};
    device->add_DataAvailable([&](const auto&, const Block&) {
        if (++blocks >= 3) throw std::runtime_error("host handler failed");
    });
    device->StartCapturing(D::DataAvailableEventPeriod{3});
    ASSERT_TRUE(WaitFor([&] { return device->get_State() == D::DeviceState::Error; }));
    EXPECT_EQ(blocks.load(), 3);
    EXPECT_TRUE(LogHas(control.Log(), "capture stopped after 3 blocks: host handler failed"));

    // An event raised through the control while the handler throws: the
    // raise returns and the device thread is still there for the next one.
    const int before = blocks;
    EXPECT_TRUE(control.RaiseEvent(std::make_shared<D::DataAvailableEventArgs>()));
    EXPECT_TRUE(control.RaiseEvent(std::make_shared<D::DataAvailableEventArgs>()));
    EXPECT_EQ(blocks.load(), before + 2);
    EXPECT_EQ(device->get_State(), D::DeviceState::Error);
    device->Dispose();
}

// ------------------------------------------------------------ fast mode

TEST(FastMode, AHostThatHoldsBlocksStopsTheCaptureAtEightUntilItLetsGo) {
    ScopedEnv mode("QUELTO_SIM_MODE", "fast");
    auto device = MakeDevice();
    std::mutex m;
    std::vector<Block> held;  // a bridge's queue whose host callback blocks
    std::vector<int32_t> scans;
    device->add_DataAvailable([&](const auto&, const Block& e) {
        std::lock_guard lock(m);
        held.push_back(e);
        scans.push_back(e->ScanNumber);
    });
    auto heldNow = [&] {
        std::lock_guard lock(m);
        return held.size();
    };
    device->StartCapturing(D::DataAvailableEventPeriod{3});  // 10 ms, 20 scans
    ASSERT_TRUE(WaitFor([&] { return heldNow() >= 8; }));
    // Several times any time a block could take to be taken.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_EQ(heldNow(), 8u);

    {
        std::lock_guard lock(m);
        held.clear();
    }
    EXPECT_TRUE(WaitFor([&] { return heldNow() >= 8; })) << "the capture did not resume";
    device->StopCapturing();
    device->Dispose();
    std::lock_guard lock(m);
    ASSERT_GE(scans.size(), 16u);
    for (std::size_t i = 0; i < scans.size(); ++i) EXPECT_EQ(scans[i], static_cast<int32_t>(20 * i)) << i;
}
