// The configuration reader of the managed backend and the configuration
// records it returns (or that ToManaged fills): the SDK's own objects.
#include "ManagedObjects.h"

#include <vector>

namespace Hosting::Managed {

namespace D = Quelto::Common::Definitions;

namespace {

// The managed object's fields by name.
class Fields {
public:
    explicit Fields(intptr_t object) : object_(object) {}

    intptr_t Object(const char16_t* name) const {
        Value v{};
        Check(Api().GetMember(object_, nullptr, name, &v));
        return v.Obj;
    }
    double Number(const char16_t* name) const {
        Value v{};
        Check(Api().GetMember(object_, nullptr, name, &v));
        if (v.Obj) {
            Api().Release(v.Obj);
            throw Runtime::InvalidCastException("The configuration's " + Runtime::Text::ToUtf8(name) +
                                                " is not a number.");
        }
        return v.D;
    }
    void SetObject(const char16_t* name, intptr_t handle) const {
        Check(Api().SetMember(object_, nullptr, name, 0, 0, handle));
    }
    void SetNumber(const char16_t* name, double value) const {
        Check(Api().SetMember(object_, nullptr, name, 0, value, 0));
    }

    // Elements of the array field `name`, each read or written by `each`
    // (index, array handle); nothing for a null array.
    template <class F>
    int32_t Elements(const char16_t* name, int32_t count, F&& each) const {
        Handle array(Object(name));
        if (!array.get()) return -1;
        if (count < 0) count = Length(array.get());
        for (int32_t i = 0; i < count; ++i) each(i, array.get());
        return count;
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

// A ConfigurationExportBase of the managed SDK. Its arrays of numbers, flags
// and enumerations are views of the managed object's own arrays, so writes
// reach them; its texts, colours, sensor configurations, capture
// configuration and rates are read once and written back by WriteBack.
class ManagedConfiguration final : public ManagedObject, public D::ConfigurationExportBase {
public:
    explicit ManagedConfiguration(intptr_t handle) : ManagedObject(handle), fields_(handle) {
        D::ConfigurationExportBase& m = *this;
        m.CaptureConfiguration = AdoptCapture(fields_.Object(u"CaptureConfiguration"));
        Sensors(u"SensorConfiguration", m.SensorConfiguration);
#define QUELTO_CHANNELS(Prefix)                                                     \
    View(u"Installed" #Prefix "Channels", m.Installed##Prefix##Channels);            \
    View(u"Enabled" #Prefix "Channels", m.Enabled##Prefix##Channels);                \
    Texts(u"" #Prefix "ChannelName", m.Prefix##ChannelName);                         \
    Texts(u"" #Prefix "ChannelUnit", m.Prefix##ChannelUnit);                         \
    View(u"" #Prefix "ChannelScale", m.Prefix##ChannelScale);                        \
    View(u"" #Prefix "ChannelType", m.Prefix##ChannelType);                          \
    View(u"" #Prefix "ChannelSide", m.Prefix##ChannelSide);                          \
    Colors(u"" #Prefix "ChannelLineColor", m.Prefix##ChannelLineColor);              \
    View(u"" #Prefix "ChannelFullScale", m.Prefix##ChannelFullScale);
        QUELTO_CHANNELS(Efa)
        QUELTO_CHANNELS(Imu)
        QUELTO_CHANNELS(AccFswMap)
        QUELTO_CHANNELS(ImuAgm)
#undef QUELTO_CHANNELS
        View(u"AnalogOutputChannelType", m.AnalogOutputChannelType);
        View(u"AnalogOutputSensorNum", m.AnalogOutputSensorNum);
        View(u"AnalogOutputChannelAxis", m.AnalogOutputChannelAxis);
        View(u"InstalledInsoles", m.InstalledInsoles);
        View(u"EnabledInsoles", m.EnabledInsoles);
        View(u"PlottingEnabledInsoles", m.PlottingEnabledInsoles);
        Texts(u"InsoleName", m.InsoleName);
        Texts(u"InsoleUnit", m.InsoleUnit);
        View(u"InsoleScale", m.InsoleScale);
        View(u"InsoleSide", m.InsoleSide);
        View(u"InsoleSize", m.InsoleSize);
        View(u"InsoleFullScale", m.InsoleFullScale);
        View(u"EnabledInsoleImuChannels", m.EnabledInsoleImuChannels);
        m.InsoleSampleRate_Hz = static_cast<float>(fields_.Number(u"InsoleSampleRate_Hz"));
        m.InsoleImuSampleRate_Hz = static_cast<float>(fields_.Number(u"InsoleImuSampleRate_Hz"));
    }

    void WriteBack() override {
        D::ConfigurationExportBase& m = *this;
        fields_.SetObject(u"CaptureConfiguration", HandleOf(m.CaptureConfiguration));
        if (m.SensorConfiguration) {
            fields_.Elements(u"SensorConfiguration", static_cast<int32_t>(m.SensorConfiguration->Length()),
                             [&](int32_t i, intptr_t array) {
                                 Check(Api().SetElement(array, i, 0, 0, HandleOf((*m.SensorConfiguration)[i])));
                             });
        }
#define QUELTO_CHANNELS(Prefix)                                              \
    WriteTexts(u"" #Prefix "ChannelName", m.Prefix##ChannelName);             \
    WriteTexts(u"" #Prefix "ChannelUnit", m.Prefix##ChannelUnit);             \
    WriteColors(u"" #Prefix "ChannelLineColor", m.Prefix##ChannelLineColor);
        QUELTO_CHANNELS(Efa)
        QUELTO_CHANNELS(Imu)
        QUELTO_CHANNELS(AccFswMap)
        QUELTO_CHANNELS(ImuAgm)
#undef QUELTO_CHANNELS
        WriteTexts(u"InsoleName", m.InsoleName);
        WriteTexts(u"InsoleUnit", m.InsoleUnit);
        fields_.SetNumber(u"InsoleSampleRate_Hz", m.InsoleSampleRate_Hz);
        fields_.SetNumber(u"InsoleImuSampleRate_Hz", m.InsoleImuSampleRate_Hz);
    }

private:
    template <class T, int Rank>
    void View(const char16_t* name, Runtime::ArrayRef<T, Rank>& out) {
        out = ViewOf<T, Rank>(fields_.Object(name), name);
    }

    // A native copy of the array field `name`, each element read by
    // `read(index, array handle)`; null for a null array.
    template <class T, class Read>
    void Copy(const char16_t* name, Runtime::ArrayRef<T>& out, Read&& read) {
        std::vector<T> items;
        const int32_t n = fields_.Elements(name, -1, [&](int32_t i, intptr_t array) { items.push_back(read(i, array)); });
        if (n < 0) return;
        out = Runtime::NewArray<T>(n);
        for (int32_t i = 0; i < n; ++i) (*out)[i] = std::move(items[static_cast<std::size_t>(i)]);
    }

    static Value Element(int32_t i, intptr_t array) {
        Value v{};
        Check(Api().GetElement(array, i, &v));
        return v;
    }

    void Texts(const char16_t* name, Runtime::ArrayRef<Runtime::String>& out) {
        Copy(name, out, [](int32_t i, intptr_t array) {
            TextParts text;
            Check(Api().GetStringElement(array, i, &text));
            return text.seen[1] ? Runtime::String() : Runtime::String(Runtime::Text::FromUtf8(text.part[0]));
        });
    }

    void Colors(const char16_t* name, Runtime::ArrayRef<System::Drawing::Color>& out) {
        Copy(name, out, [](int32_t i, intptr_t array) {
            return System::Drawing::Color::FromArgb(static_cast<uint32_t>(Element(i, array).I));
        });
    }

    void Sensors(const char16_t* name, Runtime::ArrayRef<Runtime::Ref<D::ISensorConfiguration>>& out) {
        Copy(name, out, [](int32_t i, intptr_t array) { return AdoptSensor(Element(i, array).Obj); });
    }

    void WriteTexts(const char16_t* name, const Runtime::ArrayRef<Runtime::String>& texts) {
        if (!texts) return;
        fields_.Elements(name, static_cast<int32_t>(texts->Length()), [&](int32_t i, intptr_t array) {
            const Runtime::String& s = (*texts)[i];
            Check(Api().SetStringElement(array, i, s ? s->c_str() : u"", s ? 0 : 1));
        });
    }

    void WriteColors(const char16_t* name, const Runtime::ArrayRef<System::Drawing::Color>& colors) {
        if (!colors) return;
        fields_.Elements(name, static_cast<int32_t>(colors->Length()), [&](int32_t i, intptr_t array) {
            const int32_t argb = static_cast<int32_t>((*colors)[i].ToArgb());
            Check(Api().SetElement(array, i, argb, 0, 0));
        });
    }

    Fields fields_;
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

Runtime::Ref<D::ConfigurationExportBase> AdoptConfiguration(intptr_t object) {
    return Adopt<ManagedConfiguration>(object);
}

Runtime::Ref<D::ICfgReader> AdoptReader(intptr_t handle) { return Adopt<ManagedReader>(handle); }

}  // namespace Hosting::Managed
