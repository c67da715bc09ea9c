#include "Check.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <stdexcept>

#include <unistd.h>

namespace Capture {

namespace {

// The listener only queues; the check's thread measures.
struct Feed {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<Quelto_DataAvailableEventArgs> blocks;
};

void QUELTO_CALL OnBlock(Quelto_DataAvailableEventArgs block, const Quelto_BlockInfo&, void* context) {
    auto& feed = *static_cast<Feed*>(context);
    {
        std::lock_guard lock(feed.mutex);
        feed.blocks.push_back(std::move(block));
    }
    feed.arrived.notify_one();
}

// Standard output carries the report alone: what the library prints while
// a configuration is applied goes to standard error meanwhile.
class StdoutToStderr {
public:
    StdoutToStderr() : saved_(::dup(STDOUT_FILENO)) {
        std::fflush(stdout);
        if (saved_ >= 0) ::dup2(STDERR_FILENO, STDOUT_FILENO);
    }
    ~StdoutToStderr() {
        std::fflush(stdout);
        if (saved_ >= 0) {
            ::dup2(saved_, STDOUT_FILENO);
            ::close(saved_);
        }
    }
    StdoutToStderr(const StdoutToStderr&) = delete;
    StdoutToStderr& operator=(const StdoutToStderr&) = delete;

private:
    int saved_;
};

}  // namespace

std::array<bool, QUELTO_LAYOUT_SENSORS> ExpectedSensors(const Options& o, Quelto_DaqSystem& device) {
    std::array<bool, QUELTO_LAYOUT_SENSORS> expected = o.sensors;
    if (o.config.empty()) return expected;
    const Quelto_ConfigurationExportBase configuration = device.LoadConfiguration(o.config.c_str());
    constexpr int Off = 3;  // SensorMode: sensor off
    for (int s = 0; s < QUELTO_LAYOUT_SENSORS; ++s) {
        if (static_cast<int>(configuration.SensorConfiguration[s].SensorMode) == Off) expected[s] = false;
    }
    return expected;
}

int RunCheck(const Options& o, const std::function<bool()>& stop) {
    Feed feed;
    const int64_t wanted = static_cast<int64_t>(std::ceil(o.check_s * 1000.0 / o.period_ms - 1e-9));
    std::vector<SensorQuality> report;
    {
        StdoutToStderr quietLibrary;
        Quelto_DaqSystem device;
        const auto expected = ExpectedSensors(o, device);
        if (!o.config.empty()) device.ApplyConfigurationFile(o.config.c_str());
        QualityEstimator quality(expected, o.period_ms, o.check_s);
        if (!o.quiet) {
            int count = 0;
            for (bool on : expected) count += on ? 1 : 0;
            std::fprintf(stderr, "quelto-capture: checking %d sensors for %.1f s\n", count, o.check_s);
        }
        device.AddBlockListener(&OnBlock, &feed);
        device.StartCapturing(static_cast<Quelto_DataAvailableEventPeriod>(PeriodNumber(o.period_ms)));
        int64_t taken = 0;
        auto lastBlock = std::chrono::steady_clock::now();
        while (taken < wanted && !stop()) {
            std::deque<Quelto_DataAvailableEventArgs> batch;
            {
                std::unique_lock lock(feed.mutex);
                feed.arrived.wait_for(lock, std::chrono::milliseconds(100), [&] { return !feed.blocks.empty(); });
                batch.swap(feed.blocks);
            }
            const auto now = std::chrono::steady_clock::now();
            if (!batch.empty()) lastBlock = now;
            for (auto& block : batch) {
                if (taken == wanted) break;
                quality.Add(block);
                ++taken;
            }
            if (now - lastBlock > std::chrono::seconds(5)) break;
        }
        device.StopCapturing();
        device.RemoveBlockListener(&OnBlock, &feed);
        if (taken == 0) throw std::runtime_error("the device sent no block for 5 s; nothing to check");
        report = quality.Report();
    }
    if (o.json) {
        std::printf("%s\n", QualityJson(report).dump(2).c_str());
    } else {
        std::printf("%s", QualityTable(report).c_str());
    }
    return Worst(report) == Verdict::Bad ? CheckFoundBad : 0;
}

}  // namespace Capture
