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
// On another facade, destruction and the removal of a running listener
// wait for that facade's worker: two listeners that do so for each other's
// facades wait for each other forever.
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
    // Stops the worker (a delivery in progress finishes first; queued blocks
    // are dropped), then disposes the device. Called from inside one of this
    // facade's own listeners, it does not wait for the worker: later
    // listeners of that block are skipped and the worker ends on its own.
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
    void DaqDataAvailable(Quelto_DataAvailableEventArgs arg);

private:
    friend struct QueltoCApiAccess;
    QueltoWrapperPrivate* impl;
    std::vector<Listener> listeners;
};

static_assert(sizeof(Listener) == 16, "Listener layout");
static_assert(sizeof(Quelto_DaqSystem) == 32, "Quelto_DaqSystem layout");
