// C++ host that constructs the facade itself (no Quelto_Bridge_Create): it
// finds the SDK in its own folder, where quelto_bridge_deploy_sdk put it.
// Drives the whole device: a configuration file, the software version, a
// block period, both triggers and block listeners. Failures are caught as the
// facade's header says they come: as the runtime's exception type.
#include "Quelto_DaqSystem.h"
#include "Runtime.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

namespace {

struct Seen {
    std::atomic<int> blocks{0}, starts{0}, stops{0}, badSequence{0};
    std::atomic<long long> firstArrival{0};
};

void QUELTO_CALL OnBlock(Quelto_DataAvailableEventArgs block, const Quelto_BlockInfo& info, void* context) {
    auto& seen = *static_cast<Seen*>(context);
    if (info.sequence != seen.blocks.load()) ++seen.badSequence;
    if (info.sequence == 0) seen.firstArrival = info.arrivalRealtimeNs;
    if (block.StartTriggerDetected) ++seen.starts;
    if (block.StopTriggerDetected) ++seen.stops;
    ++seen.blocks;
}

bool WaitFor(const std::atomic<int>& value, int atLeast) {
    for (int i = 0; i < 250 && value.load() < atLeast; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return value.load() >= atLeast;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        Seen seen;
        Quelto_DaqSystem device;
        if (argc > 1) device.ApplyConfigurationFile(argv[1]);
        const Quelto_SoftwareVersion v = device.SoftwareVersion();
        device.AddBlockListener(&OnBlock, &seen);
        device.StartCapturing(static_cast<Quelto_DataAvailableEventPeriod>(3));  // 10 ms blocks
        device.GenerateInternalStartTrigger();
        const bool started = WaitFor(seen.starts, 1);
        device.GenerateInternalStopTrigger();
        const bool stopped = WaitFor(seen.stops, 1);
        device.StopCapturing();
        device.RemoveBlockListener(&OnBlock, &seen);
        if (!started || !stopped || seen.badSequence != 0 || seen.firstArrival <= 0) {
            std::fprintf(stderr, "consumer_facade: triggers %d/%d, %d out of sequence, first arrival %lld\n",
                         seen.starts.load(), seen.stops.load(), seen.badSequence.load(), seen.firstArrival.load());
            return 1;
        }
        std::printf("consumer_facade: software %d.%d.%d.%d, %d blocks with both triggers\n", v.Major, v.Minor,
                    v.Build, v.Revision, seen.blocks.load());
        return 0;
    } catch (const Runtime::Exception& e) {
        std::fprintf(stderr, "consumer_facade: caught Runtime::Exception %s: %s\n", e.TypeName(), e.Message().c_str());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "consumer_facade: %s\n", e.what());
        return 3;
    }
}
