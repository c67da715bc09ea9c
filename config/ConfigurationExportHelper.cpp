#include "Quelto_ConfigurationHelpers.h"
#include "RecordBytes.h"

#include "AppDomain.h"

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace D = Quelto::Common::Definitions;
using Config::FlagByte;

namespace {

constexpr int SensorCount = QUELTO_CHANNEL_COUNT;
constexpr int ImuAgmCount = QUELTO_IMU_AGM_CHANNEL_COUNT;
constexpr int InsoleCount = QUELTO_INSOLE_COUNT;
constexpr int AnalogOutputRows = QUELTO_ANALOG_OUTPUT_COUNT;
constexpr int AnalogOutputColumns = QUELTO_ANALOG_OUTPUT_ENTRIES;

template <class T, int Rank>
Runtime::Array<T, Rank>& Arr(const Runtime::ArrayRef<T, Rank>& array) {
    return Runtime::Deref(array);
}

// SDK enumeration numbers narrowed to the record's 16 bits, unchecked.
template <class Native, class Managed>
Native Narrow(Managed value) {
    return static_cast<Native>(static_cast<uint16_t>(static_cast<int32_t>(value)));
}

Runtime::String FromText(const std::string& text) {
    return Runtime::String(Runtime::Text::FromAnsi(text.c_str()));
}

// The per-channel members shared by the Efa, Imu, AccFswMap and ImuAgm
// blocks, on both sides.
struct ManagedChannels {
    const Runtime::ArrayRef<bool>& installed;
    const Runtime::ArrayRef<bool>& enabled;
    const Runtime::ArrayRef<Runtime::String>& name;
    const Runtime::ArrayRef<Runtime::String>& unit;
    const Runtime::ArrayRef<float>& scale;
    const Runtime::ArrayRef<D::ConfigurationExportBase::ChannelType>& type;
    const Runtime::ArrayRef<D::ConfigurationExportBase::ChannelSide>& side;
    const Runtime::ArrayRef<System::Drawing::Color>& color;
    const Runtime::ArrayRef<float>& fullScale;
};

template <bool Const>
struct NativeChannels {
    template <class T>
    using P = std::conditional_t<Const, const T*, T*>;
    P<bool> installed;
    P<bool> enabled;
    P<std::string> name;
    P<std::string> unit;
    P<float> scale;
    P<Quelto_ChannelType> type;
    P<Quelto_ChannelSide> side;
    P<Quelto_Color> color;
    P<float> fullScale;
};

#define QUELTO_MANAGED_CHANNELS(m, Kind)                                                                          \
    ManagedChannels {                                                                                             \
        m.Installed##Kind##Channels, m.Enabled##Kind##Channels, m.Kind##ChannelName, m.Kind##ChannelUnit,         \
            m.Kind##ChannelScale, m.Kind##ChannelType, m.Kind##ChannelSide, m.Kind##ChannelLineColor,             \
            m.Kind##ChannelFullScale                                                                              \
    }
#define QUELTO_NATIVE_CHANNELS(r, Kind)                                                                           \
    NativeChannels<std::is_const_v<std::remove_reference_t<decltype(r)>>> {                                       \
        r.Installed##Kind##Channels, r.Enabled##Kind##Channels, r.Kind##ChannelName, r.Kind##ChannelUnit,         \
            r.Kind##ChannelScale, r.Kind##ChannelType, r.Kind##ChannelSide, r.Kind##ChannelLineColor,             \
            r.Kind##ChannelFullScale                                                                              \
    }

// Entry i, in the order installed, enabled, name, unit, scale, type, side,
// line colour, full scale.
void ChannelToNative(const ManagedChannels& m, const NativeChannels<false>& out, int i) {
    out.installed[i] = Arr(m.installed)[i];
    out.enabled[i] = Arr(m.enabled)[i];
    out.name[i] = Quelto_ConfigurationExportBaseHelper::ToStdString(Arr(m.name)[i]);
    out.unit[i] = Quelto_ConfigurationExportBaseHelper::ToStdString(Arr(m.unit)[i]);
    out.scale[i] = Arr(m.scale)[i];
    out.type[i] = Narrow<Quelto_ChannelType>(Arr(m.type)[i]);
    out.side[i] = Narrow<Quelto_ChannelSide>(Arr(m.side)[i]);
    out.color[i] = Quelto_DefinitionsHelper::ToQueltoColor(Arr(m.color)[i]);
    out.fullScale[i] = Arr(m.fullScale)[i];
}

void ChannelToManaged(const NativeChannels<true>& in, const ManagedChannels& m, int i) {
    Arr(m.installed)[i] = FlagByte(in.installed[i]);
    Arr(m.enabled)[i] = FlagByte(in.enabled[i]);
    Arr(m.name)[i] = FromText(in.name[i]);
    Arr(m.unit)[i] = FromText(in.unit[i]);
    Arr(m.scale)[i] = in.scale[i];
    Arr(m.type)[i] = Quelto_ChannelTypeHelper::ToManaged(in.type[i]);
    Arr(m.side)[i] = Quelto_ChannelSideHelper::ToManaged(in.side[i]);
    Arr(m.color)[i] = Quelto_DefinitionsHelper::ToSystemDrawingColor(in.color[i]);
    Arr(m.fullScale)[i] = in.fullScale[i];
}

}  // namespace

std::string Quelto_ConfigurationExportBaseHelper::ToStdString(const Runtime::String& text) {
    if (!text) return std::string();
    std::string ansi = Runtime::Text::ToAnsi(*text);
    ansi.resize(std::strlen(ansi.c_str()));
    return ansi;
}

void Quelto_ConfigurationExportBaseHelper::ToNative(const Runtime::Ref<D::ConfigurationExportBase>& managed,
                                                    Quelto_ConfigurationExportBase& out) {
    const D::ConfigurationExportBase& m = Runtime::Deref(managed);

    out.CaptureConfiguration = Quelto_CaptureConfigurationHelper::ToNative(m.CaptureConfiguration);

    const ManagedChannels efa = QUELTO_MANAGED_CHANNELS(m, Efa);
    const ManagedChannels imu = QUELTO_MANAGED_CHANNELS(m, Imu);
    const ManagedChannels accFswMap = QUELTO_MANAGED_CHANNELS(m, AccFswMap);
    const ManagedChannels imuAgm = QUELTO_MANAGED_CHANNELS(m, ImuAgm);
    const auto outEfa = QUELTO_NATIVE_CHANNELS(out, Efa);
    const auto outImu = QUELTO_NATIVE_CHANNELS(out, Imu);
    const auto outAccFswMap = QUELTO_NATIVE_CHANNELS(out, AccFswMap);
    const auto outImuAgm = QUELTO_NATIVE_CHANNELS(out, ImuAgm);

    for (int i = 0; i < SensorCount; ++i) {
        out.SensorConfiguration[i] = Quelto_SensorConfigurationHelper::ToNative(Arr(m.SensorConfiguration)[i]);
        ChannelToNative(efa, outEfa, i);
        ChannelToNative(imu, outImu, i);
        ChannelToNative(accFswMap, outAccFswMap, i);
    }

    for (int j = 0; j < InsoleCount; ++j) {
        out.InstalledInsoles[j] = Arr(m.InstalledInsoles)[j];
        out.EnabledInsoles[j] = Arr(m.EnabledInsoles)[j];
        // Optional in the SDK's files: without it the record keeps its zeros.
        if (m.PlottingEnabledInsoles) out.PlottingEnabledInsoles[j] = (*m.PlottingEnabledInsoles)[j];
        out.InsoleName[j] = ToStdString(Arr(m.InsoleName)[j]);
        out.InsoleUnit[j] = ToStdString(Arr(m.InsoleUnit)[j]);
        out.InsoleScale[j] = Arr(m.InsoleScale)[j];
        out.InsoleSide[j] = Narrow<Quelto_ChannelSide>(Arr(m.InsoleSide)[j]);
        out.InsoleSize[j] = Narrow<Quelto_InsoleSize>(Arr(m.InsoleSize)[j]);
        out.InsoleFullScale[j] = Arr(m.InsoleFullScale)[j];
        out.EnabledInsoleImuChannels[j] = Arr(m.EnabledInsoleImuChannels)[j];
    }

    for (int k = 0; k < ImuAgmCount; ++k) ChannelToNative(imuAgm, outImuAgm, k);

    for (int a = 0; a < AnalogOutputRows; ++a) {
        for (int b = 0; b < AnalogOutputColumns; ++b) {
            out.AnalogOutputChannelType[a][b] = Narrow<Quelto_ChannelType>(Arr(m.AnalogOutputChannelType)(a, b));
            out.AnalogOutputSensorNum[a][b] = Arr(m.AnalogOutputSensorNum)(a, b);
            out.AnalogOutputChannelAxis[a][b] = Arr(m.AnalogOutputChannelAxis)(a, b);
        }
    }

    out.InsoleSampleRate_Hz = m.InsoleSampleRate_Hz;
    out.InsoleImuSampleRate_Hz = m.InsoleImuSampleRate_Hz;
}

Runtime::Ref<D::ConfigurationExportBase> Quelto_ConfigurationExportBaseHelper::ToManaged(
    const Quelto_ConfigurationExportBase& native) {
    auto managed = Runtime::AppDomain::CurrentDomain().CreateInstance<D::ConfigurationExportBase>(
        D::CfgReaderAssemblyName, D::ConfigurationExportBaseClass);
    D::ConfigurationExportBase& m = *managed;

    m.CaptureConfiguration = Quelto_CaptureConfigurationHelper::ToManaged(native.CaptureConfiguration);

    const ManagedChannels efa = QUELTO_MANAGED_CHANNELS(m, Efa);
    const ManagedChannels imu = QUELTO_MANAGED_CHANNELS(m, Imu);
    const ManagedChannels accFswMap = QUELTO_MANAGED_CHANNELS(m, AccFswMap);
    const ManagedChannels imuAgm = QUELTO_MANAGED_CHANNELS(m, ImuAgm);
    const Quelto_ConfigurationExportBase& in = native;
    const auto inEfa = QUELTO_NATIVE_CHANNELS(in, Efa);
    const auto inImu = QUELTO_NATIVE_CHANNELS(in, Imu);
    const auto inAccFswMap = QUELTO_NATIVE_CHANNELS(in, AccFswMap);
    const auto inImuAgm = QUELTO_NATIVE_CHANNELS(in, ImuAgm);

    for (int i = 0; i < SensorCount; ++i) {
        Arr(m.SensorConfiguration)[i] = Quelto_SensorConfigurationHelper::ToManaged(native.SensorConfiguration[i]);
        ChannelToManaged(inEfa, efa, i);
        ChannelToManaged(inImu, imu, i);
        ChannelToManaged(inAccFswMap, accFswMap, i);
    }

    for (int k = 0; k < ImuAgmCount; ++k) ChannelToManaged(inImuAgm, imuAgm, k);

    for (int j = 0; j < InsoleCount; ++j) {
        Arr(m.InstalledInsoles)[j] = FlagByte(native.InstalledInsoles[j]);
        Arr(m.EnabledInsoles)[j] = FlagByte(native.EnabledInsoles[j]);
        Arr(m.PlottingEnabledInsoles)[j] = FlagByte(native.PlottingEnabledInsoles[j]);
        Arr(m.InsoleName)[j] = FromText(native.InsoleName[j]);
        Arr(m.InsoleUnit)[j] = FromText(native.InsoleUnit[j]);
        Arr(m.InsoleScale)[j] = native.InsoleScale[j];
        Arr(m.InsoleSide)[j] = Quelto_ChannelSideHelper::ToManaged(native.InsoleSide[j]);
        Arr(m.InsoleSize)[j] = Quelto_InsoleSizeHelper::ToManaged(native.InsoleSize[j]);
        Arr(m.InsoleFullScale)[j] = native.InsoleFullScale[j];
        Arr(m.EnabledInsoleImuChannels)[j] = FlagByte(native.EnabledInsoleImuChannels[j]);
    }

    for (int a = 0; a < AnalogOutputRows; ++a) {
        for (int b = 0; b < AnalogOutputColumns; ++b) {
            Arr(m.AnalogOutputChannelType)(a, b) = Quelto_ChannelTypeHelper::ToManaged(native.AnalogOutputChannelType[a][b]);
            Arr(m.AnalogOutputSensorNum)(a, b) = native.AnalogOutputSensorNum[a][b];
            Arr(m.AnalogOutputChannelAxis)(a, b) = native.AnalogOutputChannelAxis[a][b];
        }
    }

    m.InsoleSampleRate_Hz = native.InsoleSampleRate_Hz;
    m.InsoleImuSampleRate_Hz = native.InsoleImuSampleRate_Hz;
    m.WriteBack();
    return managed;
}
