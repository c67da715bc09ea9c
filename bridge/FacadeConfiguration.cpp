// The facade's configuration members: capture and sensor configuration sent
// to the device, and configuration files read through the SDK's reader (and
// applied to the device).
#include "Quelto_ConfigurationHelpers.h"
#include "Quelto_DaqSystem.h"

#include "AppDomain.h"
#include "QueltoWrapperPrivate.h"

namespace D = Quelto::Common::Definitions;

namespace {
constexpr int FirstSensor = QUELTO_SENSOR_FIRST;
constexpr int LastSensor = QUELTO_SENSOR_LAST;
constexpr int AllSensors = 0;
}  // namespace

void Quelto_DaqSystem::ConfigureCapture(Quelto_CaptureConfiguration& configuration) {
    // Converted before the device is touched: a bad record sends nothing.
    auto managed = Quelto_CaptureConfigurationHelper::ToManaged(configuration);
    impl->Device().ConfigureCapture(managed);
}

void Quelto_DaqSystem::ConfigureSensor(Quelto_SensorConfiguration& configuration, int sensorIndex) {
    if (sensorIndex >= FirstSensor && sensorIndex <= LastSensor) {
        auto managed = Quelto_SensorConfigurationHelper::ToManaged(configuration);
        impl->Device().ConfigureSensor(managed, sensorIndex);
    } else if (sensorIndex == AllSensors) {
        // One object per sensor: the device may keep what it is given.
        for (int sensor = FirstSensor; sensor <= LastSensor; ++sensor) {
            auto managed = Quelto_SensorConfigurationHelper::ToManaged(configuration);
            impl->Device().ConfigureSensor(managed, sensor);
        }
    }
}

Quelto_ConfigurationExportBase Quelto_DaqSystem::LoadConfiguration(const char* configFilePath) {
    const Runtime::String path =
        configFilePath ? Runtime::String(Runtime::Text::FromAnsi(configFilePath)) : Runtime::String();
    auto reader = Runtime::AppDomain::CurrentDomain().CreateInstance<D::ICfgReader>(D::CfgReaderAssemblyName,
                                                                                   D::CfgReaderClass);
    auto managed = reader->ReadCfgFile(path);
    Quelto_ConfigurationExportBase configuration;
    Quelto_ConfigurationExportBaseHelper::ToNative(managed, configuration);
    return configuration;
}

int Quelto_DaqSystem::ApplyConfigurationFile(const char* configFilePath) {
    // Loaded whole before anything is sent: a file that does not load
    // changes nothing on the device.
    Quelto_ConfigurationExportBase configuration = LoadConfiguration(configFilePath);
    ConfigureCapture(configuration.CaptureConfiguration);
    int configured = 0;
    // Every sensor, as the file describes it: a sensor the file switches off
    // is told so.
    for (int sensor = QUELTO_SENSOR_FIRST; sensor <= QUELTO_SENSOR_LAST; ++sensor) {
        ConfigureSensor(configuration.SensorConfiguration[sensor - 1], sensor);
        ++configured;
    }
    return configured;
}
