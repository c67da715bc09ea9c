// Conversions between the native configuration records and the SDK's
// configuration objects. Every class is static only.
//
// ToNative takes an SDK value (`managed`) and returns a native value whose
// bytes start all zero. ToManaged takes a native value (`native`) and
// returns the SDK value; for objects a new one owned by the caller.
//
// Failures are the runtime's exceptions: ArgumentOutOfRangeException for a
// number outside a checked range, IndexOutOfRangeException for an SDK array
// shorter than the record's fixed count, NullReferenceException for a null
// SDK object or array where one is required.
#pragma once

#include "QueltoCommon.h"
#include "Quelto_CaptureConfiguration.h"
#include "Quelto_ConfigurationExportBase.h"
#include "Quelto_Enums.h"
#include "Quelto_SensorConfiguration.h"
#include "Quelto_ValueTypes.h"
#include "SdkContract.h"

#include <string>

// Channel side: 0 to 2 in both directions.
class QUELTO_API Quelto_ChannelSideHelper {
public:
    Quelto_ChannelSideHelper() = delete;
    static Quelto_ChannelSide ToNative(PellimorCfgReader::Definitions::ChannelSide managed);
    static PellimorCfgReader::Definitions::ChannelSide ToManaged(Quelto_ChannelSide native);
};

// Channel type: 0 to 10 in both directions.
class QUELTO_API Quelto_ChannelTypeHelper {
public:
    Quelto_ChannelTypeHelper() = delete;
    static Quelto_ChannelType ToNative(PellimorCfgReader::Definitions::ChannelType managed);
    static PellimorCfgReader::Definitions::ChannelType ToManaged(Quelto_ChannelType native);
};

// Insole size: 0 to 4 in both directions.
class QUELTO_API Quelto_InsoleSizeHelper {
public:
    Quelto_InsoleSizeHelper() = delete;
    static Quelto_InsoleSize ToNative(Quelto::Common::Definitions::InsoleSize managed);
    static Quelto::Common::Definitions::InsoleSize ToManaged(Quelto_InsoleSize native);
};

// Foot-switch protocol: 0 to 2 in both directions. (The lower-case h is the
// published name.)
class QUELTO_API Quelto_FootSwProtocolhelper {
public:
    Quelto_FootSwProtocolhelper() = delete;
    static Quelto_FootSwProtocol ToNative(Quelto::Common::Definitions::FootSwProtocol managed);
    static Quelto::Common::Definitions::FootSwProtocol ToManaged(Quelto_FootSwProtocol native);
};

// Flags T_A, T_1, T_5, T_T, in that order; any nonzero byte is on.
class QUELTO_API Quelto_FootSwTransducerEnabledHelper {
public:
    Quelto_FootSwTransducerEnabledHelper() = delete;
    static Quelto_FootSwTransducerEnabled ToNative(
        const Runtime::Ref<Quelto::Common::Definitions::IFootSwTransducerEnabled>& managed);
    static Runtime::Ref<Quelto::Common::Definitions::IFootSwTransducerEnabled> ToManaged(
        const Quelto_FootSwTransducerEnabled& native);
};

// Thresholds T_A, T_1, T_5, T_T, copied bit for bit.
class QUELTO_API Quelto_FootSwTransducerThresholdHelper {
public:
    Quelto_FootSwTransducerThresholdHelper() = delete;
    static Quelto_FootSwTransducerThreshold ToNative(
        const Runtime::Ref<Quelto::Common::Definitions::IFootSwTransducerThreshold>& managed);
    static Runtime::Ref<Quelto::Common::Definitions::IFootSwTransducerThreshold> ToManaged(
        const Quelto_FootSwTransducerThreshold& native);
};

class QUELTO_API Quelto_DefinitionsHelper {
public:
    Quelto_DefinitionsHelper() = delete;
    static Quelto_Color ToQueltoColor(System::Drawing::Color managed);
    static System::Drawing::Color ToSystemDrawingColor(const Quelto_Color& native);
};

// Enumeration numbers other than FootSwProtocol pass unchecked. ToNative
// prints "EnabledInsole[i] = True|False" for i = 0 and 1 to standard output.
class QUELTO_API Quelto_CaptureConfigurationHelper {
public:
    Quelto_CaptureConfigurationHelper() = delete;
    static Quelto_CaptureConfiguration ToNative(
        const Runtime::Ref<Quelto::Common::Definitions::ICaptureConfiguration>& managed);
    static Runtime::Ref<Quelto::Common::Definitions::ICaptureConfiguration> ToManaged(
        const Quelto_CaptureConfiguration& native);
};

// No number is checked. ToNative of a null object: ArgumentNullException.
class QUELTO_API Quelto_SensorConfigurationHelper {
public:
    Quelto_SensorConfigurationHelper() = delete;
    static Quelto_SensorConfiguration ToNative(
        const Runtime::Ref<Quelto::Common::Definitions::ISensorConfiguration>& managed);
    static Runtime::Ref<Quelto::Common::Definitions::ISensorConfiguration> ToManaged(
        const Quelto_SensorConfiguration& native);
};

// Converts the fixed counts of the record (38, 114, 2, 2 x 40) whatever the
// SDK arrays' lengths; the Spare members are neither written nor read.
class QUELTO_API Quelto_ConfigurationExportBaseHelper {
public:
    Quelto_ConfigurationExportBaseHelper() = delete;
    // Fills `out` in place; expects a default-constructed record (entries
    // that m does not give, such as a null PlottingEnabledInsoles, stay).
    static void ToNative(const Runtime::Ref<Quelto::Common::Definitions::ConfigurationExportBase>& m,
                         Quelto_ConfigurationExportBase& out);
    // A new SDK object (class "PellimorCfgReader.ConfigurationExportBase")
    // whose arrays are written in place. Channel types, sides and insole
    // sizes are range-checked.
    static Runtime::Ref<Quelto::Common::Definitions::ConfigurationExportBase> ToManaged(
        const Quelto_ConfigurationExportBase& native);
    // The text in the system's ANSI code page, cut at its first NUL; a null
    // string gives an empty one.
    static std::string ToStdString(const Runtime::String& text);
};
