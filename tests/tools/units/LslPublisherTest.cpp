// The publisher against a stand-in of liblsl's C functions that records
// what it is given: outlets and metadata, samples and their stamps,
// markers, and a push that can be held as a stalled network would hold it.
#include "LslPublisher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace Capture;

struct Node {
    std::string name, value;
    std::vector<std::unique_ptr<Node>> children;
    const Node* Child(const std::string& n) const {
        for (const auto& c : children) {
            if (c->name == n) return c.get();
        }
        return nullptr;
    }
    std::string Value(const std::string& n) const {
        const Node* c = Child(n);
        return c ? c->value : "";
    }
};

struct Info {
    std::string name, type, source;
    int channels = 0, format = 0;
    double rate = 0;
    std::shared_ptr<Node> desc = std::make_shared<Node>();
};

struct Outlet {
    Info info;
    std::vector<float> data;
    std::vector<double> stamps;
    std::vector<std::string> texts;
};

// The stand-in's state: one test at a time.
struct Fake {
    std::mutex mutex;
    std::condition_variable opened;
    bool gateOpen = true;
    int pushesWaiting = 0;
    std::vector<std::unique_ptr<Outlet>> outlets;
} g_fake;

Lsl::StreamInfo CreateInfo(const char* name, const char* type, int32_t channels, double rate, int32_t format,
                           const char* source) {
    auto* info = new Info{name, type, source, channels, format, rate};
    return info;
}
void DestroyInfo(Lsl::StreamInfo info) { delete static_cast<Info*>(info); }
Lsl::Xml Desc(Lsl::StreamInfo info) { return static_cast<Info*>(info)->desc.get(); }
Lsl::Xml AppendChild(Lsl::Xml parent, const char* name) {
    auto* p = static_cast<Node*>(parent);
    p->children.push_back(std::make_unique<Node>());
    p->children.back()->name = name;
    return p->children.back().get();
}
Lsl::Xml AppendValue(Lsl::Xml parent, const char* name, const char* value) {
    auto* child = static_cast<Node*>(AppendChild(parent, name));
    child->value = value;
    return parent;
}
Lsl::Outlet CreateOutlet(Lsl::StreamInfo info, int32_t, int32_t) {
    std::lock_guard lock(g_fake.mutex);
    g_fake.outlets.push_back(std::make_unique<Outlet>(Outlet{*static_cast<Info*>(info), {}, {}, {}}));
    return g_fake.outlets.back().get();
}
void DestroyOutlet(Lsl::Outlet) {}
int32_t PushChunk(Lsl::Outlet outlet, const float* data, unsigned long elements, const double* stamps, int32_t) {
    std::unique_lock lock(g_fake.mutex);
    ++g_fake.pushesWaiting;
    g_fake.opened.wait(lock, [] { return g_fake.gateOpen; });
    --g_fake.pushesWaiting;
    auto* o = static_cast<Outlet*>(outlet);
    o->data.insert(o->data.end(), data, data + elements);
    o->stamps.insert(o->stamps.end(), stamps, stamps + elements / static_cast<unsigned long>(o->info.channels));
    return 0;
}
int32_t PushText(Lsl::Outlet outlet, const char** data, double stamp, int32_t) {
    std::lock_guard lock(g_fake.mutex);
    auto* o = static_cast<Outlet*>(outlet);
    o->texts.emplace_back(data[0]);
    o->stamps.push_back(stamp);
    return 0;
}
int32_t NoConsumers(Lsl::Outlet) { return 0; }
int32_t WaitForConsumers(Lsl::Outlet, double) { return 0; }
double LocalClock() { return MonotonicSeconds(); }
int32_t Version() { return 117; }

Lsl::Library FakeLibrary() {
    Lsl::Library lib;
    lib.api = {CreateInfo, DestroyInfo,  Desc,        AppendChild,      AppendValue, CreateOutlet, DestroyOutlet,
               PushChunk,  PushText,     NoConsumers, WaitForConsumers, LocalClock,  Version};
    lib.path = "fake";
    lib.version = 117;
    return lib;
}

Outlet* Find(const std::string& type) {
    for (auto& o : g_fake.outlets) {
        if (o->info.type == type) return o.get();
    }
    return nullptr;
}

// Two EMG channels (sensors 1 and 2, 2 kHz) and sensor 1's accelerometer
// (100 Hz), as the first record of a capture would give them.
std::vector<StreamGroup> Groups() {
    std::vector<Channel> channels = {{QUELTO_BUFFER_EMG, 0, 0, "EMG EMG01", 200},
                                     {QUELTO_BUFFER_EMG, 1, 0, "EMG EMG02", 200}};
    for (int axis = 0; axis < 3; ++axis) channels.push_back({QUELTO_BUFFER_ACCELEROMETER, 0, axis, "", 10});
    return GroupChannels(channels);
}

// Block k of 100 ms: EMG value (row, sample) = row + sample * 1e-6 V from
// the capture's start; accelerometer = axis + sample index.
Quelto_DataAvailableEventArgs Block(int k) {
    Quelto_DataAvailableEventArgs b{};
    b.ScanNumber = k * 200;
    b.EmgSamples.assign(36 * 200, 0.0f);
    for (int row = 0; row < 36; ++row) {
        for (int s = 0; s < 200; ++s) b.EmgSamples[row * 200 + s] = static_cast<float>(row + (k * 200 + s) * 1e-6);
    }
    b.AccelerometerSamples.assign(36 * 10 * 3, 0.0f);
    for (int s = 0; s < 10; ++s) {
        for (int axis = 0; axis < 3; ++axis) b.AccelerometerSamples[s * 3 + axis] = static_cast<float>(axis + k * 10 + s);
    }
    return b;
}

class LslPublisherTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::lock_guard lock(g_fake.mutex);
        g_fake.outlets.clear();
        g_fake.gateOpen = true;
    }
    LslSettings Settings(size_t queue = 0) {
        LslSettings s;
        s.name = "Test";
        s.sourceId = "src";
        s.deviceSoftware = "1.2.3.4";
        s.queueBlocks = queue;
        return s;
    }
    // Feeds the clock as the capture's block listener does (arrival =
    // base + end of the block + delay) and offers the block.
    void Deliver(LslPublisher& p, int k, double delay = 0.001, Quelto_DataAvailableEventArgs b = {}) {
        if (b.EmgSamples.empty()) b = Block(k);
        clock_.Observe((k + 1) * 0.1, base_ + (k + 1) * 0.1 + delay);
        p.Offer(std::move(b));
    }
    Lsl::Library lib_ = FakeLibrary();
    SharedClock clock_;
    double base_ = 500.0;
};

TEST_F(LslPublisherTest, AnnouncesEachGroupAndTheMarkersWithTheirMetadata) {
    LslPublisher p(lib_, Groups(), 2000, clock_, Settings());
    ASSERT_EQ(g_fake.outlets.size(), 3u);
    const Outlet* emg = Find("EMG");
    ASSERT_NE(emg, nullptr);
    EXPECT_EQ(emg->info.name, "Test EMG");
    EXPECT_EQ(emg->info.source, "src/emg");
    EXPECT_EQ(emg->info.channels, 2);
    EXPECT_EQ(emg->info.rate, 2000);
    EXPECT_EQ(emg->info.format, Lsl::FormatFloat32);
    const Node* first = emg->info.desc->Child("channels")->children.front().get();
    EXPECT_EQ(first->Value("label"), "EMG01");
    EXPECT_EQ(first->Value("unit"), "microvolts");
    EXPECT_EQ(first->Value("type"), "EMG");
    EXPECT_EQ(first->Child("filtering")->Value("highpass"), "20");
    EXPECT_EQ(emg->info.desc->Child("acquisition")->Value("device_software_version"), "1.2.3.4");
    const Outlet* imu = Find("IMU");
    ASSERT_NE(imu, nullptr);
    EXPECT_EQ(imu->info.rate, 100);
    EXPECT_EQ(imu->info.desc->Child("channels")->children[2]->Value("label"), "ACC01Z");
    EXPECT_EQ(imu->info.desc->Child("channels")->children[2]->Value("unit"), "g");
    const Outlet* markers = Find("Markers");
    ASSERT_NE(markers, nullptr);
    EXPECT_EQ(markers->info.format, Lsl::FormatString);
    EXPECT_EQ(markers->info.rate, Lsl::IrregularRate);
}

TEST_F(LslPublisherTest, SamplesInFileUnitsStampedOnTheirGridWithTheBlocksEvents) {
    LslPublisher p(lib_, Groups(), 2000, clock_, Settings());
    for (int k = 0; k < 20; ++k) {
        Quelto_DataAvailableEventArgs b = Block(k);
        if (k == 3) {
            b.StartTriggerDetected = true;
            b.StartTriggerScan = 650;
        }
        if (k == 5) b.RemoteControlEvents = {1};
        Deliver(p, k, 0.001, std::move(b));
    }
    p.HostMarker("typed", base_ + 1.5);
    p.Finish();
    EXPECT_EQ(p.Pushed(), 20);
    EXPECT_EQ(p.Dropped(), 0);
    const Outlet& emg = *Find("EMG");
    ASSERT_EQ(emg.stamps.size(), 4000u);
    for (size_t i = 0; i < 4000; ++i) {
        // Interleaved by sample, in microvolts.
        ASSERT_NEAR(emg.data[2 * i], (i * 1e-6) * 1e6, 1e-3) << i;
        ASSERT_NEAR(emg.data[2 * i + 1], (1 + i * 1e-6) * 1e6, 0.1) << i;
        // The lower edge of the arrivals is the line: base + 1 ms.
        ASSERT_NEAR(emg.stamps[i], base_ + 0.001 + i / 2000.0, 1e-6) << i;
    }
    const Outlet& imu = *Find("IMU");
    ASSERT_EQ(imu.stamps.size(), 200u);
    EXPECT_FLOAT_EQ(imu.data[3 * 57 + 2], 2 + 57);
    EXPECT_NEAR(imu.stamps[57], base_ + 0.001 + 0.57, 1e-6);
    const Outlet& markers = *Find("Markers");
    ASSERT_EQ(markers.texts, (std::vector<std::string>{"StartTrigger", "Marker", "typed"}));
    EXPECT_NEAR(markers.stamps[0], base_ + 0.001 + 650 / 2000.0, 1e-6);
    EXPECT_NEAR(markers.stamps[1], base_ + 0.001 + 0.5, 1e-6);
    EXPECT_NEAR(markers.stamps[2], base_ + 1.5, 1e-6);
}

TEST_F(LslPublisherTest, AChangeOfTheClocksEstimateIsSlewedNeverStepped) {
    LslPublisher p(lib_, Groups(), 2000, clock_, Settings(200));
    // The first second arrives 6 ms late, then 0.2 ms: the estimate falls
    // by about 6 ms once the clock sees it.
    for (int k = 0; k < 10; ++k) Deliver(p, k, 0.006);
    // The first second is out before the rest arrives, as in real time.
    for (int wait = 0; p.Pushed() < 10 && wait < 10000; ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(p.Pushed(), 10);
    for (int k = 10; k < 150; ++k) Deliver(p, k, 0.0002);
    p.Finish();
    const std::vector<double>& t = Find("EMG")->stamps;
    ASSERT_EQ(t.size(), 30000u);
    for (size_t i = 1; i < t.size(); ++i) {
        const double step = (t[i] - t[i - 1]) * 2000;
        ASSERT_GT(step, 1 - 1.001e-3) << i;
        ASSERT_LT(step, 1 + 1.001e-3) << i;
    }
    // Slewed at 1 ms per second, the stamps have reached the line well
    // before the end.
    EXPECT_NEAR(t.back(), base_ + 0.0002 + 29999 / 2000.0, 0.0003);
    EXPECT_GT(t.front(), base_ + 0.003);  // the first stamps were not moved back
}

TEST_F(LslPublisherTest, AStalledNetworkDropsBlocksForTheStreamsOnlyAndCountsThem) {
    {
        std::lock_guard lock(g_fake.mutex);
        g_fake.gateOpen = false;
    }
    LslPublisher p(lib_, Groups(), 2000, clock_, Settings(8));
    p.SetLimit(40);
    // Offering never waits on the stalled push (this would hang otherwise).
    for (int k = 0; k < 50; ++k) Deliver(p, k);
    EXPECT_GT(p.Dropped(), 0);
    {
        std::lock_guard lock(g_fake.mutex);
        g_fake.gateOpen = true;
    }
    g_fake.opened.notify_all();
    p.Finish();
    // Only the 40 blocks of the limit count; what was not dropped was sent.
    EXPECT_EQ(p.Pushed() + p.Dropped(), 40);
    // Whole blocks, in order, each on its own place of the grid.
    const Outlet& emg = *Find("EMG");
    ASSERT_EQ(emg.stamps.size(), static_cast<size_t>(p.Pushed()) * 200);
    double last = -1;
    for (size_t i = 0; i < emg.stamps.size(); ++i) {
        const double index = std::round(static_cast<double>(emg.data[2 * i]));  // microvolts = sample index
        EXPECT_NEAR(emg.stamps[i], base_ + 0.001 + index / 2000.0, 1e-6);
        ASSERT_GT(index, last);
        last = index;
    }
}

}  // namespace
