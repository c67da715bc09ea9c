// A fresh ConfigurationExportBase as the simulated reader library makes it.
#pragma once

#include "QueltoCommon.h"
#include "SdkContract.h"
#include "SdkModule.h"

namespace QueltoSim {

// Fixed entry counts of a configuration.
inline constexpr int SensorCount = QUELTO_CHANNEL_COUNT;
inline constexpr int ImuAgmCount = QUELTO_IMU_AGM_CHANNEL_COUNT;
inline constexpr int InsoleCount = QUELTO_INSOLE_COUNT;
inline constexpr int AnalogOutputRows = QUELTO_ANALOG_OUTPUT_COUNT;
inline constexpr int AnalogOutputColumns = QUELTO_ANALOG_OUTPUT_ENTRIES;

// Every array made with its fixed length; 38 new sensor configurations and
// a new capture configuration, made through `activator` from Quelto.Common.
Runtime::Ref<Quelto::Common::Definitions::ConfigurationExportBase> NewConfigurationExport(Runtime::IActivator& activator);

}  // namespace QueltoSim
