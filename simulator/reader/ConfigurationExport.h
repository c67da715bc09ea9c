// A fresh ConfigurationExportBase as the simulated reader library makes it.
#pragma once

#include "SdkContract.h"
#include "SdkModule.h"

namespace QueltoSim {

// Fixed entry counts of a configuration.
inline constexpr int SensorCount = 38;
inline constexpr int ImuAgmCount = 114;
inline constexpr int InsoleCount = 2;
inline constexpr int AnalogOutputRows = 2;
inline constexpr int AnalogOutputColumns = 40;

// Every array made with its fixed length; 38 new sensor configurations and
// a new capture configuration, made through `activator` from Quelto.Common.
Runtime::Ref<Quelto::Common::Definitions::ConfigurationExportBase> NewConfigurationExport(Runtime::IActivator& activator);

}  // namespace QueltoSim
