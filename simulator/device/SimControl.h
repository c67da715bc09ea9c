// Test and tool access to the simulated device library (Quelto.dll): what
// the bridge sent, failures to inject, events to raise. Reached through the
// exported function QueltoSim_GetControl of the loaded library.
#pragma once

#include "SdkContract.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace QueltoSim {

// One call made on a simulated device, in call order.
struct CallRecord {
    std::string operation;                // IDaqSystem member, e.g. "ConfigureSensor"
    std::vector<int64_t> arguments;       // numeric arguments in order
    Runtime::Ref<Runtime::Object> object;  // configuration object passed, if any
    uint64_t device = 0;                  // serial number of the device object
};

class IControl {
public:
    // Calls made on every simulated device of the process since the last
    // clear, while recording was on (see SetRecording).
    virtual std::vector<CallRecord> Calls() const = 0;
    virtual void ClearCalls() = 0;

    // Makes `operation` (an IDaqSystem member name, "Create" for the
    // constructor, or "NextBlock" for making a block on a device's own
    // thread) run `thrower` instead of its work; `thrower` throws.
    // `times` < 0: every call until cleared.
    virtual void SetFailure(const std::string& operation, std::function<void()> thrower, int times = -1) = 0;
    virtual void ClearFailures() = 0;

    // Number of device objects alive (made and not yet disposed).
    virtual int LiveDevices() const = 0;
    // Serial number of the most recently made live device, 0 when none.
    virtual uint64_t LatestDevice() const = 0;

    // Raises DataAvailable with `e` on the latest live device's own thread
    // and returns once all handlers have returned. False when no device.
    virtual bool RaiseEvent(const Runtime::Ref<Quelto::Common::Definitions::DataAvailableEventArgs>& e) = 0;
    // Thread id (as text) of the latest live device's event thread.
    virtual std::string EventThreadId() const = 0;

    // What the devices reported (source of data, captures, calibrations,
    // display updates, ignored calls, failures), oldest first, each line
    // starting with "device <serial>: ", while recording was on. Lines
    // always go to the debug trace output.
    virtual std::vector<std::string> Log() const = 0;
    virtual void ClearLog() = 0;

    // Calls and log lines are kept only while recording is on, so that a
    // long-running host does not accumulate them. Off when the library is
    // loaded; turning it off forgets what was kept (and the objects the
    // calls passed).
    virtual void SetRecording(bool on) = 0;
    virtual bool Recording() const = 0;

protected:
    ~IControl() = default;
};

// Turns recording on for its lifetime, then back to what it was.
class ScopedRecording {
public:
    explicit ScopedRecording(IControl& control) : control_(control), was_(control.Recording()) {
        control_.SetRecording(true);
    }
    ~ScopedRecording() { control_.SetRecording(was_); }
    ScopedRecording(const ScopedRecording&) = delete;
    ScopedRecording& operator=(const ScopedRecording&) = delete;

private:
    IControl& control_;
    const bool was_;
};

}  // namespace QueltoSim

using QueltoSimGetControlFn = QueltoSim::IControl* (*)();
#define QUELTO_SIM_CONTROL_ENTRY "QueltoSim_GetControl"
