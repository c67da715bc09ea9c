// Loading configuration files through the simulated reader: the sample
// files, defaults, texts, and writing followed by reading.
#include "ReaderTestSupport.h"
#include "TestPlatform.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <type_traits>

namespace D = Quelto::Common::Definitions;
using ReaderTest::Config;
using ReaderTest::Entries;
using ReaderTest::Load;
using ReaderTest::ScratchTest;
using System::Drawing::Color;

namespace {

template <class T>
int Num(T value) {
    return static_cast<int>(value);
}

template <class T, int Rank>
void ExpectSameArray(const Runtime::ArrayRef<T, Rank>& a, const Runtime::ArrayRef<T, Rank>& b, const char* field) {
    ASSERT_EQ(a == nullptr, b == nullptr) << field;
    if (!a) return;
    for (int d = 0; d < Rank; ++d) ASSERT_EQ(a->GetLength(d), b->GetLength(d)) << field;
    for (std::size_t i = 0; i < a->Length(); ++i) {
        // Bitwise for floats, so that -0.0 and 0.0 differ.
        if constexpr (std::is_same_v<T, float>) {
            EXPECT_EQ(std::bit_cast<uint32_t>(a->Data()[i]), std::bit_cast<uint32_t>(b->Data()[i])) << field << " " << i;
        } else {
            EXPECT_TRUE(a->Data()[i] == b->Data()[i]) << field << " " << i;
        }
    }
}

void ExpectSameCapture(const D::ICaptureConfiguration& a, const D::ICaptureConfiguration& b) {
    EXPECT_EQ(a.get_ExternalTriggerEnabled(), b.get_ExternalTriggerEnabled());
    EXPECT_EQ(a.get_ExternalTriggerActiveLevel(), b.get_ExternalTriggerActiveLevel());
    EXPECT_EQ(a.get_ExternalTriggerStopDisabled(), b.get_ExternalTriggerStopDisabled());
    EXPECT_EQ(a.get_ExternalEventActiveLevel(), b.get_ExternalEventActiveLevel());
    EXPECT_EQ(Num(a.get_IMU_AcqPType()), Num(b.get_IMU_AcqPType()));
    EXPECT_EQ(Num(a.get_EMG_AcqPType()), Num(b.get_EMG_AcqPType()));
    EXPECT_EQ(Num(a.get_IMU_AcqXType()), Num(b.get_IMU_AcqXType()));
    EXPECT_EQ(Num(a.get_EMG_AcqXType()), Num(b.get_EMG_AcqXType()));
    EXPECT_EQ(Num(a.get_EMG_IMU_AcqXType()), Num(b.get_EMG_IMU_AcqXType()));
    EXPECT_EQ(Num(a.get_IMU_AcqBType()), Num(b.get_IMU_AcqBType()));
    EXPECT_EQ(Num(a.get_EMG_AcqBType()), Num(b.get_EMG_AcqBType()));
    EXPECT_EQ(Num(a.get_Insole_BtAcqType()), Num(b.get_Insole_BtAcqType()));
    EXPECT_EQ(Num(a.get_Insole_RfAcqType()), Num(b.get_Insole_RfAcqType()));
    EXPECT_EQ(Num(a.get_Analog_AcqType()), Num(b.get_Analog_AcqType()));
    EXPECT_EQ(Num(a.get_Insole_RfProtocol()), Num(b.get_Insole_RfProtocol()));
    EXPECT_EQ(Num(a.get_Insole_AccelerometerFullScale()), Num(b.get_Insole_AccelerometerFullScale()));
    EXPECT_EQ(Num(a.get_Insole_GyroscopeFullScale()), Num(b.get_Insole_GyroscopeFullScale()));
    ExpectSameArray(a.get_EnabledInsole(), b.get_EnabledInsole(), "EnabledInsole");
    ExpectSameArray(a.get_EnabledAnalogChannel(), b.get_EnabledAnalogChannel(), "EnabledAnalogChannel");
    EXPECT_EQ(Num(a.get_Analog_TriggerMode()), Num(b.get_Analog_TriggerMode()));
    EXPECT_EQ(Num(a.get_Analog_VoltageFullScale()), Num(b.get_Analog_VoltageFullScale()));
    EXPECT_EQ(a.get_Analog_ChannelDelay_ms(), b.get_Analog_ChannelDelay_ms());
    const auto flags = [](const D::IFootSwTransducerEnabled& x, const D::IFootSwTransducerEnabled& y) {
        EXPECT_EQ(x.get_T_A(), y.get_T_A());
        EXPECT_EQ(x.get_T_1(), y.get_T_1());
        EXPECT_EQ(x.get_T_5(), y.get_T_5());
        EXPECT_EQ(x.get_T_T(), y.get_T_T());
    };
    const auto thresholds = [](const D::IFootSwTransducerThreshold& x, const D::IFootSwTransducerThreshold& y) {
        EXPECT_EQ(x.get_T_A(), y.get_T_A());
        EXPECT_EQ(x.get_T_1(), y.get_T_1());
        EXPECT_EQ(x.get_T_5(), y.get_T_5());
        EXPECT_EQ(x.get_T_T(), y.get_T_T());
    };
    flags(*a.get_FootSwATransducerEnabled(), *b.get_FootSwATransducerEnabled());
    flags(*a.get_FootSwBTransducerEnabled(), *b.get_FootSwBTransducerEnabled());
    thresholds(*a.get_FootSwATransducerThreshold(), *b.get_FootSwATransducerThreshold());
    thresholds(*a.get_FootSwBTransducerThreshold(), *b.get_FootSwBTransducerThreshold());
    EXPECT_EQ(Num(a.get_FootSwProtocol()), Num(b.get_FootSwProtocol()));
}

void ExpectSameConfiguration(const Config& a, const Config& b) {
    ExpectSameCapture(*a.CaptureConfiguration, *b.CaptureConfiguration);
    ASSERT_EQ(a.SensorConfiguration->Length(), b.SensorConfiguration->Length());
    for (int i = 0; i < QueltoSim::SensorCount; ++i) {
        const auto& x = *(*a.SensorConfiguration)[i];
        const auto& y = *(*b.SensorConfiguration)[i];
        EXPECT_EQ(Num(x.get_SensorModel()), Num(y.get_SensorModel())) << i;
        EXPECT_EQ(Num(x.get_SensorMode()), Num(y.get_SensorMode())) << i;
        EXPECT_EQ(Num(x.get_AccelerometerFullScale()), Num(y.get_AccelerometerFullScale())) << i;
        EXPECT_EQ(Num(x.get_GyroscopeFullScale()), Num(y.get_GyroscopeFullScale())) << i;
    }
#define SAME(Field) ExpectSameArray(a.Field, b.Field, #Field)
#define SAME_BLOCK(Kind)                  \
    SAME(Installed##Kind##Channels);      \
    SAME(Enabled##Kind##Channels);        \
    SAME(Kind##ChannelName);              \
    SAME(Kind##ChannelUnit);              \
    SAME(Kind##ChannelScale);             \
    SAME(Kind##ChannelType);              \
    SAME(Kind##ChannelSide);              \
    SAME(Kind##ChannelLineColor);         \
    SAME(Kind##ChannelFullScale)
    SAME_BLOCK(Efa);
    SAME_BLOCK(Imu);
    SAME_BLOCK(AccFswMap);
    SAME_BLOCK(ImuAgm);
    SAME(AnalogOutputChannelType);
    SAME(AnalogOutputSensorNum);
    SAME(AnalogOutputChannelAxis);
    SAME(InstalledInsoles);
    SAME(EnabledInsoles);
    SAME(PlottingEnabledInsoles);
    SAME(InsoleName);
    SAME(InsoleUnit);
    SAME(InsoleScale);
    SAME(InsoleSide);
    SAME(InsoleSize);
    SAME(InsoleFullScale);
    SAME(EnabledInsoleImuChannels);
#undef SAME_BLOCK
#undef SAME
    EXPECT_EQ(a.InsoleSampleRate_Hz, b.InsoleSampleRate_Hz);
    EXPECT_EQ(a.InsoleImuSampleRate_Hz, b.InsoleImuSampleRate_Hz);
}

// A configuration in which almost every value differs from its neighbours
// and from the default, with awkward floats and texts mixed in.
Runtime::Ref<Config> PatternedConfiguration() {
    TestSupport::UseBuildLibraryFolder();
    auto c = QueltoSim::NewConfigurationExport(Runtime::AppDomain::CurrentDomain());
    auto& cap = *c->CaptureConfiguration;
    cap.set_ExternalTriggerEnabled(true);
    cap.set_ExternalTriggerActiveLevel(std::numeric_limits<int32_t>::min());
    cap.set_ExternalEventActiveLevel(std::numeric_limits<int32_t>::max());
    cap.set_EMG_IMU_AcqXType(D::EmgImuAcqXType{-7});
    cap.set_Insole_GyroscopeFullScale(D::GyroscopeFullScale{2000});
    (*cap.get_EnabledInsole())[1] = true;
    (*cap.get_EnabledAnalogChannel())[31] = true;
    cap.set_Analog_ChannelDelay_ms(4294967295u);
    cap.get_FootSwBTransducerEnabled()->set_T_5(true);
    cap.get_FootSwATransducerThreshold()->set_T_1(0.1);
    cap.get_FootSwBTransducerThreshold()->set_T_T(-1e300);
    cap.set_FootSwProtocol(D::FootSwProtocol{2});
    for (int i = 0; i < QueltoSim::SensorCount; ++i) {
        auto& s = *(*c->SensorConfiguration)[i];
        s.set_SensorModel(D::SensorModel{i * 3 - 50});
        s.set_SensorMode(D::SensorMode{i == 0 ? 65535 : i});
        s.set_AccelerometerFullScale(D::AccelerometerFullScale{i + 100});
        s.set_GyroscopeFullScale(D::GyroscopeFullScale{i + 200});
    }
    const float awkward[] = {0.1f, -0.0f, FLT_MAX, -FLT_MAX, FLT_MIN, FLT_TRUE_MIN, 1.0f / 3.0f, 16777217.0f};
    const auto fill = [&](int n, int seed, auto& installed, auto& enabled, auto& name, auto& unit, auto& scale,
                          auto& type, auto& side, auto& color, auto& fullScale) {
        for (int i = 0; i < n; ++i) {
            (*installed)[i] = (i + seed) % 2 == 0;
            (*enabled)[i] = (i + seed) % 3 == 0;
            if (i % 5 != 4) (*name)[i] = Runtime::Text::FromUtf8("Kanal " + std::to_string(seed) + "/" + std::to_string(i) + " é");
            if (i % 7 != 0) (*unit)[i] = std::u16string(static_cast<std::size_t>(i % 4), u'\u00b5');
            (*scale)[i] = awkward[static_cast<std::size_t>(i + seed) % std::size(awkward)];
            (*type)[i] = D::ConfigurationExportBase::ChannelType{(i + seed) % 11};
            (*side)[i] = D::ConfigurationExportBase::ChannelSide{(i + seed) % 3};
            (*color)[i] = Color::FromArgb(static_cast<uint32_t>(i * 2654435761u + static_cast<unsigned>(seed)));
            (*fullScale)[i] = static_cast<float>(i * seed) * 0.25f;
        }
    };
    fill(38, 1, c->InstalledEfaChannels, c->EnabledEfaChannels, c->EfaChannelName, c->EfaChannelUnit,
         c->EfaChannelScale, c->EfaChannelType, c->EfaChannelSide, c->EfaChannelLineColor, c->EfaChannelFullScale);
    fill(38, 2, c->InstalledImuChannels, c->EnabledImuChannels, c->ImuChannelName, c->ImuChannelUnit,
         c->ImuChannelScale, c->ImuChannelType, c->ImuChannelSide, c->ImuChannelLineColor, c->ImuChannelFullScale);
    fill(38, 3, c->InstalledAccFswMapChannels, c->EnabledAccFswMapChannels, c->AccFswMapChannelName,
         c->AccFswMapChannelUnit, c->AccFswMapChannelScale, c->AccFswMapChannelType, c->AccFswMapChannelSide,
         c->AccFswMapChannelLineColor, c->AccFswMapChannelFullScale);
    fill(114, 4, c->InstalledImuAgmChannels, c->EnabledImuAgmChannels, c->ImuAgmChannelName, c->ImuAgmChannelUnit,
         c->ImuAgmChannelScale, c->ImuAgmChannelType, c->ImuAgmChannelSide, c->ImuAgmChannelLineColor,
         c->ImuAgmChannelFullScale);
    (*c->EfaChannelName)[0] = std::u16string(u"a\0b", 3);
    (*c->EfaChannelName)[1] = std::u16string(5000, u'x');
    (*c->EfaChannelName)[2] = u"\U0001F600 \u7B4B\u8089";
    for (int a = 0; a < 2; ++a) {
        for (int b = 0; b < 40; ++b) {
            (*c->AnalogOutputChannelType)(a, b) = D::ConfigurationExportBase::ChannelType{(a * 40 + b) % 11};
            (*c->AnalogOutputSensorNum)(a, b) = a * 100 + b;
            (*c->AnalogOutputChannelAxis)(a, b) = -(a * 100 + b);
        }
    }
    for (int j = 0; j < 2; ++j) {
        (*c->InstalledInsoles)[j] = j == 0;
        (*c->EnabledInsoles)[j] = j == 1;
        (*c->PlottingEnabledInsoles)[j] = true;
        (*c->InsoleName)[j] = j == 0 ? Runtime::String(u"Sohle links") : Runtime::String();
        (*c->InsoleUnit)[j] = u"N";
        (*c->InsoleScale)[j] = 0.5f + static_cast<float>(j);
        (*c->InsoleSide)[j] = D::ConfigurationExportBase::ChannelSide{j + 1};
        (*c->InsoleSize)[j] = D::InsoleSize{j * 4};
        (*c->InsoleFullScale)[j] = 1e-30f;
        (*c->EnabledInsoleImuChannels)[j] = j == 0;
    }
    c->InsoleSampleRate_Hz = 100.5f;
    c->InsoleImuSampleRate_Hz = 0.001f;
    return c;
}

}  // namespace

// ------------------------------------------------------------ sample files

TEST(ReaderSamples, EverySampleFileLoads) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(ReaderTest::SampleFile(""))) {
        if (entry.path().extension() != ".json") continue;
        ++files;
        SCOPED_TRACE(entry.path().string());
        const auto c = ReaderTest::Load(entry.path().string());
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->EfaChannelName->Length(), 38u);
    }
    EXPECT_GE(files, 2);
}

TEST(ReaderSamples, PartialMixedSampleDescribesEverySensorInsoleAndOutput) {
    const auto c = ReaderTest::Load(ReaderTest::SampleFile("partial-mixed.json"));
    EXPECT_EQ((*c->EfaChannelName)[0], u"Tibialis anterior L");
    EXPECT_EQ((*c->EfaChannelName)[37], u"Biceps brachii R");
    EXPECT_EQ((*c->EfaChannelUnit)[20], u"mV");
    EXPECT_EQ(Num((*c->EfaChannelSide)[0]), 1);
    EXPECT_EQ(Num((*c->EfaChannelSide)[37]), 2);
    EXPECT_EQ((*c->EfaChannelLineColor)[0], Color::FromArgb(0xFFE6194Bu));
    EXPECT_EQ((*c->ImuChannelLineColor)[0], Color::FromArgb(0xC0E6194Bu));
    EXPECT_TRUE((*c->InstalledEfaChannels)[15]);
    EXPECT_FALSE((*c->InstalledEfaChannels)[16]);
    EXPECT_EQ((*c->EfaChannelFullScale)[3], 5.0f);
    EXPECT_EQ((*c->AccFswMapChannelName)[36], u"Foot switch L");
    EXPECT_EQ((*c->AccFswMapChannelScale)[0], 0.001f);
    EXPECT_EQ((*c->ImuAgmChannelName)[113], u"Biceps brachii R Mag");
    EXPECT_EQ((*c->ImuAgmChannelUnit)[1], u"deg/s");
    EXPECT_EQ(Num((*c->ImuAgmChannelType)[2]), 8);
    EXPECT_EQ((*c->InsoleName)[1], u"Insole R");
    EXPECT_EQ(Num((*c->InsoleSize)[0]), 2);
    ASSERT_NE(c->PlottingEnabledInsoles, nullptr);
    EXPECT_TRUE((*c->PlottingEnabledInsoles)[0]);
    EXPECT_FALSE((*c->PlottingEnabledInsoles)[1]);
    EXPECT_EQ((*c->AnalogOutputSensorNum)(0, 15), 16);
    EXPECT_EQ((*c->AnalogOutputSensorNum)(1, 23), 8);
    EXPECT_EQ((*c->AnalogOutputChannelAxis)(1, 23), 2);
    EXPECT_EQ(Num((*c->AnalogOutputChannelType)(1, 24)), 0);
    EXPECT_EQ(c->InsoleSampleRate_Hz, 100.0f);
    EXPECT_EQ(c->InsoleImuSampleRate_Hz, 50.0f);
    const auto& cap = *c->CaptureConfiguration;
    EXPECT_TRUE(cap.get_ExternalTriggerEnabled());
    EXPECT_EQ(Num(cap.get_EMG_IMU_AcqXType()), 3);
    EXPECT_TRUE((*cap.get_EnabledAnalogChannel())[3]);
    EXPECT_FALSE((*cap.get_EnabledAnalogChannel())[4]);
    EXPECT_EQ(cap.get_Analog_ChannelDelay_ms(), 12u);
    EXPECT_FALSE(cap.get_FootSwBTransducerEnabled()->get_T_1());
    EXPECT_EQ(cap.get_FootSwATransducerThreshold()->get_T_T(), 0.5);
    EXPECT_EQ(Num(cap.get_FootSwProtocol()), 1);
    EXPECT_EQ(Num((*c->SensorConfiguration)[7]->get_SensorMode()), 3);
    EXPECT_EQ(Num((*c->SensorConfiguration)[8]->get_SensorMode()), 1);
}

// ---------------------------------------------------------------- defaults

class ReaderDefaults : public ScratchTest {};

TEST_F(ReaderDefaults, MinimalFileGivesFreshValuesWithFixedLengths) {
    const auto c = Load(ReaderTest::SampleFile("minimal.json"));
    ASSERT_NE(c->CaptureConfiguration, nullptr);
    const auto& cap = *c->CaptureConfiguration;
    EXPECT_FALSE(cap.get_ExternalTriggerEnabled());
    EXPECT_EQ(Num(cap.get_FootSwProtocol()), 0);
    EXPECT_EQ(cap.get_EnabledInsole()->Length(), 2u);
    EXPECT_EQ(cap.get_EnabledAnalogChannel()->Length(), 32u);
    ASSERT_NE(cap.get_FootSwATransducerEnabled(), nullptr);
    ASSERT_NE(cap.get_FootSwBTransducerThreshold(), nullptr);
    EXPECT_EQ(cap.get_FootSwBTransducerThreshold()->get_T_A(), 0.0);
    ASSERT_EQ(c->SensorConfiguration->Length(), 38u);
    for (int i = 0; i < 38; ++i) ASSERT_NE((*c->SensorConfiguration)[i], nullptr) << i;
    EXPECT_NE((*c->SensorConfiguration)[0], (*c->SensorConfiguration)[1]);  // one object per sensor
    EXPECT_EQ(c->EfaChannelName->Length(), 38u);
    EXPECT_EQ(c->ImuChannelScale->Length(), 38u);
    EXPECT_EQ(c->AccFswMapChannelLineColor->Length(), 38u);
    EXPECT_EQ(c->ImuAgmChannelName->Length(), 114u);
    EXPECT_EQ(c->InsoleName->Length(), 2u);
    EXPECT_EQ(c->AnalogOutputSensorNum->GetLength(0), 2);
    EXPECT_EQ(c->AnalogOutputSensorNum->GetLength(1), 40);
    EXPECT_FALSE((*c->EfaChannelName)[5].has_value());
    EXPECT_FALSE((*c->InstalledImuAgmChannels)[113]);
    EXPECT_EQ((*c->ImuChannelLineColor)[0], Color());
    ASSERT_NE(c->PlottingEnabledInsoles, nullptr);
    EXPECT_FALSE((*c->PlottingEnabledInsoles)[1]);
    EXPECT_EQ(c->InsoleSampleRate_Hz, 0.0f);

    // An empty object is just as valid as the sample.
    const auto empty = Load(WriteFile("empty-object.json", "{}"));
    ExpectSameConfiguration(*c, *empty);
}

TEST_F(ReaderDefaults, KeysLeftOutOfAnEntryKeepTheirDefaults) {
    const auto c = Load(WriteFile("partial.json", R"({"EfaChannels": )" +
                                                      Entries(38, 4, R"({"Name": "Soleus", "LineColor": "#102030"})") +
                                                      R"(, "Insoles": [{}, {"Size": 4}]})"));
    EXPECT_EQ((*c->EfaChannelName)[4], u"Soleus");
    EXPECT_EQ((*c->EfaChannelLineColor)[4], Color::FromArgb(255, 0x10, 0x20, 0x30));
    EXPECT_FALSE((*c->EfaChannelUnit)[4].has_value());
    EXPECT_EQ((*c->EfaChannelScale)[4], 0.0f);
    EXPECT_FALSE((*c->EfaChannelName)[3].has_value());
    EXPECT_EQ(Num((*c->InsoleSize)[1]), 4);
    EXPECT_EQ(Num((*c->InsoleSize)[0]), 0);
}

TEST_F(ReaderDefaults, CommentsAndByteOrderMarkAreAccepted) {
    const auto c = Load(WriteFile("commented.json", "\xEF\xBB\xBF// hand-edited\n{ /* rate */ \"InsoleSampleRate_Hz\": 25 }"));
    EXPECT_EQ(c->InsoleSampleRate_Hz, 25.0f);
}

// ------------------------------------------------------------------ texts

class ReaderTexts : public ScratchTest {};

TEST_F(ReaderTexts, LongNonAsciiNullAndEmptyTextsArriveAsUtf16) {
    const std::string longName(10000, 'n');
    const std::string insoles = R"({"Insoles": [{"Name": ")" + longName + R"(", "Unit": ""}, )" +
                                R"({"Name": "Músculo \u00e9 筋肉 😀", "Unit": null}]})";
    const auto c = Load(WriteFile("texts.json", insoles));
    EXPECT_EQ((*c->InsoleName)[0], std::u16string(10000, u'n'));
    EXPECT_EQ((*c->InsoleName)[1], u"M\u00fasculo \u00e9 \u7B4B\u8089 \U0001F600");
    ASSERT_TRUE((*c->InsoleUnit)[0].has_value());
    EXPECT_TRUE((*c->InsoleUnit)[0]->empty());
    EXPECT_FALSE((*c->InsoleUnit)[1].has_value());
}

TEST_F(ReaderTexts, EscapedNulStaysInsideTheText) {
    const auto c = Load(WriteFile("escaped_nul.json", R"({"Insoles": [{"Name": "left\u0000hidden"}, {}]})"));
    EXPECT_EQ((*c->InsoleName)[0], std::u16string(u"left\0hidden", 11));
}

// ------------------------------------------------------- plotting insoles

class ReaderPlotting : public ScratchTest {};

TEST_F(ReaderPlotting, NullInBothInsolesGivesNullArrayAndKeepsTheRest) {
    const auto c = Load(WriteFile("plotting.json", R"({"Insoles": [
        {"Installed": true, "PlottingEnabled": null, "Name": "L"},
        {"Enabled": true, "PlottingEnabled": null, "Name": "R"}]})"));
    EXPECT_EQ(c->PlottingEnabledInsoles, nullptr);
    EXPECT_TRUE((*c->InstalledInsoles)[0]);
    EXPECT_TRUE((*c->EnabledInsoles)[1]);
    EXPECT_EQ((*c->InsoleName)[1], u"R");
}

TEST_F(ReaderPlotting, NullInOneInsoleOnlyIsRejected) {
    for (const char* text : {R"({"Insoles": [{"PlottingEnabled": null}, {"PlottingEnabled": true}]})",
                             R"({"Insoles": [{"PlottingEnabled": false}, {"PlottingEnabled": null}]})",
                             R"({"Insoles": [{"PlottingEnabled": null}, {}]})"}) {
        SCOPED_TRACE(text);
        const std::string path = WriteFile("mixed.json", text);
        const auto caught = ReaderTest::CatchFrom([&] { Load(path); });
        EXPECT_EQ(caught.type, "System.FormatException");
        EXPECT_NE(caught.message.find("Insoles[1].PlottingEnabled"), std::string::npos) << caught.message;
    }
}

// --------------------------------------------------------------- writing

class ReaderRoundTrip : public ScratchTest {};

TEST_F(ReaderRoundTrip, WrittenConfigurationReadsBackEqual) {
    const auto original = PatternedConfiguration();
    const std::string path = PathIn("patterned.json");
    QueltoSim::WriteConfigFile(path, *original);
    const auto again = Load(path);
    ExpectSameConfiguration(*original, *again);
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

    original->PlottingEnabledInsoles = nullptr;
    QueltoSim::WriteConfigFile(path, *original);
    EXPECT_EQ(Load(path)->PlottingEnabledInsoles, nullptr);
}

TEST_F(ReaderRoundTrip, CompleteSampleSurvivesWriteAndRead) {
    const auto sample = Load(ReaderTest::SampleFile("complete.json"));
    const std::string path = PathIn("complete-again.json");
    QueltoSim::WriteConfigFile(path, *sample);
    ExpectSameConfiguration(*sample, *Load(path));
    // Floats are written in their shortest form.
    const std::string text = QueltoSim::ToConfigText(*sample);
    EXPECT_NE(text.find("\"Scale\":0.001,"), std::string::npos) << text.substr(0, 2000);
}

TEST_F(ReaderRoundTrip, WriterRejectsWhatTheReaderWouldRejectAndLeavesTheFile) {
    const std::string path = PathIn("kept.json");
    QueltoSim::WriteConfigFile(path, *PatternedConfiguration());
    const auto before = std::filesystem::file_size(path);

    struct Case {
        const char* what;
        std::function<void(Config&)> spoil;
        const char* type;
        const char* named;
    };
    const Case cases[] = {
        {"channel type 11", [](Config& c) { (*c.EfaChannelType)[3] = Config::ChannelType{11}; },
         "System.ArgumentOutOfRangeException", "EfaChannels[3].Type"},
        {"insole size 5", [](Config& c) { (*c.InsoleSize)[1] = D::InsoleSize{5}; },
         "System.ArgumentOutOfRangeException", "Insoles[1].Size"},
        {"NaN scale", [](Config& c) { (*c.ImuAgmChannelScale)[113] = std::nanf(""); },
         "System.ArgumentOutOfRangeException", "ImuAgmChannels[113].Scale"},
        {"foot-switch protocol 3", [](Config& c) { c.CaptureConfiguration->set_FootSwProtocol(D::FootSwProtocol{3}); },
         "System.ArgumentOutOfRangeException", "CaptureConfiguration.FootSwProtocol"},
        {"short name array", [](Config& c) { c.EfaChannelName = Runtime::NewArray<Runtime::String>(37); },
         "System.ArgumentException", "EfaChannelName"},
        {"null analog table", [](Config& c) { c.AnalogOutputSensorNum = nullptr; }, "System.ArgumentException",
         "AnalogOutputSensorNum"},
        {"null sensor", [](Config& c) { (*c.SensorConfiguration)[9] = nullptr; }, "System.ArgumentException",
         "SensorConfiguration[9]"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        auto c = PatternedConfiguration();
        k.spoil(*c);
        const auto caught = ReaderTest::CatchFrom([&] { QueltoSim::WriteConfigFile(path, *c); });
        EXPECT_EQ(caught.type, k.type);
        EXPECT_NE(caught.message.find(k.named), std::string::npos) << caught.message;
        EXPECT_EQ(std::filesystem::file_size(path), before);
    }

    const auto caught = ReaderTest::CatchFrom(
        [&] { QueltoSim::WriteConfigFile(PathIn("no/such/folder/x.json"), *PatternedConfiguration()); });
    EXPECT_EQ(caught.type, "System.IO.IOException");
    EXPECT_NE(caught.message.find("no/such/folder/x.json"), std::string::npos) << caught.message;
}

TEST(ReaderRxConfigPath, EnvironmentVariableWinsOverTheLibraryFolder) {
#ifdef _WIN32
    const std::string beside = "/opt/quelto/lib\\Quelto.rxconfig.json";
#else
    const std::string beside = "/opt/quelto/lib/Quelto.rxconfig.json";
#endif
    TestPlatform::UnsetEnv("QUELTO_SIM_RXCONFIG");
    EXPECT_EQ(QueltoSim::RxConfigPath("/opt/quelto/lib"), beside);
    TestPlatform::SetEnv("QUELTO_SIM_RXCONFIG", "");
    EXPECT_EQ(QueltoSim::RxConfigPath("/opt/quelto/lib"), beside);
    TestPlatform::SetEnv("QUELTO_SIM_RXCONFIG", "/tmp/saved.json");
    EXPECT_EQ(QueltoSim::RxConfigPath("/opt/quelto/lib"), "/tmp/saved.json");
    TestPlatform::UnsetEnv("QUELTO_SIM_RXCONFIG");
}
