// Quelto_DaqSystem: the C++ facade over one acquisition device.
//
// Threads: every member runs on the calling thread. Listeners run on the
// facade's worker thread, which lives from construction to destruction:
// the device's thread only queues each block; the worker flattens it and
// calls the listeners, one block at a time, in the order the device raised
// the blocks. Members may be called from any host thread, but none may
// overlap or follow the destructor.
//
// The queue: unbounded. Nothing is dropped while the facade lives, so
// listeners slower than the device make it (and the memory) grow.
//
// Listeners may call every member. On their own facade that includes adding
// (the new listener gets the next block) and removing listeners (no wait)
// and destroying the facade (the worker ends when the listener returns).
// On another facade, destruction waits for the block being delivered there
// to reach every listener, except where that facade's worker is itself
// waiting (directly or through other facades) for the calling listener:
// then it does not wait (see the destructor), so listeners of two facades
// may destroy each other's facades. The removal of a running listener of
// another facade waits for it: two listeners that remove each other's
// running listeners wait for each other forever.
//
// A slow host: the debug trace says so when the oldest waiting block has
// waited 1 s, again at 10 s, and once more when the queue has drained.
//
// Failures: device, conversion and reader failures are thrown to the caller
// as exceptions derived from std::exception (the runtime's exception types,
// Runtime::Exception, with TypeName(), Message() and ToString()).
//
// The SDK is looked for by the runtime's own rules: in the host
// executable's folder, then beside the bridge library once a
// Quelto_Bridge_Create has installed that lookup.
#pragma once

#include "QueltoCommon.h"
#include "Quelto_BlockInfo.h"
#include "Quelto_CaptureConfiguration.h"
#include "Quelto_ConfigurationExportBase.h"
#include "Quelto_DataAvailableEventArgs.h"
#include "Quelto_Enums.h"
#include "Quelto_SensorConfiguration.h"
#include "Quelto_ValueTypes.h"

#include <vector>

struct QueltoWrapperPrivate;

// A listener function: receives its own copy of each block and the context
// given at registration. Runs on the worker thread.
typedef void(QUELTO_CALL* Quelto_DataAvailableListener)(Quelto_DataAvailableEventArgs arg, void* context);

// A block listener: a listener that also receives when and in what order
// the block arrived. Shares the facade's listener table (and its order of
// registration) with the data listeners.
typedef void(QUELTO_CALL* Quelto_BlockListener)(Quelto_DataAvailableEventArgs arg, const Quelto_BlockInfo& info,
                                                void* context);

// One entry of a facade's listener table.
struct Listener {
    Quelto_DataAvailableListener cb;
    void* context;
};

class QUELTO_API Quelto_DaqSystem {
public:
    // Creates the device object (class "Quelto.DaqSystem") and starts the
    // worker thread. Capture starts only with StartCapturing.
    Quelto_DaqSystem();
    // Facades own a device and a worker thread and cannot be copied: both
    // throw Runtime::InvalidOperationException (copy assignment to itself
    // does nothing).
    Quelto_DaqSystem(const Quelto_DaqSystem& other);
    Quelto_DaqSystem& operator=(const Quelto_DaqSystem& other);
    // Stops the worker, then disposes the device. From a host thread (or a
    // listener of another facade) it waits for the block being delivered to
    // reach every listener; queued blocks are dropped. It does not wait, and
    // the listeners after the running one are skipped for that block, when
    // called from inside one of this facade's own listeners, or when this
    // facade's worker is itself waiting, directly or through other facades,
    // for the calling thread (listeners of two facades destroying each
    // other's: the destruction that would close the cycle does not wait; the
    // skipped worker ends once its running listener returns).
    ~Quelto_DaqSystem();

    // Periods 1 to 3 pass unchanged; every other number starts with 0.
    // Returns once the device has started; blocks follow on the worker.
    void StartCapturing(Quelto_DataAvailableEventPeriod period);
    // Returns without waiting for the worker: blocks already queued are
    // still delivered after it returns.
    void StopCapturing();
    // The device's state number (Quelto_DeviceState).
    int GetdeviceState();
    Quelto_SoftwareVersion SoftwareVersion();
    // Offset calibrations: the sensor number passes unchecked (1 to 36 that
    // sensor, 0 every sensor). Each starts the calibration and returns; the
    // device reads Calibrating (4) while it runs.
    void CalibrateImuOffset(int sensor);
    void CalibrateGyroscopeOffset(int sensor);
    void CalibrateAccelerometerOffset(int sensor);
    void CalibrateEMGOffset(int sensor);
    void GenerateInternalStartTrigger();
    void GenerateInternalStopTrigger();
    void UpdateDisplay();
    void SaveCurrentRxConfiguration();
    // Converts first, then sends: a record that does not convert sends
    // nothing. The record is only read.
    void ConfigureCapture(Quelto_CaptureConfiguration& configuration);
    // sensorIndex QUELTO_SENSOR_FIRST to QUELTO_SENSOR_LAST (1 to 36): that
    // sensor; 0: sensors 1 to 36 in turn, each with its own converted
    // object; any other number: nothing, silently.
    void ConfigureSensor(Quelto_SensorConfiguration& configuration, int sensorIndex);
    // Reads a configuration file through the SDK's reader; the device is not
    // used. The host owns (and destroys) the returned record.
    Quelto_ConfigurationExportBase LoadConfiguration(const char* configFilePath);

    // Appends a listener (a null cb is ignored); listeners are called in
    // order of registration. No duplicate check: a pair added twice is
    // called twice per block.
    void AddDaqDataAvailableListener(Quelto_DataAvailableListener cb, void* context);
    // Removes the oldest entry with this cb and context, if any. Once it has
    // returned (on a thread other than the worker), that entry is never
    // called again: a call in progress is waited for. From inside a
    // listener it does not wait.
    void RemoveDaqDataAvailableListener(Quelto_DataAvailableListener cb, void* context);
    // Delivers one block to every listener, in registration order, each with
    // its own copy. A listener that throws ends the delivery of this block.
    // Block listeners get sequence -1 and the time of this call.
    void DaqDataAvailable(Quelto_DataAvailableEventArgs arg);

    // Additions to the members above.

    // Appends a block listener (a null cb is ignored), with the same
    // guarantees as AddDaqDataAvailableListener.
    void AddBlockListener(Quelto_BlockListener cb, void* context);
    // Removes the oldest block listener with this cb and context, as
    // RemoveDaqDataAvailableListener does for data listeners.
    void RemoveBlockListener(Quelto_BlockListener cb, void* context);
    // DaqDataAvailable with the block's arrival info (the worker's entry).
    void DeliverBlock(Quelto_DataAvailableEventArgs arg, const Quelto_BlockInfo& info);
    // Loads a configuration file with LoadConfiguration, then sends its
    // capture configuration, then its configuration of each sensor 1 to 36
    // in turn. A file that does not load, or a capture record that does not
    // convert, sends nothing. Returns the number of sensors configured.
    int ApplyConfigurationFile(const char* configFilePath);

private:
    friend struct QueltoCApiAccess;
    QueltoWrapperPrivate* impl;
    std::vector<Listener> listeners;
};

static_assert(sizeof(Listener) == 16, "Listener layout");
static_assert(sizeof(Quelto_DaqSystem) == 32, "Quelto_DaqSystem layout");
