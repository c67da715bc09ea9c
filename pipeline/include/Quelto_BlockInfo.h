/* When and in what order a block reached the bridge. C11 and C++.
 *
 * sequence: the bridge's count of events received from the device for this
 *   handle, from 0, counted as each event arrives (the bridge drops none
 *   while the handle lives, so the numbers have no gaps).
 * arrivalMonotonicNs: taken on the device's thread as the bridge receives the
 *   event; CLOCK_MONOTONIC in ns (Windows: QueryPerformanceCounter in ns).
 *   Use it for intervals.
 * arrivalRealtimeNs: the wall-clock time of that same moment; CLOCK_REALTIME
 *   in ns since the Unix epoch (Windows: the system time since the Unix epoch
 *   in ns). Use it to align with other recordings. It is worked out as the
 *   worker takes the block up, from the monotonic time since its arrival, so
 *   a step of the system clock while the block waits moves it too.
 * blocksWaiting: blocks still queued behind this one when the worker takes
 *   it up for delivery; growing numbers mean the callbacks are slower than
 *   the device.
 * reserved: 0.
 *
 * A block that a host hands to Quelto_DaqSystem::DaqDataAvailable itself has
 * sequence -1 and both times taken at that call. */
#ifndef QUELTO_BLOCK_INFO_H
#define QUELTO_BLOCK_INFO_H

#include "QueltoCommon.h"

#include <stddef.h>
#include <stdint.h>

typedef struct Quelto_BlockInfo {
    int64_t sequence;
    int64_t arrivalMonotonicNs;
    int64_t arrivalRealtimeNs;
    int32_t blocksWaiting;
    int32_t reserved;
} Quelto_BlockInfo;

QUELTO_STATIC_ASSERT(sizeof(Quelto_BlockInfo) == 32, "Quelto_BlockInfo size");
QUELTO_CHECK_OFFSET(Quelto_BlockInfo, sequence, 0);
QUELTO_CHECK_OFFSET(Quelto_BlockInfo, arrivalMonotonicNs, 8);
QUELTO_CHECK_OFFSET(Quelto_BlockInfo, arrivalRealtimeNs, 16);
QUELTO_CHECK_OFFSET(Quelto_BlockInfo, blocksWaiting, 24);
QUELTO_CHECK_OFFSET(Quelto_BlockInfo, reserved, 28);

#endif
