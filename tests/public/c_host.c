/* A C host: includes only the public C header, links only the bridge. */
#define _POSIX_C_SOURCE 200809L
#include "QueltoBridge.h"

#include <stdatomic.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

typedef struct {
    atomic_int blocks;
    atomic_int outOfOrder;
    atomic_int wrongContext;
    atomic_int lastScan;
    atomic_int emptyEmg;
    int tag;
} Sink;

static void QUELTO_CALL OnBlock(const Quelto_DataAvailableEventArgs_C* args, void* context) {
    Sink* sink = (Sink*)context;
    if (sink->tag != 1 && sink->tag != 2) atomic_fetch_add(&sink->wrongContext, 1);
    const int previous = atomic_exchange(&sink->lastScan, args->ScanNumber);
    if (atomic_load(&sink->blocks) > 0 && args->ScanNumber <= previous) atomic_fetch_add(&sink->outOfOrder, 1);
    if (args->EmgSamples.count == 0 || args->EmgSamples.data == NULL) atomic_fetch_add(&sink->emptyEmg, 1);
    atomic_fetch_add(&sink->blocks, 1);
}

static void SleepMs(long ms) {
    struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, NULL);
}

#define CHECK(cond)                                                   \
    do {                                                              \
        if (!(cond)) {                                                \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            return 1;                                                 \
        }                                                             \
    } while (0)

int main(void) {
    _Static_assert(sizeof(Quelto_DataAvailableEventArgs_C) == 376, "record size");
    static Sink a, b;
    a.tag = 1;
    b.tag = 2;

    void* bridge = Quelto_Bridge_Create();
    if (!bridge) {
        fprintf(stderr, "create failed: %s\n", Quelto_Bridge_GetLastError() ? Quelto_Bridge_GetLastError() : "?");
        return 1;
    }
    Quelto_Bridge_RegisterDataCallback(bridge, OnBlock, &a);
    Quelto_Bridge_RegisterDataCallback(bridge, OnBlock, &b);
    Quelto_Bridge_StartCapturing(bridge);
    CHECK(Quelto_Bridge_GetLastError() == NULL);
    for (int i = 0; i < 100 && atomic_load(&b.blocks) < 3; ++i) SleepMs(20);
    CHECK(atomic_load(&a.blocks) >= 3);
    CHECK(atomic_load(&b.blocks) >= 3);

    Quelto_Bridge_UnregisterDataCallback(bridge, OnBlock, &b);
    const int bAfterUnregister = atomic_load(&b.blocks);
    const int aBefore = atomic_load(&a.blocks);
    for (int i = 0; i < 100 && atomic_load(&a.blocks) < aBefore + 2; ++i) SleepMs(20);
    CHECK(atomic_load(&a.blocks) >= aBefore + 2);
    CHECK(atomic_load(&b.blocks) == bAfterUnregister);

    Quelto_Bridge_StopCapturing(bridge);
    CHECK(Quelto_Bridge_GetdeviceState(bridge) >= 0);
    Quelto_Bridge_Destroy(bridge);
    Quelto_Bridge_Destroy(NULL);
    CHECK(Quelto_Bridge_GetdeviceState(NULL) == QUELTO_BRIDGE_STATE_UNKNOWN);

    CHECK(atomic_load(&a.outOfOrder) == 0 && atomic_load(&b.outOfOrder) == 0);
    CHECK(atomic_load(&a.wrongContext) == 0 && atomic_load(&b.wrongContext) == 0);
    CHECK(atomic_load(&a.emptyEmg) == 0);
    printf("C host: %d and %d blocks received in order\n", atomic_load(&a.blocks), atomic_load(&b.blocks));
    return 0;
}
