// Arbitrary bytes as the configuration records, through ToManaged. The
// first byte picks the record; the rest are its bytes (texts of the export
// record are taken as lengths and bytes). Out-of-range numbers must give
// ArgumentOutOfRangeException, anything else a result.
#include "FuzzSupport.h"
#include "Quelto_ConfigurationHelpers.h"

#include <cmath>

namespace {

template <class E>
bool Above(const E& value, int max) {
    uint16_t n;
    std::memcpy(&n, &value, sizeof n);
    return n > max;
}

void Expect(const char* error, bool outOfRange, const char* record) {
    if (!outOfRange && error) Fuzz::Fail(std::string(record) + ": a valid record failed with " + error);
    if (outOfRange && (!error || std::strcmp(error, "System.ArgumentOutOfRangeException") != 0)) {
        Fuzz::Fail(std::string(record) + ": an out-of-range number gave " + (error ? error : "a result"));
    }
}

void Capture(Fuzz::Bytes& in) {
    Quelto_CaptureConfiguration native;
    in.Fill(&native, sizeof native);
    Runtime::Ref<Quelto::Common::Definitions::ICaptureConfiguration> managed;
    const char* error = Fuzz::Outcome([&] { managed = Quelto_CaptureConfigurationHelper::ToManaged(native); });
    Expect(error, Above(native.FootSwProtocol, Quelto_FootSwProtocol_Max), "capture");
    if (!managed) return;
    // Thresholds are copied bit for bit.
    const double t = managed->get_FootSwATransducerThreshold()->get_T_5();
    if (std::memcmp(&t, &native.FootSwATransducerThreshold.T_5, sizeof t) != 0) Fuzz::Fail("threshold changed");
}

void Sensor(Fuzz::Bytes& in) {
    Quelto_SensorConfiguration native;
    in.Fill(&native, sizeof native);
    Runtime::Ref<Quelto::Common::Definitions::ISensorConfiguration> managed;
    Expect(Fuzz::Outcome([&] { managed = Quelto_SensorConfigurationHelper::ToManaged(native); }), false, "sensor");
    const Quelto_SensorConfiguration back = Quelto_SensorConfigurationHelper::ToNative(managed);
    if (back.SensorModel != native.SensorModel || back.SensorMode != native.SensorMode ||
        back.AccelerometerFullScale != native.AccelerometerFullScale ||
        back.GyroscopeFullScale != native.GyroscopeFullScale) {
        Fuzz::Fail("sensor record changed on the way back");
    }
}

std::string Text(Fuzz::Bytes& in) {
    std::string s(in.Take<uint8_t>() % 24, '\0');
    in.Fill(s.data(), s.size());
    return s;
}

template <class E, size_t N>
bool AnyAbove(const E (&values)[N], int max) {
    for (const E& v : values)
        if (Above(v, max)) return true;
    return false;
}

void Export(Fuzz::Bytes& in) {
    auto native = std::make_unique<Quelto_ConfigurationExportBase>();
    Quelto_ConfigurationExportBase& r = *native;
    in.Fill(&r.CaptureConfiguration, sizeof r.CaptureConfiguration);
    in.Fill(&r.SensorConfiguration, sizeof r.SensorConfiguration);
    // The numbers of one channel kind, in the order of the record.
    auto kind = [&](bool* installed, bool* enabled, std::string* name, std::string* unit, float* scale,
                    Quelto_ChannelType* type, Quelto_ChannelSide* side, Quelto_Color* color, float* fullScale,
                    size_t n) {
        in.Fill(installed, n);
        in.Fill(enabled, n);
        for (size_t i = 0; i < n && in.Left(); ++i) {
            name[i] = Text(in);
            unit[i] = Text(in);
        }
        in.Fill(scale, n * sizeof *scale);
        in.Fill(type, n * sizeof *type);
        in.Fill(side, n * sizeof *side);
        in.Fill(color, n * sizeof *color);
        in.Fill(fullScale, n * sizeof *fullScale);
    };
#define QUELTO_FUZZ_KIND(K, n)                                                                                  \
    kind(r.Installed##K##Channels, r.Enabled##K##Channels, r.K##ChannelName, r.K##ChannelUnit, r.K##ChannelScale, \
         r.K##ChannelType, r.K##ChannelSide, r.K##ChannelLineColor, r.K##ChannelFullScale, n)
    QUELTO_FUZZ_KIND(Efa, 38);
    QUELTO_FUZZ_KIND(Imu, 38);
    QUELTO_FUZZ_KIND(AccFswMap, 38);
    QUELTO_FUZZ_KIND(ImuAgm, 114);
#undef QUELTO_FUZZ_KIND
    in.Fill(r.AnalogOutputChannelType, sizeof r.AnalogOutputChannelType);
    in.Fill(r.AnalogOutputSensorNum, sizeof r.AnalogOutputSensorNum);
    in.Fill(r.AnalogOutputChannelAxis, sizeof r.AnalogOutputChannelAxis);
    in.Fill(r.InstalledInsoles, sizeof r.InstalledInsoles);
    in.Fill(r.EnabledInsoles, sizeof r.EnabledInsoles);
    in.Fill(r.PlottingEnabledInsoles, sizeof r.PlottingEnabledInsoles);
    for (int j = 0; j < 2; ++j) {
        r.InsoleName[j] = Text(in);
        r.InsoleUnit[j] = Text(in);
    }
    in.Fill(r.InsoleScale, sizeof r.InsoleScale);
    in.Fill(r.InsoleSide, sizeof r.InsoleSide);
    in.Fill(r.InsoleSize, sizeof r.InsoleSize);
    in.Fill(r.InsoleFullScale, sizeof r.InsoleFullScale);
    in.Fill(r.EnabledInsoleImuChannels, sizeof r.EnabledInsoleImuChannels);
    r.InsoleSampleRate_Hz = in.Take<float>();
    r.InsoleImuSampleRate_Hz = in.Take<float>();

    bool outOfRange = Above(r.CaptureConfiguration.FootSwProtocol, Quelto_FootSwProtocol_Max) ||
                      AnyAbove(r.InsoleSide, Quelto_ChannelSide_Max) ||
                      AnyAbove(r.InsoleSize, Quelto_InsoleSize_Max);
    for (const auto& row : r.AnalogOutputChannelType) outOfRange |= AnyAbove(row, Quelto_ChannelType_Max);
#define QUELTO_FUZZ_CHECK(K)                                            \
    outOfRange |= AnyAbove(r.K##ChannelType, Quelto_ChannelType_Max) || \
                  AnyAbove(r.K##ChannelSide, Quelto_ChannelSide_Max)
    QUELTO_FUZZ_CHECK(Efa);
    QUELTO_FUZZ_CHECK(Imu);
    QUELTO_FUZZ_CHECK(AccFswMap);
    QUELTO_FUZZ_CHECK(ImuAgm);
#undef QUELTO_FUZZ_CHECK
    Runtime::Ref<Quelto::Common::Definitions::ConfigurationExportBase> managed;
    Expect(Fuzz::Outcome([&] { managed = Quelto_ConfigurationExportBaseHelper::ToManaged(r); }), outOfRange, "export");
    if (!managed) return;
    // Texts survive the trip unless they hold a NUL (cut there).
    // (Bytes above 0x7f depend on the locale's character set.)
    const std::string& sent = r.EfaChannelName[0];
    bool ascii = true;
    for (char c : sent) ascii &= static_cast<unsigned char>(c) < 0x80;
    const std::string name = Quelto_ConfigurationExportBaseHelper::ToStdString((*managed->EfaChannelName)[0]);
    if (ascii && name != sent.substr(0, sent.find('\0'))) {
        Fuzz::Fail("text changed: '" + sent + "' became '" + name + "'");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Fuzz::UseBuildLibraryFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz::Bytes in(data, size);
    switch (in.Take<uint8_t>() % 3) {
        case 0: Capture(in); break;
        case 1: Sensor(in); break;
        default: Export(in); break;
    }
    return 0;
}
