// A minimal C++ host on the facade: 10 ms blocks for one second, a trigger
// in the middle, the foot-switch contacts of switch A printed per block.
#include "Quelto_DaqSystem.h"
#include "Quelto_DataLayout.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

namespace {

void OnBlock(Quelto_DataAvailableEventArgs block, void* context) {
    auto& blocks = *static_cast<std::atomic<int>*>(context);
    ++blocks;
    // FootSwSamples is [switch][sample], each value the transducers in contact.
    const long n = Quelto_DataLayout_SamplesPerBlock(QUELTO_BUFFER_FOOTSW, block.FootSwSamples.size());
    const int contacts = n > 0 ? static_cast<int>(block.FootSwSamples[0]) : 0;
    std::printf("scan %6d  foot switch A: %s%s%s%s%s\n", block.ScanNumber, contacts & QUELTO_CONTACT_HEEL ? "heel " : "",
                contacts & QUELTO_CONTACT_META1 ? "meta1 " : "", contacts & QUELTO_CONTACT_META5 ? "meta5 " : "",
                contacts & QUELTO_CONTACT_TOE ? "toe" : "", block.StartTriggerDetected ? "  [start trigger]" : "");
}

}  // namespace

int main() {
    try {
        // A facade made directly finds the SDK by the runtime's own rules:
        // the folder of this program, so run it from the bridge's folder or
        // copy the SDK libraries beside it.
        Quelto_DaqSystem device;
        std::atomic<int> blocks{0};
        device.AddDaqDataAvailableListener(&OnBlock, &blocks);
        device.StartCapturing(static_cast<Quelto_DataAvailableEventPeriod>(3));  // 10 ms blocks
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        device.GenerateInternalStartTrigger();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        device.StopCapturing();
        device.RemoveDaqDataAvailableListener(&OnBlock, &blocks);
        std::printf("%d blocks\n", blocks.load());
        return blocks > 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "failed: %s\n", e.what());
        return 1;
    }
}
