// Configuration objects of the managed backend: capture and sensor
// configurations, the foot-switch records and the software version, each
// forwarding its properties to the managed object by name.
#include "ManagedObjects.h"

namespace Hosting::Managed {

namespace D = Quelto::Common::Definitions;

namespace {

class ManagedEnabled final : public ManagedObject, public D::IFootSwTransducerEnabled {
public:
    using ManagedObject::ManagedObject;
#define QUELTO_BOOL(Name)                                                                             \
    bool get_##Name() const override { return Number(EnabledInterface, u"" #Name).I != 0; }           \
    void set_##Name(bool v) override { Set(EnabledInterface, u"" #Name, v ? 1 : 0); }
    QUELTO_BOOL(T_A) QUELTO_BOOL(T_1) QUELTO_BOOL(T_5) QUELTO_BOOL(T_T)
#undef QUELTO_BOOL
};

class ManagedThreshold final : public ManagedObject, public D::IFootSwTransducerThreshold {
public:
    using ManagedObject::ManagedObject;
#define QUELTO_DOUBLE(Name)                                                                           \
    double get_##Name() const override { return Number(ThresholdInterface, u"" #Name).D; }            \
    void set_##Name(double v) override { Set(ThresholdInterface, u"" #Name, 0, v); }
    QUELTO_DOUBLE(T_A) QUELTO_DOUBLE(T_1) QUELTO_DOUBLE(T_5) QUELTO_DOUBLE(T_T)
#undef QUELTO_DOUBLE
};

#define QUELTO_NUMBER(Iface, Type, Name)                                                              \
    Type get_##Name() const override { return static_cast<Type>(Number(Iface, u"" #Name).I); }       \
    void set_##Name(Type v) override { Set(Iface, u"" #Name, static_cast<int64_t>(v)); }
#define QUELTO_OBJECT(Iface, Type, Adopter, Name)                                                     \
    Runtime::Ref<D::Type> get_##Name() const override { return Adopter(Get(Iface, u"" #Name).Obj); }  \
    void set_##Name(Runtime::Ref<D::Type> v) override { Set(Iface, u"" #Name, 0, 0, HandleOf(v)); }

class ManagedCapture final : public ManagedObject, public D::ICaptureConfiguration {
public:
    using ManagedObject::ManagedObject;
    bool get_ExternalTriggerEnabled() const override {
        return Number(CaptureInterface, u"ExternalTriggerEnabled").I != 0;
    }
    void set_ExternalTriggerEnabled(bool v) override { Set(CaptureInterface, u"ExternalTriggerEnabled", v); }
    bool get_ExternalTriggerStopDisabled() const override {
        return Number(CaptureInterface, u"ExternalTriggerStopDisabled").I != 0;
    }
    void set_ExternalTriggerStopDisabled(bool v) override { Set(CaptureInterface, u"ExternalTriggerStopDisabled", v); }
    QUELTO_NUMBER(CaptureInterface, int32_t, ExternalTriggerActiveLevel)
    QUELTO_NUMBER(CaptureInterface, int32_t, ExternalEventActiveLevel)
    QUELTO_NUMBER(CaptureInterface, D::ImuAcqPType, IMU_AcqPType)
    QUELTO_NUMBER(CaptureInterface, D::EmgAcqPType, EMG_AcqPType)
    QUELTO_NUMBER(CaptureInterface, D::ImuAcqXType, IMU_AcqXType)
    QUELTO_NUMBER(CaptureInterface, D::EmgAcqXType, EMG_AcqXType)
    QUELTO_NUMBER(CaptureInterface, D::EmgImuAcqXType, EMG_IMU_AcqXType)
    QUELTO_NUMBER(CaptureInterface, D::ImuAcqBType, IMU_AcqBType)
    QUELTO_NUMBER(CaptureInterface, D::EmgAcqBType, EMG_AcqBType)
    QUELTO_NUMBER(CaptureInterface, D::InsoleBtAcqType, Insole_BtAcqType)
    QUELTO_NUMBER(CaptureInterface, D::InsoleRfAcqType, Insole_RfAcqType)
    QUELTO_NUMBER(CaptureInterface, D::AnalogAcqType, Analog_AcqType)
    QUELTO_NUMBER(CaptureInterface, D::InsoleRfProtocol, Insole_RfProtocol)
    QUELTO_NUMBER(CaptureInterface, D::AccelerometerFullScale, Insole_AccelerometerFullScale)
    QUELTO_NUMBER(CaptureInterface, D::GyroscopeFullScale, Insole_GyroscopeFullScale)
    QUELTO_NUMBER(CaptureInterface, D::AnalogTriggerMode, Analog_TriggerMode)
    QUELTO_NUMBER(CaptureInterface, D::VoltageFullScale, Analog_VoltageFullScale)
    QUELTO_NUMBER(CaptureInterface, uint32_t, Analog_ChannelDelay_ms)
    QUELTO_NUMBER(CaptureInterface, D::FootSwProtocol, FootSwProtocol)
    // Callers may hold on to the array through a plain reference, as the
    // object owns it: the view (pinning the managed array) is made once and
    // lives as long as this object.
    Runtime::ArrayRef<bool> get_EnabledInsole() const override {
        if (!insoles_) insoles_ = ViewOf<bool, 1>(Get(CaptureInterface, u"EnabledInsole").Obj, u"EnabledInsole");
        return insoles_;
    }
    Runtime::ArrayRef<bool> get_EnabledAnalogChannel() const override {
        if (!analog_) {
            analog_ = ViewOf<bool, 1>(Get(CaptureInterface, u"EnabledAnalogChannel").Obj, u"EnabledAnalogChannel");
        }
        return analog_;
    }
    QUELTO_OBJECT(CaptureInterface, IFootSwTransducerEnabled, AdoptEnabled, FootSwATransducerEnabled)
    QUELTO_OBJECT(CaptureInterface, IFootSwTransducerEnabled, AdoptEnabled, FootSwBTransducerEnabled)
    QUELTO_OBJECT(CaptureInterface, IFootSwTransducerThreshold, AdoptThreshold, FootSwATransducerThreshold)
    QUELTO_OBJECT(CaptureInterface, IFootSwTransducerThreshold, AdoptThreshold, FootSwBTransducerThreshold)

private:
    mutable Runtime::ArrayRef<bool> insoles_, analog_;
};

class ManagedSensor final : public ManagedObject, public D::ISensorConfiguration {
public:
    using ManagedObject::ManagedObject;
    QUELTO_NUMBER(SensorInterface, D::SensorModel, SensorModel)
    QUELTO_NUMBER(SensorInterface, D::SensorMode, SensorMode)
    QUELTO_NUMBER(SensorInterface, D::AccelerometerFullScale, AccelerometerFullScale)
    QUELTO_NUMBER(SensorInterface, D::GyroscopeFullScale, GyroscopeFullScale)
};

#undef QUELTO_NUMBER
#undef QUELTO_OBJECT

class ManagedVersion final : public ManagedObject, public D::IExtVersion {
public:
    using ManagedObject::ManagedObject;
    int32_t get_Major() const override { return static_cast<int32_t>(Number(VersionInterface, u"Major").I); }
    int32_t get_Minor() const override { return static_cast<int32_t>(Number(VersionInterface, u"Minor").I); }
    int32_t get_Build() const override { return static_cast<int32_t>(Number(VersionInterface, u"Build").I); }
    int32_t get_Revision() const override {
        return static_cast<int32_t>(Number(VersionInterface, u"Revision").I);
    }
};

}  // namespace

Runtime::Ref<D::ICaptureConfiguration> AdoptCapture(intptr_t handle) { return Adopt<ManagedCapture>(handle); }
Runtime::Ref<D::ISensorConfiguration> AdoptSensor(intptr_t handle) { return Adopt<ManagedSensor>(handle); }
Runtime::Ref<D::IFootSwTransducerEnabled> AdoptEnabled(intptr_t handle) { return Adopt<ManagedEnabled>(handle); }
Runtime::Ref<D::IFootSwTransducerThreshold> AdoptThreshold(intptr_t handle) { return Adopt<ManagedThreshold>(handle); }
Runtime::Ref<D::IExtVersion> AdoptVersion(intptr_t handle) { return Adopt<ManagedVersion>(handle); }

}  // namespace Hosting::Managed
