// The process-wide control object of the simulated device library.
#pragma once

#include "SimControl.h"

#include <map>
#include <mutex>
#include <vector>

namespace QueltoSim {

class SimulatedDaqSystem;

class ControlImpl final : public IControl {
public:
    std::vector<CallRecord> Calls() const override;
    void ClearCalls() override;
    void SetFailure(const std::string& operation, std::function<void()> thrower, int times) override;
    void ClearFailures() override;
    int LiveDevices() const override;
    uint64_t LatestDevice() const override;
    bool RaiseEvent(const Runtime::Ref<Quelto::Common::Definitions::DataAvailableEventArgs>& e) override;
    std::string EventThreadId() const override;
    std::vector<std::string> Log() const override;
    void ClearLog() override;
    void SetRecording(bool on) override;
    bool Recording() const override;
    void AppendLog(uint64_t device, const std::string& line);

    // Records a call and runs its injected failure, if any. For "Create"
    // returns the new device's serial number.
    uint64_t Record(const std::string& operation, std::vector<int64_t> arguments,
                    Runtime::Ref<Runtime::Object> object, uint64_t device);
    void Check(const std::string& operation, std::vector<int64_t> arguments, Runtime::Ref<Runtime::Object> object,
               uint64_t device) {
        Record(operation, std::move(arguments), std::move(object), device);
    }
    // Runs the injected failure of `operation`, if any, without recording.
    void Fail(const std::string& operation);
    void DeviceMade(SimulatedDaqSystem* device);
    void DeviceGone(SimulatedDaqSystem* device);

private:
    // The thrower to run for `operation`, counting it down; mutex_ held.
    std::function<void()> TakeFailure(const std::string& operation);

    struct Failure {
        std::function<void()> thrower;
        int times;
    };
    mutable std::mutex mutex_;
    bool recording_ = false;
    std::vector<CallRecord> calls_;
    std::vector<std::string> log_;
    std::map<std::string, Failure> failures_;
    std::vector<SimulatedDaqSystem*> devices_;
    uint64_t nextSerial_ = 1;
};

ControlImpl& Control();

}  // namespace QueltoSim
