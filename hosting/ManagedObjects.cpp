// Objects of the managed backend: each holds an owning handle (a GC handle)
// to its managed object and forwards the contract's members to it by name.
#include "ManagedInterop.h"
#include "ManagedRuntime.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace Hosting::Managed {

namespace D = Quelto::Common::Definitions;

namespace {

constexpr const char16_t* DeviceInterface = u"Quelto.Interfaces.IDaqSystem";
constexpr const char16_t* CaptureInterface = u"Quelto.Common.Definitions.ICaptureConfiguration";
constexpr const char16_t* SensorInterface = u"Quelto.Common.Definitions.ISensorConfiguration";
constexpr const char16_t* EnabledInterface = u"Quelto.Common.Definitions.IFootSwTransducerEnabled";
constexpr const char16_t* ThresholdInterface = u"Quelto.Common.Definitions.IFootSwTransducerThreshold";
constexpr const char16_t* VersionInterface = u"Quelto.Common.Definitions.IExtVersion";
constexpr const char16_t* ReaderInterface = u"PellimorCfgReader.ICfgReader";

// An owning handle, released when the last holder lets go.
class Handle {
public:
    explicit Handle(intptr_t h) : h_(h) {}
    ~Handle() {
        if (h_) Api().Release(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    intptr_t get() const { return h_; }

private:
    intptr_t h_;
};

class ManagedObject : public virtual Runtime::Object {
public:
    explicit ManagedObject(intptr_t h) : handle_(h) {}
    intptr_t HandleValue() const { return handle_.get(); }

protected:
    Value Get(const char16_t* iface, const char16_t* name) const {
        Value v{};
        Check(Api().GetMember(handle_.get(), iface, name, &v));
        return v;
    }
    void Set(const char16_t* iface, const char16_t* name, int64_t i, double d = 0, intptr_t obj = 0) {
        Check(Api().SetMember(handle_.get(), iface, name, i, d, obj));
    }
    intptr_t Call(const char16_t* method, int shape = 0, intptr_t obj = 0, int32_t number = 0,
                  const char16_t* text = nullptr, const char16_t* iface = DeviceInterface) {
        intptr_t result = 0;
        Check(Api().Call(handle_.get(), iface, method, shape, obj, number, text, &result));
        return result;
    }

private:
    Handle handle_;
};

// The handle of a contract object of this backend (0 for null); objects of
// the native backend cannot be handed to a managed SDK.
intptr_t HandleOf(const Runtime::Ref<Runtime::Object>& object) {
    if (!object) return 0;
    auto* managed = dynamic_cast<ManagedObject*>(object.get());
    if (!managed) throw Runtime::InvalidCastException("A native SDK object cannot be passed to a managed SDK.");
    return managed->HandleValue();
}

template <class T>
Runtime::Ref<T> Adopt(intptr_t handle) {
    if (!handle) return nullptr;
    return std::make_shared<T>(handle);
}

// The extents of a pinned array of rank `Rank` whose elements are T's. The
// helper pins only arrays of a primitive element type: any other (strings,
// objects, decimals, dates, nested arrays) comes with element size 0 and no
// storage address, and is refused here like a primitive of the wrong size.
template <class T, int Rank>
std::array<int32_t, Rank> ExtentsOf(const PinnedArray& p, const std::string& refusal) {
    static_assert(Rank >= 1 && Rank <= 3, "the helper gives three extents");
    if (p.Rank != Rank || p.ElementSize != static_cast<int32_t>(sizeof(T))) {
        throw Runtime::InvalidCastException(refusal);
    }
    std::array<int32_t, Rank> extents{};
    bool empty = false;
    for (int d = 0; d < Rank; ++d) {
        extents[d] = p.Length[d];
        empty = empty || p.Length[d] <= 0;
    }
    if (!empty && !p.Data) throw Runtime::InvalidCastException(refusal);
    return extents;
}

// A pinned managed array seen in place: writes reach the managed array.
// `name`: the field or property it was read from, for the failure's text.
template <class T, int Rank>
Runtime::ArrayRef<T, Rank> ViewOf(intptr_t arrayHandle, const char16_t* name) {
    if (!arrayHandle) return nullptr;
    auto owner = std::make_shared<Handle>(arrayHandle);
    PinnedArray p{};
    Check(Api().Pin(arrayHandle, &p));
    struct Pinned {
        std::shared_ptr<Handle> array;
        intptr_t pin = 0;
        Pinned() = default;
        Pinned(const Pinned&) = delete;
        Pinned& operator=(const Pinned&) = delete;
        ~Pinned() {
            if (pin) Api().Release(pin);
        }
    };
    auto keep = std::make_shared<Pinned>();
    keep->array = std::move(owner);
    keep->pin = p.Pin;
    const auto extents = ExtentsOf<T, Rank>(
        p, "The managed array's rank or element type is not the one expected: " + Runtime::Text::ToUtf8(name) + ".");
    return Runtime::Array<T, Rank>::View(static_cast<T*>(p.Data), extents, std::move(keep));
}

// ------------------------------------------------------ configuration objects

class ManagedEnabled final : public ManagedObject, public D::IFootSwTransducerEnabled {
public:
    using ManagedObject::ManagedObject;
#define QUELTO_BOOL(Name)                                                                             \
    bool get_##Name() const override { return Get(EnabledInterface, u"" #Name).I != 0; }               \
    void set_##Name(bool v) override { Set(EnabledInterface, u"" #Name, v ? 1 : 0); }
    QUELTO_BOOL(T_A) QUELTO_BOOL(T_1) QUELTO_BOOL(T_5) QUELTO_BOOL(T_T)
#undef QUELTO_BOOL
};

class ManagedThreshold final : public ManagedObject, public D::IFootSwTransducerThreshold {
public:
    using ManagedObject::ManagedObject;
#define QUELTO_DOUBLE(Name)                                                                           \
    double get_##Name() const override { return Get(ThresholdInterface, u"" #Name).D; }               \
    void set_##Name(double v) override { Set(ThresholdInterface, u"" #Name, 0, v); }
    QUELTO_DOUBLE(T_A) QUELTO_DOUBLE(T_1) QUELTO_DOUBLE(T_5) QUELTO_DOUBLE(T_T)
#undef QUELTO_DOUBLE
};

#define QUELTO_NUMBER(Iface, Type, Name)                                                              \
    Type get_##Name() const override { return static_cast<Type>(Get(Iface, u"" #Name).I); }          \
    void set_##Name(Type v) override { Set(Iface, u"" #Name, static_cast<int64_t>(v)); }
#define QUELTO_OBJECT(Iface, Type, Name)                                                              \
    Runtime::Ref<D::Type> get_##Name() const override { return Adopt<Managed##Type>(Get(Iface, u"" #Name).Obj); } \
    void set_##Name(Runtime::Ref<D::Type> v) override { Set(Iface, u"" #Name, 0, 0, HandleOf(v)); }

using ManagedIFootSwTransducerEnabled = ManagedEnabled;
using ManagedIFootSwTransducerThreshold = ManagedThreshold;

class ManagedCapture final : public ManagedObject, public D::ICaptureConfiguration {
public:
    using ManagedObject::ManagedObject;
    bool get_ExternalTriggerEnabled() const override { return Get(CaptureInterface, u"ExternalTriggerEnabled").I != 0; }
    void set_ExternalTriggerEnabled(bool v) override { Set(CaptureInterface, u"ExternalTriggerEnabled", v); }
    bool get_ExternalTriggerStopDisabled() const override {
        return Get(CaptureInterface, u"ExternalTriggerStopDisabled").I != 0;
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
    QUELTO_OBJECT(CaptureInterface, IFootSwTransducerEnabled, FootSwATransducerEnabled)
    QUELTO_OBJECT(CaptureInterface, IFootSwTransducerEnabled, FootSwBTransducerEnabled)
    QUELTO_OBJECT(CaptureInterface, IFootSwTransducerThreshold, FootSwATransducerThreshold)
    QUELTO_OBJECT(CaptureInterface, IFootSwTransducerThreshold, FootSwBTransducerThreshold)

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
    int32_t get_Major() const override { return static_cast<int32_t>(Get(VersionInterface, u"Major").I); }
    int32_t get_Minor() const override { return static_cast<int32_t>(Get(VersionInterface, u"Minor").I); }
    int32_t get_Build() const override { return static_cast<int32_t>(Get(VersionInterface, u"Build").I); }
    int32_t get_Revision() const override { return static_cast<int32_t>(Get(VersionInterface, u"Revision").I); }
};

// ------------------------------------------------------------ data events

// One block: only its handle until the worker acquires it; then the scalars
// are read and the arrays are pinned views into the managed arrays, which
// stay pinned until the last view is released.
class ManagedEventArgs final : public D::DataAvailableEventArgs {
public:
    explicit ManagedEventArgs(intptr_t handle) : handle_(handle) {}
    ManagedEventArgs(const ManagedEventArgs&) = delete;
    ManagedEventArgs& operator=(const ManagedEventArgs&) = delete;
    ~ManagedEventArgs() override {
        if (handle_) Api().Release(handle_);
    }

    void Acquire() override {
        if (!handle_) return;
        struct Pins {
            Pins() = default;
            Pins(const Pins&) = delete;
            Pins& operator=(const Pins&) = delete;
            intptr_t event = 0;
            std::array<PinnedArray, EventArrayCount> arrays{};
            ~Pins() {
                Api().ReleasePins(arrays.data(), EventArrayCount);
                Api().Release(event);
            }
        };
        auto pins = std::make_shared<Pins>();
        pins->event = handle_;
        handle_ = 0;
        int64_t s[EventScalarCount] = {};
        Check(Api().ReadEvent(pins->event, s, pins->arrays.data()));
        int k = 0;
        ScanNumber = static_cast<int32_t>(s[k++]);
        RemoteControlState = static_cast<uint16_t>(s[k++]);
        auto flag = [&] { return s[k++] != 0; };
        auto number = [&] { return static_cast<int32_t>(s[k++]); };
        StartTriggerDetected = flag();
        StopTriggerDetected = flag();
        StartTriggerScan = number();
        StopTriggerScan = number();
        StartInsoleTriggerDetected = flag();
        StopInsoleTriggerDetected = flag();
        StartInsoleTriggerScan = number();
        StopInsoleTriggerScan = number();
        StartInsoleImuTriggerDetected = flag();
        StopInsoleImuTriggerDetected = flag();
        StartInsoleImuTriggerScan = number();
        StopInsoleImuTriggerScan = number();
        StartAnalogTriggerDetected = flag();
        StopAnalogTriggerDetected = flag();
        StartAnalogTriggerScan = number();
        StopAnalogTriggerScan = number();
        DataTransferRate = number();
        UsbLostPackets = number();
        UsbLowPerformance = flag();
        InsoleScanNumber = number();
        InsoleImuScanNumber = number();

        int a = 0;
        auto view = [&]<class T, int Rank>(Runtime::ArrayRef<T, Rank>& field, const char* name) {
            const PinnedArray& p = pins->arrays[a++];
            if (p.Rank == 0) return;  // null
            const auto extents = ExtentsOf<T, Rank>(
                p, std::string("A DataAvailableEventArgs array has an unexpected type: ") + name + ".");
            field = Runtime::Array<T, Rank>::View(static_cast<T*>(p.Data), extents, pins);
        };
#define QUELTO_VIEW(Name) view(Name, #Name)
        QUELTO_VIEW(EmgSamples);
        QUELTO_VIEW(ImuSamples);
        QUELTO_VIEW(AccelerometerSamples);
        QUELTO_VIEW(GyroscopeSamples);
        QUELTO_VIEW(MagnetometerSamples);
        QUELTO_VIEW(SyncSamples);
        QUELTO_VIEW(SensorStates);
        QUELTO_VIEW(FootSwSamples);
        QUELTO_VIEW(FootSwRawSamples);
        QUELTO_VIEW(FootSwSensorStates);
        QUELTO_VIEW(RemoteControlEvents);
        QUELTO_VIEW(AnalogSamples);
        QUELTO_VIEW(AnalogStates);
        QUELTO_VIEW(InsoleSamples);
        QUELTO_VIEW(InsoleImuSamples);
        QUELTO_VIEW(InsoleAccelerometerSamples);
        QUELTO_VIEW(InsoleGyroscopeSamples);
        QUELTO_VIEW(InsoleStates);
#undef QUELTO_VIEW
    }

private:
    intptr_t handle_;
};

// ------------------------------------------------------------- the device

std::mutex g_devicesMutex;
std::unordered_map<intptr_t, D::DataAvailableEventHandler> g_subscriptions;
std::unordered_set<class ManagedDevice*> g_devices;
intptr_t g_nextSubscription = 1;
bool g_unhandledFailure = false;

class ManagedDevice final : public ManagedObject, public Quelto::Interfaces::IDaqSystem {
public:
    explicit ManagedDevice(intptr_t h) : ManagedObject(h) {
        std::lock_guard lock(g_devicesMutex);
        g_devices.insert(this);
    }
    ~ManagedDevice() override {
        std::lock_guard lock(g_devicesMutex);
        g_devices.erase(this);
        for (intptr_t id : subscriptions_) g_subscriptions.erase(id);
    }

    void StartCapturing(D::DataAvailableEventPeriod period) override {
        Call(u"StartCapturing", 1, 0, static_cast<int32_t>(period));
    }
    void StopCapturing() override { Call(u"StopCapturing"); }
    void GenerateInternalStartTrigger() override { Call(u"GenerateInternalStartTrigger"); }
    void GenerateInternalStopTrigger() override { Call(u"GenerateInternalStopTrigger"); }
    void UpdateDisplay() override { Call(u"UpdateDisplay"); }
    void QL_SaveCurrentRxConfiguration() override { Call(u"QL_SaveCurrentRxConfiguration"); }
    void ConfigureCapture(const Runtime::Ref<D::ICaptureConfiguration>& c) override {
        Call(u"ConfigureCapture", 2, HandleOf(c));
    }
    void ConfigureSensor(const Runtime::Ref<D::ISensorConfiguration>& c, int32_t sensor) override {
        Call(u"ConfigureSensor", 3, HandleOf(c), sensor);
    }
    void CalibrateSensorImuOffset(int32_t sensor) override { Call(u"CalibrateSensorImuOffset", 1, 0, sensor); }
    void CalibrateGyroscopeOffset(int32_t sensor) override { Call(u"CalibrateGyroscopeOffset", 1, 0, sensor); }
    void DetectAccelerometerOffset(int32_t sensor) override { Call(u"DetectAccelerometerOffset", 1, 0, sensor); }
    void QL_CalibrateEmgOffset(int32_t sensor) override { Call(u"QL_CalibrateEmgOffset", 1, 0, sensor); }
    D::DeviceState get_State() const override {
        {
            std::lock_guard lock(g_devicesMutex);
            if (failed_) return D::DeviceState::Error;
        }
        return static_cast<D::DeviceState>(Get(DeviceInterface, u"State").I);
    }
    Runtime::Ref<D::IExtVersion> get_SoftwareVersion() const override {
        return Adopt<ManagedVersion>(Get(DeviceInterface, u"SoftwareVersion").Obj);
    }
    void add_DataAvailable(D::DataAvailableEventHandler handler) override {
        intptr_t id = 0;
        {
            std::lock_guard lock(g_devicesMutex);
            id = g_nextSubscription++;
            g_subscriptions.emplace(id, std::move(handler));
            subscriptions_.push_back(id);
        }
        Check(Api().Subscribe(HandleValue(), id));
    }
    void Dispose() override { Call(u"Dispose", 0, 0, 0, nullptr, u"System.IDisposable"); }

    void MarkFailed() { failed_ = true; }  // under g_devicesMutex

private:
    std::vector<intptr_t> subscriptions_;  // under g_devicesMutex
    bool failed_ = false;
};

// ------------------------------------------------------ configuration file

// Reads a managed ConfigurationExportBase into a native one: every array is
// copied at its own length (null stays null), the capture and sensor
// configurations stay managed objects.
class Importer {
public:
    explicit Importer(intptr_t object) : object_(object) {}

    template <class T, int Rank = 1>
    void Copy(const char16_t* name, Runtime::ArrayRef<T, Rank>& out) {
        auto view = ViewOf<T, Rank>(Field(name), name);
        if (!view) return;
        std::array<int32_t, Rank> e{};
        for (int d = 0; d < Rank; ++d) e[d] = view->GetLength(d);
        if constexpr (Rank == 1) {
            out = Runtime::NewArray<T>(e[0]);
        } else {
            out = Runtime::NewArray<T>(e[0], e[1]);
        }
        if (view->Length()) std::copy_n(view->Data(), view->Length(), out->Data());
    }

    void Texts(const char16_t* name, Runtime::ArrayRef<Runtime::String>& out) {
        Handle array(Field(name));
        if (!array.get()) return;
        out = Runtime::NewArray<Runtime::String>(Length(array.get()));
        for (int32_t i = 0; i < static_cast<int32_t>(out->Length()); ++i) {
            TextParts text;
            Check(Api().GetStringElement(array.get(), i, &text));
            if (!text.seen[1]) (*out)[i] = Runtime::Text::FromUtf8(text.part[0]);
        }
    }

    void Colors(const char16_t* name, Runtime::ArrayRef<System::Drawing::Color>& out) {
        Handle array(Field(name));
        if (!array.get()) return;
        out = Runtime::NewArray<System::Drawing::Color>(Length(array.get()));
        for (int32_t i = 0; i < static_cast<int32_t>(out->Length()); ++i) {
            Value v{};
            Check(Api().GetElement(array.get(), i, &v));
            (*out)[i] = System::Drawing::Color::FromArgb(static_cast<uint32_t>(v.I));
        }
    }

    void Sensors(const char16_t* name, Runtime::ArrayRef<Runtime::Ref<D::ISensorConfiguration>>& out) {
        Handle array(Field(name));
        if (!array.get()) return;
        out = Runtime::NewArray<Runtime::Ref<D::ISensorConfiguration>>(Length(array.get()));
        for (int32_t i = 0; i < static_cast<int32_t>(out->Length()); ++i) {
            Value v{};
            Check(Api().GetElement(array.get(), i, &v));
            (*out)[i] = Adopt<ManagedSensor>(v.Obj);
        }
    }

    intptr_t Field(const char16_t* name) {
        Value v{};
        Check(Api().GetMember(object_, nullptr, name, &v));
        return v.Obj;
    }
    double Number(const char16_t* name) {
        Value v{};
        Check(Api().GetMember(object_, nullptr, name, &v));
        return v.D;
    }

private:
    static int32_t Length(intptr_t array) {
        PinnedArray p{};
        Check(Api().Pin(array, &p));
        if (p.Pin) Api().Release(p.Pin);
        return p.Length[0];
    }
    intptr_t object_;
};

Runtime::Ref<D::ConfigurationExportBase> Import(intptr_t object) {
    Handle owner(object);
    auto out = std::make_shared<D::ConfigurationExportBase>();
    D::ConfigurationExportBase& m = *out;
    Importer in(object);
    m.CaptureConfiguration = Adopt<ManagedCapture>(in.Field(u"CaptureConfiguration"));
    in.Sensors(u"SensorConfiguration", m.SensorConfiguration);
#define QUELTO_CHANNELS(Prefix)                                                   \
    in.Copy(u"Installed" #Prefix "Channels", m.Installed##Prefix##Channels);       \
    in.Copy(u"Enabled" #Prefix "Channels", m.Enabled##Prefix##Channels);           \
    in.Texts(u"" #Prefix "ChannelName", m.Prefix##ChannelName);                    \
    in.Texts(u"" #Prefix "ChannelUnit", m.Prefix##ChannelUnit);                    \
    in.Copy(u"" #Prefix "ChannelScale", m.Prefix##ChannelScale);                   \
    in.Copy(u"" #Prefix "ChannelType", m.Prefix##ChannelType);                     \
    in.Copy(u"" #Prefix "ChannelSide", m.Prefix##ChannelSide);                     \
    in.Colors(u"" #Prefix "ChannelLineColor", m.Prefix##ChannelLineColor);         \
    in.Copy(u"" #Prefix "ChannelFullScale", m.Prefix##ChannelFullScale);
    QUELTO_CHANNELS(Efa)
    QUELTO_CHANNELS(Imu)
    QUELTO_CHANNELS(AccFswMap)
    QUELTO_CHANNELS(ImuAgm)
#undef QUELTO_CHANNELS
    in.Copy<D::ConfigurationExportBase::ChannelType, 2>(u"AnalogOutputChannelType", m.AnalogOutputChannelType);
    in.Copy<int32_t, 2>(u"AnalogOutputSensorNum", m.AnalogOutputSensorNum);
    in.Copy<int32_t, 2>(u"AnalogOutputChannelAxis", m.AnalogOutputChannelAxis);
    in.Copy(u"InstalledInsoles", m.InstalledInsoles);
    in.Copy(u"EnabledInsoles", m.EnabledInsoles);
    in.Copy(u"PlottingEnabledInsoles", m.PlottingEnabledInsoles);
    in.Texts(u"InsoleName", m.InsoleName);
    in.Texts(u"InsoleUnit", m.InsoleUnit);
    in.Copy(u"InsoleScale", m.InsoleScale);
    in.Copy(u"InsoleSide", m.InsoleSide);
    in.Copy(u"InsoleSize", m.InsoleSize);
    in.Copy(u"InsoleFullScale", m.InsoleFullScale);
    in.Copy(u"EnabledInsoleImuChannels", m.EnabledInsoleImuChannels);
    m.InsoleSampleRate_Hz = static_cast<float>(in.Number(u"InsoleSampleRate_Hz"));
    m.InsoleImuSampleRate_Hz = static_cast<float>(in.Number(u"InsoleImuSampleRate_Hz"));
    return out;
}

class ManagedReader final : public ManagedObject, public D::ICfgReader {
public:
    using ManagedObject::ManagedObject;
    Runtime::Ref<D::ConfigurationExportBase> ReadCfgFile(const Runtime::String& path) override {
        const intptr_t result = Call(u"ReadCfgFile", 4, 0, 0, path ? path->c_str() : nullptr, ReaderInterface);
        if (!result) return nullptr;
        return Import(result);
    }
};

}  // namespace

Runtime::Ref<Runtime::Object> Wrap(const std::string& className, intptr_t handle) {
    if (!handle) return nullptr;
    if (className == Quelto::DaqSystemClass) return Adopt<ManagedDevice>(handle);
    if (className == D::CaptureConfigurationClass) return Adopt<ManagedCapture>(handle);
    if (className == D::SensorConfigurationClass) return Adopt<ManagedSensor>(handle);
    if (className == D::FootSwTransducerEnabledClass) return Adopt<ManagedEnabled>(handle);
    if (className == D::FootSwTransducerThresholdClass) return Adopt<ManagedThreshold>(handle);
    if (className == D::CfgReaderClass) return Adopt<ManagedReader>(handle);
    // A native snapshot of a fresh object: its arrays have the lengths the
    // managed constructor gave them.
    if (className == D::ConfigurationExportBaseClass) return Import(handle);
    return Adopt<ManagedObject>(handle);
}

void DeliverEvent(intptr_t id, intptr_t eventArgs) noexcept {
    try {
        D::DataAvailableEventHandler handler;
        {
            std::lock_guard lock(g_devicesMutex);
            auto it = g_subscriptions.find(id);
            if (it != g_subscriptions.end()) handler = it->second;
        }
        auto e = std::make_shared<ManagedEventArgs>(eventArgs);
        if (handler) handler(nullptr, e);
    } catch (...) {
        // Out of memory: the block is lost, the SDK's thread goes on.
    }
}

void ReportUnhandled(const std::u16string& text) noexcept {
    try {
        {
            std::lock_guard lock(g_devicesMutex);
            g_unhandledFailure = true;
            for (ManagedDevice* device : g_devices) device->MarkFailed();
        }
        const std::string line =
            "Quelto.bridge: an SDK thread failed; capture has stopped: " + Runtime::Text::ToUtf8(text) + "\n";
        std::fputs(line.c_str(), stderr);
        Runtime::Debug::Write(line);
    } catch (...) {
    }
}

void ReportRuntimeThreadFailure(const std::u16string& text) noexcept {
    try {
        const std::string line =
            "Quelto.bridge: SDK code failed on the runtime's finalizer or pool thread, which goes on: " +
            Runtime::Text::ToUtf8(text) + "\n";
        std::fputs(line.c_str(), stderr);
        Runtime::Debug::Write(line);
    } catch (...) {
    }
}

void EndProcessForUncontainedFailure(const std::u16string& text) noexcept {
    try {
        const std::string line =
            "Quelto.bridge: an SDK failure passed every handler of the call that met it and cannot be returned to "
            "the host; the process ends: " +
            Runtime::Text::ToUtf8(text) + "\n";
        std::fputs(line.c_str(), stderr);
        Runtime::Debug::Write(line);
    } catch (...) {
    }
    std::abort();
}

bool UnhandledFailureSeen() {
    std::lock_guard lock(g_devicesMutex);
    return g_unhandledFailure;
}

}  // namespace Hosting::Managed
