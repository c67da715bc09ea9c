// The configuration reader of the managed backend and the configuration
// records it returns.
#include "ManagedObjects.h"

#include <algorithm>

namespace Hosting::Managed {

namespace D = Quelto::Common::Definitions;

namespace {

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
            (*out)[i] = AdoptSensor(v.Obj);
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

class ManagedReader final : public ManagedObject, public D::ICfgReader {
public:
    using ManagedObject::ManagedObject;
    Runtime::Ref<D::ConfigurationExportBase> ReadCfgFile(const Runtime::String& path) override {
        const intptr_t result = Call(ReaderInterface, u"ReadCfgFile", 4, 0, 0, path ? path->c_str() : nullptr);
        return AdoptConfiguration(result);
    }
};

}  // namespace

// A native snapshot of the managed object; for a fresh one, its arrays have
// the lengths the managed constructor gave them.
Runtime::Ref<D::ConfigurationExportBase> AdoptConfiguration(intptr_t object) {
    if (!object) return nullptr;
    Handle owner(object);
    auto out = std::make_shared<D::ConfigurationExportBase>();
    D::ConfigurationExportBase& m = *out;
    Importer in(object);
    m.CaptureConfiguration = AdoptCapture(in.Field(u"CaptureConfiguration"));
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

Runtime::Ref<D::ICfgReader> AdoptReader(intptr_t handle) { return Adopt<ManagedReader>(handle); }

}  // namespace Hosting::Managed
