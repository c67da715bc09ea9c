#include "Quelto_ConfigurationHelpers.h"
#include "RecordBytes.h"

#include "AppDomain.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace D = Quelto::Common::Definitions;
using Config::FlagByte;

namespace {

constexpr int InsoleCount = QUELTO_INSOLE_COUNT;
constexpr int AnalogChannelCount = QUELTO_ANALOG_CHANNEL_COUNT;

// Enumerations without a conversion class pass their number unchanged.
template <class To, class From>
To SameNumber(From value) {
    return static_cast<To>(static_cast<int32_t>(value));
}

}  // namespace

Runtime::Ref<D::ICaptureConfiguration> Quelto_CaptureConfigurationHelper::ToManaged(
    const Quelto_CaptureConfiguration& native) {
    auto managed = Runtime::AppDomain::CurrentDomain().CreateInstance<D::ICaptureConfiguration>(
        D::CommonAssemblyName, D::CaptureConfigurationClass);
    D::ICaptureConfiguration& m = *managed;

    m.set_ExternalTriggerEnabled(FlagByte(native.ExternalTriggerEnabled));
    m.set_ExternalTriggerActiveLevel(native.ExternalTriggerActiveLevel);
    m.set_ExternalTriggerStopDisabled(FlagByte(native.ExternalTriggerStopDisabled));
    m.set_ExternalEventActiveLevel(native.ExternalEventActiveLevel);
    m.set_IMU_AcqPType(SameNumber<D::ImuAcqPType>(native.IMU_AcqPType));
    m.set_EMG_AcqPType(SameNumber<D::EmgAcqPType>(native.EMG_AcqPType));
    m.set_IMU_AcqXType(SameNumber<D::ImuAcqXType>(native.IMU_AcqXType));
    m.set_EMG_AcqXType(SameNumber<D::EmgAcqXType>(native.EMG_AcqXType));
    m.set_EMG_IMU_AcqXType(SameNumber<D::EmgImuAcqXType>(native.EMG_IMU_AcqXType));
    m.set_IMU_AcqBType(SameNumber<D::ImuAcqBType>(native.IMU_AcqBType));
    m.set_EMG_AcqBType(SameNumber<D::EmgAcqBType>(native.EMG_AcqBType));
    m.set_Insole_BtAcqType(SameNumber<D::InsoleBtAcqType>(native.Insole_BtAcqType));
    m.set_Insole_RfAcqType(SameNumber<D::InsoleRfAcqType>(native.Insole_RfAcqType));
    m.set_Analog_AcqType(SameNumber<D::AnalogAcqType>(native.Analog_AcqType));
    m.set_Insole_RfProtocol(SameNumber<D::InsoleRfProtocol>(native.Insole_RfProtocol));
    m.set_Insole_AccelerometerFullScale(SameNumber<D::AccelerometerFullScale>(native.Insole_AccelerometerFullScale));
    m.set_Insole_GyroscopeFullScale(SameNumber<D::GyroscopeFullScale>(native.Insole_GyroscopeFullScale));

    // The object's own arrays are written, never replaced; elements past the
    // record's counts keep what the constructor gave them.
    Runtime::Array<bool, 1>& insoles = Runtime::Deref(m.get_EnabledInsole());
    for (int i = 0; i < InsoleCount; ++i) insoles[i] = FlagByte(native.EnabledInsole[i]);
    Runtime::Array<bool, 1>& analog = Runtime::Deref(m.get_EnabledAnalogChannel());
    for (int i = 0; i < AnalogChannelCount; ++i) analog[i] = FlagByte(native.EnabledAnalogChannel[i]);

    m.set_Analog_TriggerMode(SameNumber<D::AnalogTriggerMode>(native.Analog_TriggerMode));
    m.set_Analog_VoltageFullScale(SameNumber<D::VoltageFullScale>(native.Analog_VoltageFullScale));
    m.set_Analog_ChannelDelay_ms(native.Analog_ChannelDelay_ms);

    m.set_FootSwATransducerEnabled(Quelto_FootSwTransducerEnabledHelper::ToManaged(native.FootSwATransducerEnabled));
    m.set_FootSwBTransducerEnabled(Quelto_FootSwTransducerEnabledHelper::ToManaged(native.FootSwBTransducerEnabled));
    m.set_FootSwATransducerThreshold(
        Quelto_FootSwTransducerThresholdHelper::ToManaged(native.FootSwATransducerThreshold));
    m.set_FootSwBTransducerThreshold(
        Quelto_FootSwTransducerThresholdHelper::ToManaged(native.FootSwBTransducerThreshold));

    // Checked last: an out-of-range protocol abandons the whole object.
    m.set_FootSwProtocol(Quelto_FootSwProtocolhelper::ToManaged(native.FootSwProtocol));
    return managed;
}

Quelto_CaptureConfiguration Quelto_CaptureConfigurationHelper::ToNative(
    const Runtime::Ref<D::ICaptureConfiguration>& managed) {
    const D::ICaptureConfiguration& m = Runtime::Deref(managed);
    Quelto_CaptureConfiguration native;
    std::memset(&native, 0, sizeof native);

    native.ExternalTriggerEnabled = m.get_ExternalTriggerEnabled();
    native.ExternalTriggerActiveLevel = m.get_ExternalTriggerActiveLevel();
    native.ExternalTriggerStopDisabled = m.get_ExternalTriggerStopDisabled();
    native.ExternalEventActiveLevel = m.get_ExternalEventActiveLevel();
    native.IMU_AcqPType = SameNumber<Quelto_ImuAcqPType>(m.get_IMU_AcqPType());
    native.EMG_AcqPType = SameNumber<Quelto_EmgAcqPType>(m.get_EMG_AcqPType());
    native.IMU_AcqXType = SameNumber<Quelto_ImuAcqXType>(m.get_IMU_AcqXType());
    native.EMG_AcqXType = SameNumber<Quelto_EmgAcqXType>(m.get_EMG_AcqXType());
    native.EMG_IMU_AcqXType = SameNumber<Quelto_EmgImuAcqXType>(m.get_EMG_IMU_AcqXType());
    native.IMU_AcqBType = SameNumber<Quelto_ImuAcqBType>(m.get_IMU_AcqBType());
    native.EMG_AcqBType = SameNumber<Quelto_EmgAcqBType>(m.get_EMG_AcqBType());
    native.Insole_BtAcqType = SameNumber<Quelto_InsoleBtAcqType>(m.get_Insole_BtAcqType());
    native.Insole_RfAcqType = SameNumber<Quelto_InsoleRfAcqType>(m.get_Insole_RfAcqType());
    native.Analog_AcqType = SameNumber<Quelto_AnalogAcqType>(m.get_Analog_AcqType());
    native.Insole_RfProtocol = SameNumber<Quelto_InsoleRfProtocol>(m.get_Insole_RfProtocol());
    native.Insole_AccelerometerFullScale = SameNumber<Quelto_AccelerometerFullScale>(m.get_Insole_AccelerometerFullScale());
    native.Insole_GyroscopeFullScale = SameNumber<Quelto_GyroscopeFullScale>(m.get_Insole_GyroscopeFullScale());

    const Runtime::Array<bool, 1>& insoles = Runtime::Deref(m.get_EnabledInsole());
    for (int i = 0; i < InsoleCount; ++i) {
        const bool enabled = insoles[i];
        native.EnabledInsole[i] = enabled;
        std::printf("EnabledInsole[%d] = %s\n", i, enabled ? "True" : "False");
    }
    const Runtime::Array<bool, 1>& analog = Runtime::Deref(m.get_EnabledAnalogChannel());
    for (int i = 0; i < AnalogChannelCount; ++i) native.EnabledAnalogChannel[i] = analog[i];

    native.Analog_TriggerMode = SameNumber<Quelto_AnalogTriggerMode>(m.get_Analog_TriggerMode());
    native.Analog_VoltageFullScale = SameNumber<Quelto_VoltageFullScale>(m.get_Analog_VoltageFullScale());
    native.Analog_ChannelDelay_ms = m.get_Analog_ChannelDelay_ms();

    native.FootSwATransducerEnabled = Quelto_FootSwTransducerEnabledHelper::ToNative(m.get_FootSwATransducerEnabled());
    native.FootSwBTransducerEnabled = Quelto_FootSwTransducerEnabledHelper::ToNative(m.get_FootSwBTransducerEnabled());
    native.FootSwATransducerThreshold =
        Quelto_FootSwTransducerThresholdHelper::ToNative(m.get_FootSwATransducerThreshold());
    native.FootSwBTransducerThreshold =
        Quelto_FootSwTransducerThresholdHelper::ToNative(m.get_FootSwBTransducerThreshold());

    native.FootSwProtocol = Quelto_FootSwProtocolhelper::ToNative(m.get_FootSwProtocol());
    return native;
}

Runtime::Ref<D::ISensorConfiguration> Quelto_SensorConfigurationHelper::ToManaged(
    const Quelto_SensorConfiguration& native) {
    auto managed = Runtime::AppDomain::CurrentDomain().CreateInstance<D::ISensorConfiguration>(
        D::CommonAssemblyName, D::SensorConfigurationClass);
    managed->set_SensorModel(SameNumber<D::SensorModel>(native.SensorModel));
    // Widened without sign: 65535 stays 65535.
    managed->set_SensorMode(static_cast<D::SensorMode>(static_cast<int32_t>(static_cast<uint16_t>(native.SensorMode))));
    managed->set_AccelerometerFullScale(SameNumber<D::AccelerometerFullScale>(native.AccelerometerFullScale));
    managed->set_GyroscopeFullScale(SameNumber<D::GyroscopeFullScale>(native.GyroscopeFullScale));
    return managed;
}

Quelto_SensorConfiguration Quelto_SensorConfigurationHelper::ToNative(
    const Runtime::Ref<D::ISensorConfiguration>& managed) {
    if (!managed) throw Runtime::ArgumentNullException();
    Quelto_SensorConfiguration native;
    std::memset(&native, 0, sizeof native);
    native.SensorModel = SameNumber<Quelto_SensorModel>(managed->get_SensorModel());
    // Only the low 16 bits fit the record.
    native.SensorMode = static_cast<Quelto_SensorMode>(static_cast<uint16_t>(static_cast<int32_t>(managed->get_SensorMode())));
    native.AccelerometerFullScale = SameNumber<Quelto_AccelerometerFullScale>(managed->get_AccelerometerFullScale());
    native.GyroscopeFullScale = SameNumber<Quelto_GyroscopeFullScale>(managed->get_GyroscopeFullScale());
    return native;
}
