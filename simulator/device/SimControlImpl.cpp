#include "SimControlImpl.h"

#include "SimulatedDaqSystem.h"

#include <algorithm>
#include <sstream>

#ifdef _WIN32
#include <pthread.h>
#include <windows.h>
#endif

namespace QueltoSim {

ControlImpl& Control() {
    static ControlImpl* control = new ControlImpl();  // outlives every device
    return *control;
}

std::vector<CallRecord> ControlImpl::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

void ControlImpl::ClearCalls() {
    std::lock_guard lock(mutex_);
    calls_.clear();
}

void ControlImpl::SetFailure(const std::string& operation, std::function<void()> thrower, int times) {
    std::lock_guard lock(mutex_);
    failures_[operation] = Failure{std::move(thrower), times};
}

void ControlImpl::ClearFailures() {
    std::lock_guard lock(mutex_);
    failures_.clear();
}

int ControlImpl::LiveDevices() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(devices_.size());
}

uint64_t ControlImpl::LatestDevice() const {
    std::lock_guard lock(mutex_);
    return devices_.empty() ? 0 : devices_.back()->Serial();
}

bool ControlImpl::RaiseEvent(const Runtime::Ref<Quelto::Common::Definitions::DataAvailableEventArgs>& e) {
    std::shared_ptr<SimulatedDaqSystem> device;
    {
        std::lock_guard lock(mutex_);
        if (devices_.empty()) return false;
        device = devices_.back()->weak_from_this().lock();
    }
    if (!device) return false;
    device->Inject(e);
    return true;
}

std::string ControlImpl::EventThreadId() const {
    std::lock_guard lock(mutex_);
    if (devices_.empty()) return {};
    std::ostringstream out;
#ifdef _WIN32
    if (devices_.back()->EventThreadId() == std::thread::id()) return {};
    out << GetThreadId(pthread_gethandle(devices_.back()->EventThreadHandle()));
#else
    out << devices_.back()->EventThreadId();
#endif
    return out.str();
}

std::vector<std::string> ControlImpl::Log() const {
    std::lock_guard lock(mutex_);
    return log_;
}

void ControlImpl::ClearLog() {
    std::lock_guard lock(mutex_);
    log_.clear();
}

void ControlImpl::SetRecording(bool on) {
    std::vector<CallRecord> calls;
    std::vector<std::string> log;
    {
        std::lock_guard lock(mutex_);
        recording_ = on;
        if (!on) {
            calls.swap(calls_);
            log.swap(log_);
        }
    }
    // The objects the calls held are released outside the lock.
}

bool ControlImpl::Recording() const {
    std::lock_guard lock(mutex_);
    return recording_;
}

void ControlImpl::AppendLog(uint64_t device, const std::string& line) {
    std::string text = "device " + std::to_string(device) + ": " + line;
    Runtime::Debug::Write(text + "\n");
    std::lock_guard lock(mutex_);
    if (recording_) log_.push_back(std::move(text));
}

std::function<void()> ControlImpl::TakeFailure(const std::string& operation) {
    auto it = failures_.find(operation);
    if (it == failures_.end()) return {};
    std::function<void()> thrower = it->second.thrower;
    if (it->second.times > 0 && --it->second.times == 0) failures_.erase(it);
    return thrower;
}

uint64_t ControlImpl::Record(const std::string& operation, std::vector<int64_t> arguments,
                             Runtime::Ref<Runtime::Object> object, uint64_t device) {
    std::function<void()> thrower;
    uint64_t serial = device;
    {
        std::lock_guard lock(mutex_);
        if (operation == "Create") serial = nextSerial_++;
        if (recording_) calls_.push_back(CallRecord{operation, std::move(arguments), std::move(object), serial});
        thrower = TakeFailure(operation);
    }
    if (thrower) thrower();
    return serial;
}

void ControlImpl::Fail(const std::string& operation) {
    std::function<void()> thrower;
    {
        std::lock_guard lock(mutex_);
        if (failures_.empty()) return;
        thrower = TakeFailure(operation);
    }
    if (thrower) thrower();
}

void ControlImpl::DeviceMade(SimulatedDaqSystem* device) {
    std::lock_guard lock(mutex_);
    devices_.push_back(device);
}

void ControlImpl::DeviceGone(SimulatedDaqSystem* device) {
    std::lock_guard lock(mutex_);
    std::erase(devices_, device);
}

}  // namespace QueltoSim
