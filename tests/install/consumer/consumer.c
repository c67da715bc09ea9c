/* C host built against the installed package: version, a short capture. */
#define _POSIX_C_SOURCE 200809L
#include "QueltoBridge.h"
#include "Quelto_DataLayout.h"

#include <stdatomic.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

static atomic_int g_blocks;
static atomic_int g_badShape;

static void QUELTO_CALL OnBlock(const Quelto_DataAvailableEventArgs_C* block, void* context) {
    (void)context;
    if (Quelto_DataLayout_SamplesPerBlock(QUELTO_BUFFER_EMG, block->EmgSamples.count) <= 0) atomic_fetch_add(&g_badShape, 1);
    atomic_fetch_add(&g_blocks, 1);
}

int main(void) {
    char expected[32];
    snprintf(expected, sizeof expected, "%d.%d.%d", QUELTO_BRIDGE_VERSION_MAJOR, QUELTO_BRIDGE_VERSION_MINOR,
             QUELTO_BRIDGE_VERSION_PATCH);
    if (strcmp(Quelto_Bridge_GetVersion(), expected) != 0) {
        fprintf(stderr, "library %s, header %s\n", Quelto_Bridge_GetVersion(), expected);
        return 1;
    }
    void* device = Quelto_Bridge_Create();
    if (!device) {
        fprintf(stderr, "create: %s\n", Quelto_Bridge_GetLastError() ? Quelto_Bridge_GetLastError() : "?");
        return 1;
    }
    Quelto_Bridge_RegisterDataCallback(device, OnBlock, NULL);
    Quelto_Bridge_StartCapturing(device);
    for (int i = 0; i < 200 && atomic_load(&g_blocks) < 3; ++i) {
        struct timespec ts = {0, 20 * 1000000L};
        nanosleep(&ts, NULL);
    }
    Quelto_Bridge_StopCapturing(device);
    Quelto_Bridge_Destroy(device);
    if (atomic_load(&g_blocks) < 3 || atomic_load(&g_badShape) != 0) {
        fprintf(stderr, "blocks %d, badly shaped %d\n", atomic_load(&g_blocks), atomic_load(&g_badShape));
        return 1;
    }
    printf("consumer_c: version %s, %d blocks\n", Quelto_Bridge_GetVersion(), atomic_load(&g_blocks));
    return 0;
}
