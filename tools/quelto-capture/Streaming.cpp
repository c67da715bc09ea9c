#include "Streaming.h"

#include "Quelto_DaqSystem.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace Capture {

namespace {

struct Probe {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<Quelto_DataAvailableEventArgs> blocks;
    size_t wanted = 1;
};

void QUELTO_CALL OnProbeBlock(Quelto_DataAvailableEventArgs block, const Quelto_BlockInfo&, void* context) {
    auto& probe = *static_cast<Probe*>(context);
    {
        std::lock_guard lock(probe.mutex);
        if (probe.blocks.size() >= probe.wanted) return;
        probe.blocks.push_back(std::move(block));
    }
    probe.arrived.notify_one();
}

}  // namespace

std::string VersionText(const Quelto_SoftwareVersion& v) {
    return std::to_string(v.Major) + "." + std::to_string(v.Minor) + "." + std::to_string(v.Build) + "." +
           std::to_string(v.Revision);
}

FirstRecord ProbeDevice(const Options& o, const std::set<std::string>& recorded) {
    Probe probe;
    probe.wanted = static_cast<size_t>(RecordDuration_ms / o.period_ms);
    FirstRecord first;
    Transducers transducers{{{true, true, true, true}, {true, true, true, true}}};
    {
        // Destroyed before the capture's own device object is made: none of
        // its blocks can reach the capture.
        Quelto_DaqSystem device;
        if (!o.config.empty()) {
            transducers = TransducersOf(device.LoadConfiguration(o.config.c_str()).CaptureConfiguration);
            device.ApplyConfigurationFile(o.config.c_str());
        }
        first.software = device.SoftwareVersion();
        device.AddBlockListener(&OnProbeBlock, &probe);
        device.StartCapturing(static_cast<Quelto_DataAvailableEventPeriod>(PeriodNumber(o.period_ms)));
        {
            std::unique_lock lock(probe.mutex);
            probe.arrived.wait_for(lock, std::chrono::seconds(5), [&] { return probe.blocks.size() >= probe.wanted; });
        }
        device.StopCapturing();
        device.RemoveBlockListener(&OnProbeBlock, &probe);
    }
    if (probe.blocks.size() < probe.wanted) {
        throw std::runtime_error("the device sent no complete record within 5 s; no stream was announced");
    }
    first.channels = SelectChannels(o, probe.blocks, transducers, recorded);
    if (first.channels.channels.empty()) throw std::runtime_error("the device sends no data for the selected sensors");
    return first;
}

std::unique_ptr<LslPublisher> Publish(const Options& o, const Lsl::Library& lsl, const FirstRecord& first,
                                      const SharedClock& clock) {
    LslSettings settings;
    settings.name = o.lslName;
    settings.period_ms = o.period_ms;
    settings.linger_s = o.lslLinger_s;
    settings.deviceSoftware = VersionText(first.software);
    settings.sourceId = o.lslSourceId.empty() ? DefaultSourceId(settings.deviceSoftware) : o.lslSourceId;
    return std::make_unique<LslPublisher>(lsl, GroupChannels(first.channels.channels), first.channels.scanRateHz,
                                          clock, settings);
}

}  // namespace Capture
