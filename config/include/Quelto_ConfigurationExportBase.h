// Native image of one configuration file, as LoadConfiguration returns it.
// C++ only: the texts are std::string in the system's ANSI code page, so the
// host and the library must share one standard library and one heap.
//
// Counts are fixed; nothing records how many entries are in use. Entry i of
// the members of one channel kind describes the same channel. The analog
// output tables are [output][entry]. The Spare members are carried but never
// filled or read by a conversion.
#pragma once

#include "Quelto_CaptureConfiguration.h"
#include "Quelto_Enums.h"
#include "Quelto_SensorConfiguration.h"
#include "Quelto_ValueTypes.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct Quelto_ConfigurationExportBase {
    // Every number, flag and colour zero (padding of the two embedded
    // records included); every text empty.
    Quelto_ConfigurationExportBase() noexcept : CaptureConfiguration(), SensorConfiguration() {}
    // Texts change owner (the source's become empty); nothing is allocated.
    Quelto_ConfigurationExportBase(Quelto_ConfigurationExportBase&&) noexcept = default;
    Quelto_ConfigurationExportBase& operator=(Quelto_ConfigurationExportBase&&) noexcept = default;
    // 26 KB with 604 texts: handed over by move only.
    Quelto_ConfigurationExportBase(const Quelto_ConfigurationExportBase&) = delete;
    Quelto_ConfigurationExportBase& operator=(const Quelto_ConfigurationExportBase&) = delete;
    ~Quelto_ConfigurationExportBase() = default;

    Quelto_CaptureConfiguration CaptureConfiguration;
    Quelto_SensorConfiguration SensorConfiguration[QUELTO_CHANNEL_COUNT];

    bool InstalledEfaChannels[QUELTO_CHANNEL_COUNT] = {};
    bool EnabledEfaChannels[QUELTO_CHANNEL_COUNT] = {};
    std::string EfaChannelName[QUELTO_CHANNEL_COUNT];
    std::string EfaChannelUnit[QUELTO_CHANNEL_COUNT];
    float EfaChannelScale[QUELTO_CHANNEL_COUNT] = {};
    Quelto_ChannelType EfaChannelType[QUELTO_CHANNEL_COUNT] = {};
    Quelto_ChannelSide EfaChannelSide[QUELTO_CHANNEL_COUNT] = {};
    Quelto_Color EfaChannelLineColor[QUELTO_CHANNEL_COUNT] = {};
    float EfaChannelFullScale[QUELTO_CHANNEL_COUNT] = {};

    bool InstalledImuChannels[QUELTO_CHANNEL_COUNT] = {};
    bool EnabledImuChannels[QUELTO_CHANNEL_COUNT] = {};
    std::string ImuChannelName[QUELTO_CHANNEL_COUNT];
    std::string ImuChannelUnit[QUELTO_CHANNEL_COUNT];
    float ImuChannelScale[QUELTO_CHANNEL_COUNT] = {};
    Quelto_ChannelType ImuChannelType[QUELTO_CHANNEL_COUNT] = {};
    Quelto_ChannelSide ImuChannelSide[QUELTO_CHANNEL_COUNT] = {};
    Quelto_Color ImuChannelLineColor[QUELTO_CHANNEL_COUNT] = {};
    float ImuChannelFullScale[QUELTO_CHANNEL_COUNT] = {};

    bool InstalledAccFswMapChannels[QUELTO_CHANNEL_COUNT] = {};
    bool EnabledAccFswMapChannels[QUELTO_CHANNEL_COUNT] = {};
    std::string AccFswMapChannelName[QUELTO_CHANNEL_COUNT];
    std::string AccFswMapChannelUnit[QUELTO_CHANNEL_COUNT];
    float AccFswMapChannelScale[QUELTO_CHANNEL_COUNT] = {};
    Quelto_ChannelType AccFswMapChannelType[QUELTO_CHANNEL_COUNT] = {};
    Quelto_ChannelSide AccFswMapChannelSide[QUELTO_CHANNEL_COUNT] = {};
    Quelto_Color AccFswMapChannelLineColor[QUELTO_CHANNEL_COUNT] = {};
    float AccFswMapChannelFullScale[QUELTO_CHANNEL_COUNT] = {};

    bool InstalledImuAgmChannels[QUELTO_IMU_AGM_CHANNEL_COUNT] = {};
    bool EnabledImuAgmChannels[QUELTO_IMU_AGM_CHANNEL_COUNT] = {};
    std::string ImuAgmChannelName[QUELTO_IMU_AGM_CHANNEL_COUNT];
    std::string ImuAgmChannelUnit[QUELTO_IMU_AGM_CHANNEL_COUNT];
    float ImuAgmChannelScale[QUELTO_IMU_AGM_CHANNEL_COUNT] = {};
    Quelto_ChannelType ImuAgmChannelType[QUELTO_IMU_AGM_CHANNEL_COUNT] = {};
    Quelto_ChannelSide ImuAgmChannelSide[QUELTO_IMU_AGM_CHANNEL_COUNT] = {};
    Quelto_Color ImuAgmChannelLineColor[QUELTO_IMU_AGM_CHANNEL_COUNT] = {};
    float ImuAgmChannelFullScale[QUELTO_IMU_AGM_CHANNEL_COUNT] = {};

    Quelto_ChannelType AnalogOutputChannelType[QUELTO_ANALOG_OUTPUT_COUNT][QUELTO_ANALOG_OUTPUT_ENTRIES] = {};
    int32_t AnalogOutputSensorNum[QUELTO_ANALOG_OUTPUT_COUNT][QUELTO_ANALOG_OUTPUT_ENTRIES] = {};
    int32_t AnalogOutputChannelAxis[QUELTO_ANALOG_OUTPUT_COUNT][QUELTO_ANALOG_OUTPUT_ENTRIES] = {};

    bool InstalledInsoles[QUELTO_INSOLE_COUNT] = {};
    bool EnabledInsoles[QUELTO_INSOLE_COUNT] = {};
    bool PlottingEnabledInsoles[QUELTO_INSOLE_COUNT] = {};
    std::string InsoleName[QUELTO_INSOLE_COUNT];
    std::string InsoleUnit[QUELTO_INSOLE_COUNT];
    float InsoleScale[QUELTO_INSOLE_COUNT] = {};
    Quelto_ChannelSide InsoleSide[QUELTO_INSOLE_COUNT] = {};
    Quelto_InsoleSize InsoleSize[QUELTO_INSOLE_COUNT] = {};
    float InsoleFullScale[QUELTO_INSOLE_COUNT] = {};
    bool EnabledInsoleImuChannels[QUELTO_INSOLE_COUNT] = {};

    bool Spare2Flags[2] = {};
    std::string Spare2Text1[2];
    std::string Spare2Text2[2];
    int32_t Spare2Value1[2] = {};
    uint16_t Spare2Code1[2] = {};
    uint16_t Spare2Code2[2] = {};
    int32_t Spare2Value2[2] = {};
    bool Spare38Flags1[QUELTO_CHANNEL_COUNT] = {};
    bool Spare38Flags2[QUELTO_CHANNEL_COUNT] = {};
    std::string Spare38Text1[QUELTO_CHANNEL_COUNT];
    std::string Spare38Text2[QUELTO_CHANNEL_COUNT];
    int32_t Spare38Value1[QUELTO_CHANNEL_COUNT] = {};
    uint16_t Spare38Code1[QUELTO_CHANNEL_COUNT] = {};
    uint16_t Spare38Code2[QUELTO_CHANNEL_COUNT] = {};
    int32_t Spare38Value2[QUELTO_CHANNEL_COUNT] = {};

    float InsoleSampleRate_Hz = {};
    float InsoleImuSampleRate_Hz = {};
    bool Spare32Flags1[32] = {};
    bool Spare32Flags2[32] = {};
    std::string Spare32Text1[32];
    std::string Spare32Text2[32];
    int32_t Spare32Value1[32] = {};
    uint16_t Spare32Code1[32] = {};
    uint16_t Spare32Code2[32] = {};
    int32_t Spare32Value2[32] = {};
};

static_assert(sizeof(std::string) == 32, "texts are 32-byte std::string objects");
static_assert(sizeof(Quelto_ConfigurationExportBase) == 26104, "Quelto_ConfigurationExportBase size");
static_assert(alignof(Quelto_ConfigurationExportBase) == 8, "Quelto_ConfigurationExportBase alignment");

#define QUELTO_EXPORT_AT(member, offset) QUELTO_CHECK_OFFSET(Quelto_ConfigurationExportBase, member, offset)

QUELTO_EXPORT_AT(CaptureConfiguration, 0);
QUELTO_EXPORT_AT(SensorConfiguration, 192);
QUELTO_EXPORT_AT(InstalledEfaChannels, 800);
QUELTO_EXPORT_AT(EnabledEfaChannels, 838);
QUELTO_EXPORT_AT(EfaChannelName, 880);
QUELTO_EXPORT_AT(EfaChannelUnit, 2096);
QUELTO_EXPORT_AT(EfaChannelScale, 3312);
QUELTO_EXPORT_AT(EfaChannelType, 3464);
QUELTO_EXPORT_AT(EfaChannelSide, 3540);
QUELTO_EXPORT_AT(EfaChannelLineColor, 3616);
QUELTO_EXPORT_AT(EfaChannelFullScale, 3768);
QUELTO_EXPORT_AT(InstalledImuChannels, 3920);
QUELTO_EXPORT_AT(EnabledImuChannels, 3958);
QUELTO_EXPORT_AT(ImuChannelName, 4000);
QUELTO_EXPORT_AT(ImuChannelUnit, 5216);
QUELTO_EXPORT_AT(ImuChannelScale, 6432);
QUELTO_EXPORT_AT(ImuChannelType, 6584);
QUELTO_EXPORT_AT(ImuChannelSide, 6660);
QUELTO_EXPORT_AT(ImuChannelLineColor, 6736);
QUELTO_EXPORT_AT(ImuChannelFullScale, 6888);
QUELTO_EXPORT_AT(InstalledAccFswMapChannels, 7040);
QUELTO_EXPORT_AT(EnabledAccFswMapChannels, 7078);
QUELTO_EXPORT_AT(AccFswMapChannelName, 7120);
QUELTO_EXPORT_AT(AccFswMapChannelUnit, 8336);
QUELTO_EXPORT_AT(AccFswMapChannelScale, 9552);
QUELTO_EXPORT_AT(AccFswMapChannelType, 9704);
QUELTO_EXPORT_AT(AccFswMapChannelSide, 9780);
QUELTO_EXPORT_AT(AccFswMapChannelLineColor, 9856);
QUELTO_EXPORT_AT(AccFswMapChannelFullScale, 10008);
QUELTO_EXPORT_AT(InstalledImuAgmChannels, 10160);
QUELTO_EXPORT_AT(EnabledImuAgmChannels, 10274);
QUELTO_EXPORT_AT(ImuAgmChannelName, 10392);
QUELTO_EXPORT_AT(ImuAgmChannelUnit, 14040);
QUELTO_EXPORT_AT(ImuAgmChannelScale, 17688);
QUELTO_EXPORT_AT(ImuAgmChannelType, 18144);
QUELTO_EXPORT_AT(ImuAgmChannelSide, 18372);
QUELTO_EXPORT_AT(ImuAgmChannelLineColor, 18600);
QUELTO_EXPORT_AT(ImuAgmChannelFullScale, 19056);
QUELTO_EXPORT_AT(AnalogOutputChannelType, 19512);
QUELTO_EXPORT_AT(AnalogOutputSensorNum, 19672);
QUELTO_EXPORT_AT(AnalogOutputChannelAxis, 19992);
QUELTO_EXPORT_AT(InstalledInsoles, 20312);
QUELTO_EXPORT_AT(EnabledInsoles, 20314);
QUELTO_EXPORT_AT(PlottingEnabledInsoles, 20316);
QUELTO_EXPORT_AT(InsoleName, 20320);
QUELTO_EXPORT_AT(InsoleUnit, 20384);
QUELTO_EXPORT_AT(InsoleScale, 20448);
QUELTO_EXPORT_AT(InsoleSide, 20456);
QUELTO_EXPORT_AT(InsoleSize, 20460);
QUELTO_EXPORT_AT(InsoleFullScale, 20464);
QUELTO_EXPORT_AT(EnabledInsoleImuChannels, 20472);
QUELTO_EXPORT_AT(Spare2Flags, 20474);
QUELTO_EXPORT_AT(Spare2Text1, 20480);
QUELTO_EXPORT_AT(Spare2Text2, 20544);
QUELTO_EXPORT_AT(Spare2Value1, 20608);
QUELTO_EXPORT_AT(Spare2Code1, 20616);
QUELTO_EXPORT_AT(Spare2Code2, 20620);
QUELTO_EXPORT_AT(Spare2Value2, 20624);
QUELTO_EXPORT_AT(Spare38Flags1, 20632);
QUELTO_EXPORT_AT(Spare38Flags2, 20670);
QUELTO_EXPORT_AT(Spare38Text1, 20712);
QUELTO_EXPORT_AT(Spare38Text2, 21928);
QUELTO_EXPORT_AT(Spare38Value1, 23144);
QUELTO_EXPORT_AT(Spare38Code1, 23296);
QUELTO_EXPORT_AT(Spare38Code2, 23372);
QUELTO_EXPORT_AT(Spare38Value2, 23448);
QUELTO_EXPORT_AT(InsoleSampleRate_Hz, 23600);
QUELTO_EXPORT_AT(InsoleImuSampleRate_Hz, 23604);
QUELTO_EXPORT_AT(Spare32Flags1, 23608);
QUELTO_EXPORT_AT(Spare32Flags2, 23640);
QUELTO_EXPORT_AT(Spare32Text1, 23672);
QUELTO_EXPORT_AT(Spare32Text2, 24696);
QUELTO_EXPORT_AT(Spare32Value1, 25720);
QUELTO_EXPORT_AT(Spare32Code1, 25848);
QUELTO_EXPORT_AT(Spare32Code2, 25912);
QUELTO_EXPORT_AT(Spare32Value2, 25976);

#undef QUELTO_EXPORT_AT
