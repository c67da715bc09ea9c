// The simulated device behind the managed DaqSystem, and the test control.
// The native device runs as it does in the native SDK; its events are handed
// to the managed event thread, and the device thread waits while that
// thread's handlers run.
#include "ConfigurationClasses.h"
#include "ShimSupport.h"
#include "SimControlImpl.h"
#include "SimulatedDaqSystem.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace D = Quelto::Common::Definitions;

struct QueltoSimShim_Device {
    std::shared_ptr<QueltoSim::SimulatedDaqSystem> device;
    bool fast = false;
    std::mutex mutex;
    std::condition_variable wake;
    Runtime::Ref<D::DataAvailableEventArgs> pending;
    uint64_t posted = 0, done = 0;
    bool closing = false;
    bool subscribed = false;
    std::string eventThread;
};

namespace QueltoSimShim {

namespace {

struct LastError {
    std::string type, message;
};
thread_local LastError t_error;

class ShimActivator final : public Runtime::IActivator {
public:
    Runtime::Ref<Runtime::Object> CreateInstance(const std::string& assembly, const std::string& name) override {
        if (assembly == D::CommonAssemblyName) {
            if (name == D::CaptureConfigurationClass) return std::make_shared<QueltoSim::CaptureConfiguration>();
            if (name == D::SensorConfigurationClass) return std::make_shared<QueltoSim::SensorConfiguration>();
            if (name == D::FootSwTransducerEnabledClass) return std::make_shared<QueltoSim::FootSwTransducerEnabled>();
            if (name == D::FootSwTransducerThresholdClass) {
                return std::make_shared<QueltoSim::FootSwTransducerThreshold>();
            }
        }
        throw Runtime::TypeLoadException("Could not load type '" + name + "' from assembly '" + assembly + "'.");
    }
};

// Devices by serial number, for the event thread ids.
std::mutex g_devicesMutex;
std::map<uint64_t, QueltoSimShim_Device*> g_devices;
std::atomic<int> g_allocated{0};

int CopyText(const std::string& text, char* target, int capacity) {
    if (target && capacity > 0) {
        const size_t n = std::min(text.size(), static_cast<size_t>(capacity - 1));
        std::memcpy(target, text.data(), n);
        target[n] = '\0';
    }
    return static_cast<int>(text.size());
}

}  // namespace

void SetLastError(const char* type, const std::string& message) {
    t_error.type = type ? type : "System.Exception";
    t_error.message = message;
}

Runtime::IActivator& Activator() {
    static ShimActivator activator;
    return activator;
}

}  // namespace QueltoSimShim

// What the device library's own entry points provide in the native SDK.
namespace QueltoSim {

Runtime::IActivator* DeviceActivator() { return &QueltoSimShim::Activator(); }

}  // namespace QueltoSim

using QueltoSimShim::Guard;

extern "C" {

int QueltoSimShim_LastError(char* type, int typeCapacity, char* message, int messageCapacity) {
    QueltoSimShim::CopyText(QueltoSimShim::t_error.type, type, typeCapacity);
    return QueltoSimShim::CopyText(QueltoSimShim::t_error.message, message, messageCapacity);
}

int QueltoSimShim_DeviceCreate(QueltoSimShim_Device** device) {
    return Guard([&] {
        auto d = std::make_unique<QueltoSimShim_Device>();
        d->fast = QueltoSim::DeviceOptions::FromEnvironment().fast;
        d->device = std::make_shared<QueltoSim::SimulatedDaqSystem>();
        {
            std::lock_guard lock(QueltoSimShim::g_devicesMutex);
            QueltoSimShim::g_devices[d->device->Serial()] = d.get();
        }
        *device = d.release();
        ++QueltoSimShim::g_allocated;
    });
}

int QueltoSimShim_DeviceDispose(QueltoSimShim_Device* d) {
    return Guard([&] {
        {
            std::lock_guard lock(d->mutex);
            d->closing = true;
        }
        d->wake.notify_all();
        d->device->Dispose();
        std::lock_guard lock(QueltoSimShim::g_devicesMutex);
        QueltoSimShim::g_devices.erase(d->device->Serial());
    });
}

void QueltoSimShim_DeviceFree(QueltoSimShim_Device* d) {
    if (!d) return;
    QueltoSimShim_DeviceDispose(d);
    delete d;
    --QueltoSimShim::g_allocated;
}

int QueltoSimShim_DeviceCall(QueltoSimShim_Device* d, const char* member, int32_t argument) {
    return Guard([&] {
        auto& dev = *d->device;
        const std::string m = member ? member : "";
        if (m == "StartCapturing") {
            dev.StartCapturing(static_cast<D::DataAvailableEventPeriod>(argument));
        } else if (m == "StopCapturing") {
            dev.StopCapturing();
        } else if (m == "GenerateInternalStartTrigger") {
            dev.GenerateInternalStartTrigger();
        } else if (m == "GenerateInternalStopTrigger") {
            dev.GenerateInternalStopTrigger();
        } else if (m == "UpdateDisplay") {
            dev.UpdateDisplay();
        } else if (m == "QL_SaveCurrentRxConfiguration") {
            dev.QL_SaveCurrentRxConfiguration();
        } else if (m == "CalibrateSensorImuOffset") {
            dev.CalibrateSensorImuOffset(argument);
        } else if (m == "CalibrateGyroscopeOffset") {
            dev.CalibrateGyroscopeOffset(argument);
        } else if (m == "DetectAccelerometerOffset") {
            dev.DetectAccelerometerOffset(argument);
        } else if (m == "QL_CalibrateEmgOffset") {
            dev.QL_CalibrateEmgOffset(argument);
        } else if (m == "add_DataAvailable") {
            // One native subscription forwards to every managed handler;
            // later subscriptions are recorded (and may fail) the same way.
            std::unique_lock lock(d->mutex);
            if (d->subscribed) {
                lock.unlock();
                QueltoSim::Control().Check("add_DataAvailable", {}, nullptr, dev.Serial());
                return;
            }
            lock.unlock();
            dev.add_DataAvailable([d](const Runtime::Ref<Runtime::Object>&, const Runtime::Ref<D::DataAvailableEventArgs>& e) {
                std::unique_lock wait(d->mutex);
                if (d->closing) return;
                d->pending = e;
                const uint64_t ticket = ++d->posted;
                d->wake.notify_all();
                d->wake.wait(wait, [&] { return d->done >= ticket || d->closing; });
            });
            lock.lock();
            d->subscribed = true;
        } else {
            throw Runtime::ArgumentException("No device member '" + m + "'.");
        }
    });
}

int QueltoSimShim_DeviceConfigureCapture(QueltoSimShim_Device* d, QueltoSimShim_Object* configuration) {
    return Guard([&] {
        Runtime::Ref<D::ICaptureConfiguration> c;
        if (configuration) {
            c = std::dynamic_pointer_cast<D::ICaptureConfiguration>(configuration->o);
            if (!c) throw Runtime::InvalidCastException("The object is not a capture configuration.");
        }
        d->device->ConfigureCapture(c);
    });
}

int QueltoSimShim_DeviceConfigureSensor(QueltoSimShim_Device* d, QueltoSimShim_Object* configuration, int32_t sensor) {
    return Guard([&] {
        Runtime::Ref<D::ISensorConfiguration> c;
        if (configuration) {
            c = std::dynamic_pointer_cast<D::ISensorConfiguration>(configuration->o);
            if (!c) throw Runtime::InvalidCastException("The object is not a sensor configuration.");
        }
        d->device->ConfigureSensor(c, sensor);
    });
}

int QueltoSimShim_DeviceState(QueltoSimShim_Device* d, int32_t* state) {
    return Guard([&] { *state = static_cast<int32_t>(d->device->get_State()); });
}

int QueltoSimShim_DeviceVersion(QueltoSimShim_Device* d, int32_t version[4]) {
    return Guard([&] {
        auto v = d->device->get_SoftwareVersion();
        const auto& r = Runtime::Deref(v);
        version[0] = r.get_Major();
        version[1] = r.get_Minor();
        version[2] = r.get_Build();
        version[3] = r.get_Revision();
    });
}

int QueltoSimShim_DeviceIsFast(QueltoSimShim_Device* d) { return d->fast ? 1 : 0; }

int QueltoSimShim_DeviceWaitBlock(QueltoSimShim_Device* d, QueltoSimShim_Block** block, int32_t timeout_ms) {
    std::unique_lock lock(d->mutex);
    if (d->eventThread.empty()) {
        std::ostringstream id;
#ifdef _WIN32
        id << GetCurrentThreadId();
#else
        id << std::this_thread::get_id();
#endif
        d->eventThread = id.str();
    }
    if (!d->wake.wait_for(lock, std::chrono::milliseconds(std::max(timeout_ms, 0)),
                          [&] { return d->pending || d->closing; })) {
        return 2;
    }
    if (d->closing) return 0;
    *block = new QueltoSimShim_Block{std::move(d->pending)};
    d->pending.reset();
    return 1;
}

void QueltoSimShim_DeviceBlockDone(QueltoSimShim_Device* d) {
    {
        std::lock_guard lock(d->mutex);
        d->done = d->posted;
    }
    d->wake.notify_all();
}

// ------------------------------------------------------------ test control

int QueltoSimShim_ControlCallCount(void) { return static_cast<int>(QueltoSim::Control().Calls().size()); }

int QueltoSimShim_ControlCall(int index, char* operation, int capacity, int64_t* arguments, int maxArguments,
                              uint64_t* device) {
    const auto calls = QueltoSim::Control().Calls();
    if (index < 0 || static_cast<size_t>(index) >= calls.size()) return -1;
    const auto& call = calls[static_cast<size_t>(index)];
    QueltoSimShim::CopyText(call.operation, operation, capacity);
    for (size_t i = 0; arguments && i < call.arguments.size() && i < static_cast<size_t>(std::max(maxArguments, 0)); ++i) {
        arguments[i] = call.arguments[i];
    }
    if (device) *device = call.device;
    return static_cast<int>(call.arguments.size());
}

void QueltoSimShim_ControlClearCalls(void) { QueltoSim::Control().ClearCalls(); }
void QueltoSimShim_ControlSetRecording(int on) { QueltoSim::Control().SetRecording(on != 0); }
int QueltoSimShim_ControlRecording(void) { return QueltoSim::Control().Recording() ? 1 : 0; }

void QueltoSimShim_ControlSetFailure(const char* operation, const char* exceptionType, const char* message, int times) {
    std::string type = exceptionType && *exceptionType ? exceptionType : "System.Exception";
    std::string text = message ? message : "";
    QueltoSim::Control().SetFailure(
        operation ? operation : "", [type, text] { throw QueltoSimShim::InjectedException(type, text); }, times);
}

void QueltoSimShim_ControlClearFailures(void) { QueltoSim::Control().ClearFailures(); }
int QueltoSimShim_ControlLiveDevices(void) { return QueltoSim::Control().LiveDevices(); }
int QueltoSimShim_ControlAllocatedDevices(void) { return QueltoSimShim::g_allocated.load(); }
uint64_t QueltoSimShim_ControlLatestDevice(void) { return QueltoSim::Control().LatestDevice(); }

int QueltoSimShim_ControlRaiseBlock(const QueltoSimShim_Block* block) {
    if (!block || !block->e) return 0;
    return QueltoSim::Control().RaiseEvent(std::make_shared<D::DataAvailableEventArgs>(*block->e)) ? 1 : 0;
}

int QueltoSimShim_ControlEventThreadId(char* text, int capacity) {
    const uint64_t latest = QueltoSim::Control().LatestDevice();
    std::string id;
    {
        std::lock_guard lock(QueltoSimShim::g_devicesMutex);
        auto it = QueltoSimShim::g_devices.find(latest);
        if (it != QueltoSimShim::g_devices.end()) {
            std::lock_guard deviceLock(it->second->mutex);
            id = it->second->eventThread;
        }
    }
    return QueltoSimShim::CopyText(id, text, capacity);
}

int QueltoSimShim_ControlLogCount(void) { return static_cast<int>(QueltoSim::Control().Log().size()); }

int QueltoSimShim_ControlLogLine(int index, char* text, int capacity) {
    const auto log = QueltoSim::Control().Log();
    if (index < 0 || static_cast<size_t>(index) >= log.size()) return -1;
    return QueltoSimShim::CopyText(log[static_cast<size_t>(index)], text, capacity);
}

void QueltoSimShim_ControlClearLog(void) { QueltoSim::Control().ClearLog(); }

QUELTO_SIM_SHIM_API QueltoSim::IControl* QueltoSim_GetControl() { return &QueltoSim::Control(); }

}  // extern "C"
