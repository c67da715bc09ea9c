// The device SDK as the bridge sees it: the device interface, its data
// event, the configuration classes, the configuration reader and the SDK's
// enumerations. Namespaces follow the SDK's dotted names.
//
// Everything is used through these declarations; the classes themselves are
// made by name through the runtime (AppDomain) from the SDK libraries.
#pragma once

#include "Runtime.h"
#include "SdkBlockFields.h"

#include <cstdint>
#include <functional>

// ------------------------------------------------------------ platform colour
namespace System::Drawing {

// The platform's 32-bit ARGB colour.
class Color {
public:
    constexpr Color() = default;
    // Each component 0 to 255, else ArgumentException (as the platform).
    static Color FromArgb(int alpha, int red, int green, int blue) {
        for (int c : {alpha, red, green, blue}) {
            if (c < 0 || c > 255) throw Runtime::ArgumentException("Value of a colour component must be 0 to 255.");
        }
        return Color(static_cast<uint32_t>(alpha) << 24 | static_cast<uint32_t>(red) << 16 |
                     static_cast<uint32_t>(green) << 8 | static_cast<uint32_t>(blue));
    }
    static constexpr Color FromArgb(uint32_t argb) { return Color(argb); }
    constexpr uint8_t A() const { return static_cast<uint8_t>(argb_ >> 24); }
    constexpr uint8_t R() const { return static_cast<uint8_t>(argb_ >> 16); }
    constexpr uint8_t G() const { return static_cast<uint8_t>(argb_ >> 8); }
    constexpr uint8_t B() const { return static_cast<uint8_t>(argb_); }
    constexpr uint32_t ToArgb() const { return argb_; }
    friend constexpr bool operator==(Color, Color) = default;

private:
    constexpr explicit Color(uint32_t argb) : argb_(argb) {}
    uint32_t argb_ = 0;
};

}  // namespace System::Drawing

// Declares a read-write property as the runtime's accessor pair.
#define QUELTO_SDK_PROPERTY(Type, Name) \
    virtual Type get_##Name() const = 0; \
    virtual void set_##Name(Type value) = 0;

namespace Quelto::Common::Definitions {

// Library full names, as requested from the runtime.
inline constexpr const char* QueltoAssemblyName = "Quelto, Version=1.0.0.0, Culture=neutral, PublicKeyToken=null";
inline constexpr const char* CommonAssemblyName =
    "Quelto.Common, Version=1.0.0.0, Culture=neutral, PublicKeyToken=null";
inline constexpr const char* CfgReaderAssemblyName =
    "PellimorCfgReader, Version=1.0.0.0, Culture=neutral, PublicKeyToken=null";

// ------------------------------------------------------------ enumerations
// The SDK's numbers. Only the numbers cross into the bridge; the names given
// to some of them are the simulated device's reading of them.

enum class InsoleSize : int32_t {};
enum class FootSwProtocol : int32_t {};
enum class DataAvailableEventPeriod : int32_t {};
enum class SensorMode : int32_t {};
enum class DeviceState : int32_t {
    NotInitialized = 0,
    Idle = 1,
    Configured = 2,
    Capturing = 3,
    Calibrating = 4,
    Error = 5,
    Disposed = 6,
};
enum class ImuAcqPType : int32_t {};
enum class EmgAcqPType : int32_t {};
enum class ImuAcqXType : int32_t {};
enum class EmgAcqXType : int32_t {};
enum class EmgImuAcqXType : int32_t {};
enum class ImuAcqBType : int32_t {};
enum class EmgAcqBType : int32_t {};
enum class InsoleBtAcqType : int32_t {};
enum class InsoleRfAcqType : int32_t {};
enum class AnalogAcqType : int32_t {};
enum class InsoleRfProtocol : int32_t {};
enum class AccelerometerFullScale : int32_t {};
enum class GyroscopeFullScale : int32_t {};
enum class AnalogTriggerMode : int32_t {};
enum class VoltageFullScale : int32_t {};
enum class SensorModel : int32_t {};

// ------------------------------------------------- configuration objects

class IFootSwTransducerEnabled : public virtual Runtime::Object {
public:
    QUELTO_SDK_PROPERTY(bool, T_A)
    QUELTO_SDK_PROPERTY(bool, T_1)
    QUELTO_SDK_PROPERTY(bool, T_5)
    QUELTO_SDK_PROPERTY(bool, T_T)
};

class IFootSwTransducerThreshold : public virtual Runtime::Object {
public:
    QUELTO_SDK_PROPERTY(double, T_A)
    QUELTO_SDK_PROPERTY(double, T_1)
    QUELTO_SDK_PROPERTY(double, T_5)
    QUELTO_SDK_PROPERTY(double, T_T)
};

class ICaptureConfiguration : public virtual Runtime::Object {
public:
    QUELTO_SDK_PROPERTY(bool, ExternalTriggerEnabled)
    QUELTO_SDK_PROPERTY(int32_t, ExternalTriggerActiveLevel)
    QUELTO_SDK_PROPERTY(bool, ExternalTriggerStopDisabled)
    QUELTO_SDK_PROPERTY(int32_t, ExternalEventActiveLevel)
    QUELTO_SDK_PROPERTY(ImuAcqPType, IMU_AcqPType)
    QUELTO_SDK_PROPERTY(EmgAcqPType, EMG_AcqPType)
    QUELTO_SDK_PROPERTY(ImuAcqXType, IMU_AcqXType)
    QUELTO_SDK_PROPERTY(EmgAcqXType, EMG_AcqXType)
    QUELTO_SDK_PROPERTY(EmgImuAcqXType, EMG_IMU_AcqXType)
    QUELTO_SDK_PROPERTY(ImuAcqBType, IMU_AcqBType)
    QUELTO_SDK_PROPERTY(EmgAcqBType, EMG_AcqBType)
    QUELTO_SDK_PROPERTY(InsoleBtAcqType, Insole_BtAcqType)
    QUELTO_SDK_PROPERTY(InsoleRfAcqType, Insole_RfAcqType)
    QUELTO_SDK_PROPERTY(AnalogAcqType, Analog_AcqType)
    QUELTO_SDK_PROPERTY(InsoleRfProtocol, Insole_RfProtocol)
    QUELTO_SDK_PROPERTY(AccelerometerFullScale, Insole_AccelerometerFullScale)
    QUELTO_SDK_PROPERTY(GyroscopeFullScale, Insole_GyroscopeFullScale)
    // Read-only: arrays owned by the object (at least 2 and 32 elements).
    virtual Runtime::ArrayRef<bool> get_EnabledInsole() const = 0;
    virtual Runtime::ArrayRef<bool> get_EnabledAnalogChannel() const = 0;
    QUELTO_SDK_PROPERTY(AnalogTriggerMode, Analog_TriggerMode)
    QUELTO_SDK_PROPERTY(VoltageFullScale, Analog_VoltageFullScale)
    QUELTO_SDK_PROPERTY(uint32_t, Analog_ChannelDelay_ms)
    QUELTO_SDK_PROPERTY(Runtime::Ref<IFootSwTransducerEnabled>, FootSwATransducerEnabled)
    QUELTO_SDK_PROPERTY(Runtime::Ref<IFootSwTransducerEnabled>, FootSwBTransducerEnabled)
    QUELTO_SDK_PROPERTY(Runtime::Ref<IFootSwTransducerThreshold>, FootSwATransducerThreshold)
    QUELTO_SDK_PROPERTY(Runtime::Ref<IFootSwTransducerThreshold>, FootSwBTransducerThreshold)
    QUELTO_SDK_PROPERTY(FootSwProtocol, FootSwProtocol)
};

class ISensorConfiguration : public virtual Runtime::Object {
public:
    QUELTO_SDK_PROPERTY(Definitions::SensorModel, SensorModel)
    QUELTO_SDK_PROPERTY(Definitions::SensorMode, SensorMode)
    QUELTO_SDK_PROPERTY(Definitions::AccelerometerFullScale, AccelerometerFullScale)
    QUELTO_SDK_PROPERTY(Definitions::GyroscopeFullScale, GyroscopeFullScale)
};

// Class names of the configuration objects in Quelto.Common.
inline constexpr const char* CaptureConfigurationClass = "Quelto.Common.Definitions.CaptureConfiguration";
inline constexpr const char* SensorConfigurationClass = "Quelto.Common.Definitions.SensorConfiguration";
inline constexpr const char* FootSwTransducerEnabledClass = "Quelto.Common.Definitions.FootSwTransducerEnabled";
inline constexpr const char* FootSwTransducerThresholdClass = "Quelto.Common.Definitions.FootSwTransducerThreshold";

class IExtVersion : public virtual Runtime::Object {
public:
    virtual int32_t get_Major() const = 0;
    virtual int32_t get_Minor() const = 0;
    virtual int32_t get_Build() const = 0;
    virtual int32_t get_Revision() const = 0;
};

// ------------------------------------------------------------ data event

// One block of samples, with the fields of SdkBlockFields.h (every array a
// Runtime::ArrayRef of its element type and rank). Any array may be null.
// The SDK makes a fresh object per event and never changes it afterwards.
class DataAvailableEventArgs : public virtual Runtime::Object {
public:
    // Called once by the reader before the fields are read: an event of the
    // managed backend reads its scalars and pins its arrays here.
    virtual void Acquire() {}

#define QUELTO_SDK_EVENT_ARRAY(name, element, rank, view) Runtime::ArrayRef<element, rank> name;
#define QUELTO_SDK_EVENT_SCALAR(name, type) type name = 0;
#define QUELTO_SDK_EVENT_FLAG(name) bool name = false;
    QUELTO_BLOCK_FIELDS(QUELTO_SDK_EVENT_ARRAY, QUELTO_SDK_EVENT_SCALAR, QUELTO_SDK_EVENT_FLAG, QUELTO_BLOCK_SKIP)
#undef QUELTO_SDK_EVENT_ARRAY
#undef QUELTO_SDK_EVENT_SCALAR
#undef QUELTO_SDK_EVENT_FLAG
};

using DataAvailableEventHandler =
    std::function<void(const Runtime::Ref<Runtime::Object>& sender, const Runtime::Ref<DataAvailableEventArgs>& e)>;

}  // namespace Quelto::Common::Definitions

namespace PellimorCfgReader::Definitions {
enum class ChannelType : int32_t {};
enum class ChannelSide : int32_t {};
}  // namespace PellimorCfgReader::Definitions

namespace Quelto::Common::Definitions {

// One configuration file as the SDK's reader returns it. A new object made
// by the SDK (class "PellimorCfgReader.ConfigurationExportBase") holds
// arrays of at least the fixed lengths; one made here holds null arrays.
class ConfigurationExportBase : public virtual Runtime::Object {
public:
    // Called by a conversion once it has written the fields: an object of
    // the managed backend then writes into its managed object what its
    // arrays do not already share with it (texts, colours, objects,
    // numbers).
    virtual void WriteBack() {}

    using ChannelType = PellimorCfgReader::Definitions::ChannelType;
    using ChannelSide = PellimorCfgReader::Definitions::ChannelSide;
    using Color = System::Drawing::Color;
    template <class T>
    using Arr = Runtime::ArrayRef<T, 1>;

    Runtime::Ref<ICaptureConfiguration> CaptureConfiguration;
    Arr<Runtime::Ref<ISensorConfiguration>> SensorConfiguration;  // 38

    Arr<bool> InstalledEfaChannels, EnabledEfaChannels;  // 38 each
    Arr<Runtime::String> EfaChannelName, EfaChannelUnit;
    Arr<float> EfaChannelScale;
    Arr<ChannelType> EfaChannelType;
    Arr<ChannelSide> EfaChannelSide;
    Arr<Color> EfaChannelLineColor;
    Arr<float> EfaChannelFullScale;

    Arr<bool> InstalledImuChannels, EnabledImuChannels;  // 38 each
    Arr<Runtime::String> ImuChannelName, ImuChannelUnit;
    Arr<float> ImuChannelScale;
    Arr<ChannelType> ImuChannelType;
    Arr<ChannelSide> ImuChannelSide;
    Arr<Color> ImuChannelLineColor;
    Arr<float> ImuChannelFullScale;

    Arr<bool> InstalledAccFswMapChannels, EnabledAccFswMapChannels;  // 38 each
    Arr<Runtime::String> AccFswMapChannelName, AccFswMapChannelUnit;
    Arr<float> AccFswMapChannelScale;
    Arr<ChannelType> AccFswMapChannelType;
    Arr<ChannelSide> AccFswMapChannelSide;
    Arr<Color> AccFswMapChannelLineColor;
    Arr<float> AccFswMapChannelFullScale;

    Arr<bool> InstalledImuAgmChannels, EnabledImuAgmChannels;  // 114 each
    Arr<Runtime::String> ImuAgmChannelName, ImuAgmChannelUnit;
    Arr<float> ImuAgmChannelScale;
    Arr<ChannelType> ImuAgmChannelType;
    Arr<ChannelSide> ImuAgmChannelSide;
    Arr<Color> ImuAgmChannelLineColor;
    Arr<float> ImuAgmChannelFullScale;

    Runtime::ArrayRef<ChannelType, 2> AnalogOutputChannelType;  // 2 x 40
    Runtime::ArrayRef<int32_t, 2> AnalogOutputSensorNum;        // 2 x 40
    Runtime::ArrayRef<int32_t, 2> AnalogOutputChannelAxis;      // 2 x 40

    Arr<bool> InstalledInsoles, EnabledInsoles, PlottingEnabledInsoles;  // 2 each
    Arr<Runtime::String> InsoleName, InsoleUnit;
    Arr<float> InsoleScale;
    Arr<ChannelSide> InsoleSide;
    Arr<Definitions::InsoleSize> InsoleSize;
    Arr<float> InsoleFullScale;
    Arr<bool> EnabledInsoleImuChannels;

    float InsoleSampleRate_Hz = 0;
    float InsoleImuSampleRate_Hz = 0;
};

class ICfgReader : public virtual Runtime::Object {
public:
    // Reads a configuration file. The path may be null.
    virtual Runtime::Ref<ConfigurationExportBase> ReadCfgFile(const Runtime::String& path) = 0;
};

inline constexpr const char* CfgReaderClass = "PellimorCfgReader.CfgReader";
inline constexpr const char* ConfigurationExportBaseClass = "PellimorCfgReader.ConfigurationExportBase";

}  // namespace Quelto::Common::Definitions

namespace Quelto::Interfaces {

namespace Defs = Quelto::Common::Definitions;

// The device. One object per facade; calls come from host threads, the
// DataAvailable event from the device's own thread.
class IDaqSystem : public virtual Runtime::Object, public Runtime::IDisposable {
public:
    virtual void StartCapturing(Defs::DataAvailableEventPeriod period) = 0;
    virtual void StopCapturing() = 0;
    virtual void GenerateInternalStartTrigger() = 0;
    virtual void GenerateInternalStopTrigger() = 0;
    virtual void UpdateDisplay() = 0;
    virtual void QL_SaveCurrentRxConfiguration() = 0;
    virtual void ConfigureCapture(const Runtime::Ref<Defs::ICaptureConfiguration>& configuration) = 0;
    virtual void ConfigureSensor(const Runtime::Ref<Defs::ISensorConfiguration>& configuration, int32_t sensor) = 0;
    virtual void CalibrateSensorImuOffset(int32_t sensor) = 0;
    virtual void CalibrateGyroscopeOffset(int32_t sensor) = 0;
    virtual void DetectAccelerometerOffset(int32_t sensor) = 0;
    virtual void QL_CalibrateEmgOffset(int32_t sensor) = 0;
    virtual Defs::DeviceState get_State() const = 0;
    virtual Runtime::Ref<Defs::IExtVersion> get_SoftwareVersion() const = 0;
    // Subscribes a handler to DataAvailable; subscriptions are never withdrawn.
    virtual void add_DataAvailable(Defs::DataAvailableEventHandler handler) = 0;
};

}  // namespace Quelto::Interfaces

namespace Quelto {
inline constexpr const char* DaqSystemClass = "Quelto.DaqSystem";
}

#undef QUELTO_SDK_PROPERTY
