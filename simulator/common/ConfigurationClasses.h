// The SDK's configuration classes, as the simulated Quelto.Common library
// provides them: objects that keep what is set and accept every number.
#pragma once

#include "SdkContract.h"

namespace QueltoSim {

namespace D = Quelto::Common::Definitions;

#define QUELTO_SIM_PROPERTY(Type, Name, Init)                \
    Type get_##Name() const override { return Name##_; }      \
    void set_##Name(Type value) override { Name##_ = value; } \
    Type Name##_ = Init;

class FootSwTransducerEnabled final : public D::IFootSwTransducerEnabled {
public:
    QUELTO_SIM_PROPERTY(bool, T_A, false)
    QUELTO_SIM_PROPERTY(bool, T_1, false)
    QUELTO_SIM_PROPERTY(bool, T_5, false)
    QUELTO_SIM_PROPERTY(bool, T_T, false)
};

class FootSwTransducerThreshold final : public D::IFootSwTransducerThreshold {
public:
    QUELTO_SIM_PROPERTY(double, T_A, 0.0)
    QUELTO_SIM_PROPERTY(double, T_1, 0.0)
    QUELTO_SIM_PROPERTY(double, T_5, 0.0)
    QUELTO_SIM_PROPERTY(double, T_T, 0.0)
};

// A new object owns an EnabledInsole array of 2 and an EnabledAnalogChannel
// array of 32 elements (other lengths for tests), and transducer objects.
class CaptureConfiguration final : public D::ICaptureConfiguration {
public:
    static constexpr int InsoleCount = 2;
    static constexpr int AnalogChannelCount = 32;

    explicit CaptureConfiguration(int insoles = InsoleCount, int analogChannels = AnalogChannelCount);

    QUELTO_SIM_PROPERTY(bool, ExternalTriggerEnabled, false)
    QUELTO_SIM_PROPERTY(int32_t, ExternalTriggerActiveLevel, 0)
    QUELTO_SIM_PROPERTY(bool, ExternalTriggerStopDisabled, false)
    QUELTO_SIM_PROPERTY(int32_t, ExternalEventActiveLevel, 0)
    QUELTO_SIM_PROPERTY(D::ImuAcqPType, IMU_AcqPType, {})
    QUELTO_SIM_PROPERTY(D::EmgAcqPType, EMG_AcqPType, {})
    QUELTO_SIM_PROPERTY(D::ImuAcqXType, IMU_AcqXType, {})
    QUELTO_SIM_PROPERTY(D::EmgAcqXType, EMG_AcqXType, {})
    QUELTO_SIM_PROPERTY(D::EmgImuAcqXType, EMG_IMU_AcqXType, {})
    QUELTO_SIM_PROPERTY(D::ImuAcqBType, IMU_AcqBType, {})
    QUELTO_SIM_PROPERTY(D::EmgAcqBType, EMG_AcqBType, {})
    QUELTO_SIM_PROPERTY(D::InsoleBtAcqType, Insole_BtAcqType, {})
    QUELTO_SIM_PROPERTY(D::InsoleRfAcqType, Insole_RfAcqType, {})
    QUELTO_SIM_PROPERTY(D::AnalogAcqType, Analog_AcqType, {})
    QUELTO_SIM_PROPERTY(D::InsoleRfProtocol, Insole_RfProtocol, {})
    QUELTO_SIM_PROPERTY(D::AccelerometerFullScale, Insole_AccelerometerFullScale, {})
    QUELTO_SIM_PROPERTY(D::GyroscopeFullScale, Insole_GyroscopeFullScale, {})
    Runtime::ArrayRef<bool> get_EnabledInsole() const override { return enabledInsole_; }
    Runtime::ArrayRef<bool> get_EnabledAnalogChannel() const override { return enabledAnalogChannel_; }
    QUELTO_SIM_PROPERTY(D::AnalogTriggerMode, Analog_TriggerMode, {})
    QUELTO_SIM_PROPERTY(D::VoltageFullScale, Analog_VoltageFullScale, {})
    QUELTO_SIM_PROPERTY(uint32_t, Analog_ChannelDelay_ms, 0)
    QUELTO_SIM_PROPERTY(Runtime::Ref<D::IFootSwTransducerEnabled>, FootSwATransducerEnabled, nullptr)
    QUELTO_SIM_PROPERTY(Runtime::Ref<D::IFootSwTransducerEnabled>, FootSwBTransducerEnabled, nullptr)
    QUELTO_SIM_PROPERTY(Runtime::Ref<D::IFootSwTransducerThreshold>, FootSwATransducerThreshold, nullptr)
    QUELTO_SIM_PROPERTY(Runtime::Ref<D::IFootSwTransducerThreshold>, FootSwBTransducerThreshold, nullptr)
    QUELTO_SIM_PROPERTY(D::FootSwProtocol, FootSwProtocol, {})

private:
    Runtime::ArrayRef<bool> enabledInsole_;
    Runtime::ArrayRef<bool> enabledAnalogChannel_;
};

class SensorConfiguration final : public D::ISensorConfiguration {
public:
    QUELTO_SIM_PROPERTY(D::SensorModel, SensorModel, {})
    QUELTO_SIM_PROPERTY(D::SensorMode, SensorMode, {})
    QUELTO_SIM_PROPERTY(D::AccelerometerFullScale, AccelerometerFullScale, {})
    QUELTO_SIM_PROPERTY(D::GyroscopeFullScale, GyroscopeFullScale, {})
};

#undef QUELTO_SIM_PROPERTY

}  // namespace QueltoSim
