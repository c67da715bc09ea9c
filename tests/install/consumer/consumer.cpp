// C++ host built against the installed package: every installed header
// compiles here; the C API with the by-reference record overloads.
#include "QueltoBridge.h"
#include "QueltoExport.h"
#include "Quelto_CaptureConfiguration.h"
#include "Quelto_ConfigurationExportBase.h"
#include "Quelto_ConfigurationHelpers.h"
#include "Quelto_DaqSystem.h"
#include "Quelto_DataAvailableEventArgs.h"
#include "Quelto_DataAvailableEventArgs_C.h"
#include "Quelto_Enums.h"
#include "Quelto_SensorConfiguration.h"
#include "Quelto_ValueTypes.h"
#if __has_include("Quelto_DataLayout.h")
#include "Quelto_DataLayout.h"
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

static_assert(sizeof(Quelto_CaptureConfiguration) == 192);
static_assert(sizeof(Quelto_SensorConfiguration) == 16);
static_assert(QUELTO_BRIDGE_VERSION >= 10000);

namespace {
std::atomic<int> blocks{0};
void QUELTO_CALL OnBlock(const Quelto_DataAvailableEventArgs_C*, void* context) {
    static_cast<std::atomic<int>*>(context)->fetch_add(1);
}
}  // namespace

int main() {
    void* device = Quelto_Bridge_Create();
    if (!device) {
        std::fprintf(stderr, "create: %s\n", Quelto_Bridge_GetLastError());
        return 1;
    }
    Quelto_CaptureConfiguration capture{};
    Quelto_Bridge_ConfigureCapture(device, capture);
    if (const char* e = Quelto_Bridge_GetLastError()) {
        std::fprintf(stderr, "configure capture: %s\n", e);
        return 1;
    }
    Quelto_SensorConfiguration sensor{};
    Quelto_Bridge_ConfigureSensor(device, sensor, 0);
    Quelto_Bridge_RegisterDataCallback(device, OnBlock, &blocks);
    Quelto_Bridge_StartCapturing(device);
    for (int i = 0; i < 200 && blocks < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Quelto_Bridge_StopCapturing(device);
    Quelto_Bridge_Destroy(device);
    if (blocks < 2) {
        std::fprintf(stderr, "only %d blocks\n", blocks.load());
        return 1;
    }
    std::printf("consumer_cxx: version %s, %d blocks\n", Quelto_Bridge_GetVersion(), blocks.load());
    return 0;
}
