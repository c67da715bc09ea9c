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

/* Block callback: sequence numbers count up from 0 without gaps, arrival
 * times never go back, triggers are seen. */
typedef struct {
    atomic_int blocks;
    atomic_int badSequence;
    atomic_int badTime;
    atomic_int startTriggers;
    atomic_int stopTriggers;
    int64_t lastMonotonic;
} Timeline;

static void QUELTO_CALL OnTimedBlock(const Quelto_DataAvailableEventArgs_C* block, const Quelto_BlockInfo* info,
                                     void* context) {
    Timeline* t = (Timeline*)context;
    const int n = atomic_load(&t->blocks);
    if (info->sequence != n || info->reserved != 0 || info->blocksWaiting < 0) atomic_fetch_add(&t->badSequence, 1);
    if (info->arrivalMonotonicNs < t->lastMonotonic || info->arrivalRealtimeNs <= 0) atomic_fetch_add(&t->badTime, 1);
    t->lastMonotonic = info->arrivalMonotonicNs;
    if (block->StartTriggerDetected) atomic_fetch_add(&t->startTriggers, 1);
    if (block->StopTriggerDetected) atomic_fetch_add(&t->stopTriggers, 1);
    atomic_fetch_add(&t->blocks, 1);
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

/* The whole device: a configuration file, its software version, a period,
 * both triggers and block info. */
static int DriveWholeDevice(const char* configFile) {
    static Timeline t;
    void* bridge = Quelto_Bridge_Create();
    CHECK(bridge != NULL);
    if (configFile) {
        CHECK(Quelto_Bridge_ApplyConfigurationFile(bridge, configFile) == 0);
        CHECK(Quelto_Bridge_GetLastError() == NULL);
    }
    CHECK(Quelto_Bridge_ApplyConfigurationFile(bridge, "no such folder/no such file.json") == -1);
    CHECK(Quelto_Bridge_GetLastError() != NULL);
    Quelto_SoftwareVersion version = {0, 0, 0, 0};
    CHECK(Quelto_Bridge_GetSoftwareVersion(bridge, &version) == 0);
    CHECK(version.Major > 0 || version.Minor > 0);
    Quelto_Bridge_RegisterBlockCallback(bridge, OnTimedBlock, &t);
    Quelto_Bridge_StartCapturingWithPeriod(bridge, 3); /* 10 ms blocks */
    CHECK(Quelto_Bridge_GetLastError() == NULL);
    Quelto_Bridge_GenerateInternalStartTrigger(bridge);
    for (int i = 0; i < 250 && atomic_load(&t.startTriggers) == 0; ++i) SleepMs(20);
    Quelto_Bridge_GenerateInternalStopTrigger(bridge);
    for (int i = 0; i < 250 && atomic_load(&t.stopTriggers) == 0; ++i) SleepMs(20);
    Quelto_Bridge_StopCapturing(bridge);
    Quelto_Bridge_UnregisterBlockCallback(bridge, OnTimedBlock, &t);
    Quelto_Bridge_Destroy(bridge);
    CHECK(atomic_load(&t.startTriggers) == 1 && atomic_load(&t.stopTriggers) == 1);
    CHECK(atomic_load(&t.blocks) >= 2);
    CHECK(atomic_load(&t.badSequence) == 0 && atomic_load(&t.badTime) == 0);
    printf("C host: software %d.%d.%d.%d, %d timed blocks, both triggers\n", (int)version.Major, (int)version.Minor,
           (int)version.Build, (int)version.Revision, atomic_load(&t.blocks));
    return 0;
}

int main(int argc, char** argv) {
    _Static_assert(sizeof(Quelto_DataAvailableEventArgs_C) == 376, "record size");
    _Static_assert(sizeof(Quelto_BlockInfo) == 32, "block info size");
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
    return DriveWholeDevice(argc > 1 ? argv[1] : NULL);
}
