// Shared builders and comparisons of the configuration tests.
#pragma once

#include "ConfigurationClasses.h"
#include "Quelto_ConfigurationHelpers.h"
#include "SdkTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

namespace ConfigTest {

namespace D = Quelto::Common::Definitions;
namespace R = PellimorCfgReader::Definitions;

template <class T>
std::array<unsigned char, sizeof(T)> BytesOf(const T& value) {
    std::array<unsigned char, sizeof(T)> bytes;
    std::memcpy(bytes.data(), &value, sizeof(T));
    return bytes;
}

// Stores a raw byte where a record keeps a bool, as a C host may.
inline void PokeByte(bool& field, unsigned char byte) { std::memcpy(&field, &byte, 1); }

inline std::u16string U16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

struct ExportShape {
    int efaNames = 38;
    bool plottingEnabled = true;
};

// A reader result with distinct, in-range values in every mapped field.
inline Runtime::Ref<D::ConfigurationExportBase> FilledExport(const ExportShape& shape = {}) {
    auto m = std::make_shared<D::ConfigurationExportBase>();
    auto capture = std::make_shared<QueltoSim::CaptureConfiguration>();
    capture->set_ExternalTriggerActiveLevel(3);
    capture->set_EMG_AcqXType(D::EmgAcqXType{7});
    (*capture->get_EnabledInsole())[1] = true;
    capture->set_FootSwProtocol(D::FootSwProtocol{2});
    m->CaptureConfiguration = capture;

    m->SensorConfiguration = Runtime::NewArray<Runtime::Ref<D::ISensorConfiguration>>(38);
    for (int i = 0; i < 38; ++i) {
        auto s = std::make_shared<QueltoSim::SensorConfiguration>();
        s->set_SensorModel(D::SensorModel{i + 1});
        s->set_SensorMode(D::SensorMode{i * 3});
        (*m->SensorConfiguration)[i] = s;
    }

    auto fill = [](auto& installed, auto& enabled, auto& name, auto& unit, auto& scale, auto& type, auto& side,
                   auto& color, auto& fullScale, int n, int nameCount, const std::string& kind) {
        installed = Runtime::NewArray<bool>(n);
        enabled = Runtime::NewArray<bool>(n);
        name = Runtime::NewArray<Runtime::String>(nameCount);
        unit = Runtime::NewArray<Runtime::String>(n);
        scale = Runtime::NewArray<float>(n);
        type = Runtime::NewArray<R::ChannelType>(n);
        side = Runtime::NewArray<R::ChannelSide>(n);
        color = Runtime::NewArray<System::Drawing::Color>(n);
        fullScale = Runtime::NewArray<float>(n);
        for (int i = 0; i < n; ++i) {
            (*installed)[i] = i % 2 == 0;
            (*enabled)[i] = i % 3 == 0;
            (*unit)[i] = U16("u" + std::to_string(i));
            (*scale)[i] = 0.5f + static_cast<float>(i);
            (*type)[i] = R::ChannelType{i % 11};
            (*side)[i] = R::ChannelSide{i % 3};
            (*color)[i] = System::Drawing::Color::FromArgb(static_cast<uint32_t>(0x80102030u + i));
            (*fullScale)[i] = -1.25f * static_cast<float>(i);
        }
        for (int i = 0; i < nameCount; ++i) (*name)[i] = U16(kind + " channel name number " + std::to_string(i));
    };
    fill(m->InstalledEfaChannels, m->EnabledEfaChannels, m->EfaChannelName, m->EfaChannelUnit, m->EfaChannelScale,
         m->EfaChannelType, m->EfaChannelSide, m->EfaChannelLineColor, m->EfaChannelFullScale, 38, shape.efaNames,
         "Efa");
    fill(m->InstalledImuChannels, m->EnabledImuChannels, m->ImuChannelName, m->ImuChannelUnit, m->ImuChannelScale,
         m->ImuChannelType, m->ImuChannelSide, m->ImuChannelLineColor, m->ImuChannelFullScale, 38, 38, "Imu");
    fill(m->InstalledAccFswMapChannels, m->EnabledAccFswMapChannels, m->AccFswMapChannelName,
         m->AccFswMapChannelUnit, m->AccFswMapChannelScale, m->AccFswMapChannelType, m->AccFswMapChannelSide,
         m->AccFswMapChannelLineColor, m->AccFswMapChannelFullScale, 38, 38, "AccFswMap");
    fill(m->InstalledImuAgmChannels, m->EnabledImuAgmChannels, m->ImuAgmChannelName, m->ImuAgmChannelUnit,
         m->ImuAgmChannelScale, m->ImuAgmChannelType, m->ImuAgmChannelSide, m->ImuAgmChannelLineColor,
         m->ImuAgmChannelFullScale, 114, 114, "ImuAgm");

    m->AnalogOutputChannelType = Runtime::NewArray<R::ChannelType>(2, 40);
    m->AnalogOutputSensorNum = Runtime::NewArray<int32_t>(2, 40);
    m->AnalogOutputChannelAxis = Runtime::NewArray<int32_t>(2, 40);
    for (int a = 0; a < 2; ++a) {
        for (int b = 0; b < 40; ++b) {
            (*m->AnalogOutputChannelType)(a, b) = R::ChannelType{(a * 40 + b) % 11};
            (*m->AnalogOutputSensorNum)(a, b) = a * 100 + b;
            (*m->AnalogOutputChannelAxis)(a, b) = -(a * 1000 + b);
        }
    }

    m->InstalledInsoles = Runtime::NewArray<bool>(2);
    m->EnabledInsoles = Runtime::NewArray<bool>(2);
    if (shape.plottingEnabled) m->PlottingEnabledInsoles = Runtime::NewArray<bool>(2);
    m->InsoleName = Runtime::NewArray<Runtime::String>(2);
    m->InsoleUnit = Runtime::NewArray<Runtime::String>(2);
    m->InsoleScale = Runtime::NewArray<float>(2);
    m->InsoleSide = Runtime::NewArray<R::ChannelSide>(2);
    m->InsoleSize = Runtime::NewArray<D::InsoleSize>(2);
    m->InsoleFullScale = Runtime::NewArray<float>(2);
    m->EnabledInsoleImuChannels = Runtime::NewArray<bool>(2);
    for (int j = 0; j < 2; ++j) {
        (*m->InstalledInsoles)[j] = true;
        (*m->EnabledInsoles)[j] = j == 1;
        if (m->PlottingEnabledInsoles) (*m->PlottingEnabledInsoles)[j] = true;
        (*m->InsoleName)[j] = U16(j == 0 ? "Left insole with a long name" : "R");
        (*m->InsoleUnit)[j] = U16("N/cm2");
        (*m->InsoleScale)[j] = 0.1f * static_cast<float>(j + 1);
        (*m->InsoleSide)[j] = R::ChannelSide{j + 1};
        (*m->InsoleSize)[j] = D::InsoleSize{j + 3};
        (*m->InsoleFullScale)[j] = 60.0f + static_cast<float>(j);
        (*m->EnabledInsoleImuChannels)[j] = j == 0;
    }
    m->InsoleSampleRate_Hz = 100.0f;
    m->InsoleImuSampleRate_Hz = 50.0f;
    return m;
}

inline std::string Ansi(const Runtime::String& s) { return s ? Runtime::Text::ToAnsi(*s) : std::string(); }

// Every mapped field of `m` against the record, over the record's fixed
// counts (texts compared as ANSI text).
inline void ExpectMatches(const D::ConfigurationExportBase& m, const Quelto_ConfigurationExportBase& r) {
    EXPECT_EQ(BytesOf(Quelto_CaptureConfigurationHelper::ToNative(m.CaptureConfiguration)),
              BytesOf(r.CaptureConfiguration));
    for (int i = 0; i < 38; ++i) {
        EXPECT_EQ(BytesOf(Quelto_SensorConfigurationHelper::ToNative((*m.SensorConfiguration)[i])),
                  BytesOf(r.SensorConfiguration[i]))
            << "sensor " << i;
    }
    auto block = [](const auto& inst, const auto& en, const auto& name, const auto& unit, const auto& scale,
                    const auto& type, const auto& side, const auto& color, const auto& full, const bool* rInst,
                    const bool* rEn, const std::string* rName, const std::string* rUnit, const float* rScale,
                    const Quelto_ChannelType* rType, const Quelto_ChannelSide* rSide, const Quelto_Color* rColor,
                    const float* rFull, int n, const char* kind) {
        for (int i = 0; i < n; ++i) {
            SCOPED_TRACE(std::string(kind) + " entry " + std::to_string(i));
            EXPECT_EQ((*inst)[i], rInst[i]);
            EXPECT_EQ((*en)[i], rEn[i]);
            EXPECT_EQ(Ansi((*name)[i]), rName[i]);
            EXPECT_EQ(Ansi((*unit)[i]), rUnit[i]);
            EXPECT_EQ(BytesOf((*scale)[i]), BytesOf(rScale[i]));
            EXPECT_EQ(static_cast<uint16_t>(static_cast<int32_t>((*type)[i])), rType[i]);
            EXPECT_EQ(static_cast<uint16_t>(static_cast<int32_t>((*side)[i])), rSide[i]);
            EXPECT_EQ(BytesOf(Quelto_DefinitionsHelper::ToQueltoColor((*color)[i])), BytesOf(rColor[i]));
            EXPECT_EQ(BytesOf((*full)[i]), BytesOf(rFull[i]));
        }
    };
#define QUELTO_BLOCK(Kind, n)                                                                                     \
    block(m.Installed##Kind##Channels, m.Enabled##Kind##Channels, m.Kind##ChannelName, m.Kind##ChannelUnit,       \
          m.Kind##ChannelScale, m.Kind##ChannelType, m.Kind##ChannelSide, m.Kind##ChannelLineColor,               \
          m.Kind##ChannelFullScale, r.Installed##Kind##Channels, r.Enabled##Kind##Channels, r.Kind##ChannelName, \
          r.Kind##ChannelUnit, r.Kind##ChannelScale, r.Kind##ChannelType, r.Kind##ChannelSide,                   \
          r.Kind##ChannelLineColor, r.Kind##ChannelFullScale, n, #Kind)
    QUELTO_BLOCK(Efa, 38);
    QUELTO_BLOCK(Imu, 38);
    QUELTO_BLOCK(AccFswMap, 38);
    QUELTO_BLOCK(ImuAgm, 114);
#undef QUELTO_BLOCK
    for (int a = 0; a < 2; ++a) {
        for (int b = 0; b < 40; ++b) {
            SCOPED_TRACE("analog output " + std::to_string(a) + "," + std::to_string(b));
            EXPECT_EQ(static_cast<uint16_t>(static_cast<int32_t>((*m.AnalogOutputChannelType)(a, b))),
                      r.AnalogOutputChannelType[a][b]);
            EXPECT_EQ((*m.AnalogOutputSensorNum)(a, b), r.AnalogOutputSensorNum[a][b]);
            EXPECT_EQ((*m.AnalogOutputChannelAxis)(a, b), r.AnalogOutputChannelAxis[a][b]);
        }
    }
    for (int j = 0; j < 2; ++j) {
        SCOPED_TRACE("insole " + std::to_string(j));
        EXPECT_EQ((*m.InstalledInsoles)[j], r.InstalledInsoles[j]);
        EXPECT_EQ((*m.EnabledInsoles)[j], r.EnabledInsoles[j]);
        EXPECT_EQ(m.PlottingEnabledInsoles && (*m.PlottingEnabledInsoles)[j], r.PlottingEnabledInsoles[j]);
        EXPECT_EQ(Ansi((*m.InsoleName)[j]), r.InsoleName[j]);
        EXPECT_EQ(Ansi((*m.InsoleUnit)[j]), r.InsoleUnit[j]);
        EXPECT_EQ((*m.InsoleScale)[j], r.InsoleScale[j]);
        EXPECT_EQ(static_cast<uint16_t>(static_cast<int32_t>((*m.InsoleSide)[j])), r.InsoleSide[j]);
        EXPECT_EQ(static_cast<uint16_t>(static_cast<int32_t>((*m.InsoleSize)[j])), r.InsoleSize[j]);
        EXPECT_EQ((*m.InsoleFullScale)[j], r.InsoleFullScale[j]);
        EXPECT_EQ((*m.EnabledInsoleImuChannels)[j], r.EnabledInsoleImuChannels[j]);
    }
    EXPECT_EQ(m.InsoleSampleRate_Hz, r.InsoleSampleRate_Hz);
    EXPECT_EQ(m.InsoleImuSampleRate_Hz, r.InsoleImuSampleRate_Hz);
}

}  // namespace ConfigTest
