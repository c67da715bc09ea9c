/* A minimal C host: create a device, receive blocks for two seconds, print
 * the EMG level of sensor 1 and the accelerometer of sensor 1, stop, destroy.
 * The EMG level is the RMS about the block's mean: the electrodes' DC offset
 * is no muscle activity. */
#define _POSIX_C_SOURCE 200809L
#include "QueltoBridge.h"
#include "Quelto_DataLayout.h"

#include <math.h>
#include <stdio.h>
#include <time.h>

static void QUELTO_CALL OnBlock(const Quelto_DataAvailableEventArgs_C* block, void* context) {
    int* blocks = (int*)context;
    ++*blocks;
    /* EmgSamples is [sensor][sample]; the samples per row follow from the count. */
    const long n = Quelto_DataLayout_SamplesPerBlock(QUELTO_BUFFER_EMG, block->EmgSamples.count);
    double mean = 0.0, sum = 0.0;
    for (long i = 0; i < n; ++i) mean += block->EmgSamples.data[Quelto_DataLayout_Index(QUELTO_BUFFER_EMG, 0, i, 0, n)];
    if (n > 0) mean /= (double)n;
    for (long i = 0; i < n; ++i) {
        const double v = block->EmgSamples.data[Quelto_DataLayout_Index(QUELTO_BUFFER_EMG, 0, i, 0, n)] - mean;
        sum += v * v;
    }
    /* AccelerometerSamples is [sensor][sample][axis], in g. */
    const long m = Quelto_DataLayout_SamplesPerBlock(QUELTO_BUFFER_ACCELEROMETER, block->AccelerometerSamples.count);
    float ax = 0, ay = 0, az = 0;
    if (m > 0) {
        const float* first = block->AccelerometerSamples.data;
        ax = first[0];
        ay = first[1];
        az = first[2];
    }
    printf("block %4d  scan %7d  EMG1 rms %8.1f uV (offset %+6.1f uV, %ld samples)  ACC1 %+.2f %+.2f %+.2f g\n",
           *blocks, block->ScanNumber, n > 0 ? sqrt(sum / (double)n) * 1e6 : 0.0, mean * 1e6, n, ax, ay, az);
}

int main(void) {
    void* device = Quelto_Bridge_Create();
    if (!device) {
        fprintf(stderr, "no device: %s\n", Quelto_Bridge_GetLastError());
        return 1;
    }
    int blocks = 0;
    Quelto_Bridge_RegisterDataCallback(device, OnBlock, &blocks);
    Quelto_Bridge_StartCapturing(device);
    const struct timespec twoSeconds = {2, 0};
    nanosleep(&twoSeconds, NULL);
    Quelto_Bridge_StopCapturing(device);
    Quelto_Bridge_Destroy(device); /* after this no callback runs */
    printf("%d blocks received\n", blocks);
    return blocks > 0 ? 0 : 1;
}
