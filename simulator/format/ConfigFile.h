// The simulated SDK's configuration file: a JSON document that describes one
// ConfigurationExportBase. Every key, its type, range and default is listed
// in docs/configuration-format.md; reader and writer follow that list.
#pragma once

#include "SdkContract.h"
#include "SdkModule.h"

#include <cstddef>
#include <string>

namespace QueltoSim {

// Files above this size are rejected before they are parsed.
inline constexpr std::size_t MaxConfigFileBytes = 16u * 1024u * 1024u;

// The version written in "FormatVersion"; a file may leave the key out.
inline constexpr int ConfigFormatVersion = 1;

// Reads the file at `path` (UTF-8) into a new ConfigurationExportBase whose
// arrays have exactly the fixed lengths; the capture and sensor configuration
// objects are made through `activator` from Quelto.Common. Keys a file leaves
// out keep the values of a fresh object.
//   FileNotFoundException: the file is missing, not a regular file or
//     cannot be read; the message names the path.
//   FormatException: anything wrong with the content (empty, too large, NUL
//     byte, invalid UTF-8, JSON syntax, wrong type, out-of-range number,
//     wrong array length, unknown or duplicate key). The message starts with
//     "Configuration file '<path>': " and names the line and column or the
//     key path, e.g. "EfaChannels[5].Scale".
// Nothing is returned on failure.
Runtime::Ref<Quelto::Common::Definitions::ConfigurationExportBase> ReadConfigFile(const std::string& path,
                                                                                   Runtime::IActivator& activator);

// The JSON text that WriteConfigFile writes, ending with a line feed.
// Checks `configuration` first and throws, before producing anything:
//   ArgumentException: a null field (PlottingEnabledInsoles excepted, which
//     is written as null), a null sensor or foot-switch object, or an array
//     shorter than its fixed length; the message names the field.
//   ArgumentOutOfRangeException: a number the reader would reject (channel
//     type outside 0..10, side 0..2, insole size 0..4, foot-switch protocol
//     0..2, sensor mode 0..65535, a NaN or infinite float); the message names
//     the key path. Entries beyond the fixed lengths are not written.
std::string ToConfigText(const Quelto::Common::Definitions::ConfigurationExportBase& configuration);

// Writes `configuration` to `path` (UTF-8) so that ReadConfigFile gives back
// an equal object, through a temporary file of a unique name beside it
// (WriteFileAtomically): concurrent writes each succeed, and a failed write
// leaves an existing file as it was. Throws what ToConfigText throws, and
// IOException naming the path when the file cannot be written or `path`
// exists and is not a regular file.
void WriteConfigFile(const std::string& path, const Quelto::Common::Definitions::ConfigurationExportBase& configuration);

// Where the simulated device saves its current configuration
// (QL_SaveCurrentRxConfiguration): the value of the environment variable
// QUELTO_SIM_RXCONFIG when it is set and not empty, otherwise
// "<deviceLibraryFolder>/Quelto.rxconfig.json".
std::string RxConfigPath(const std::string& deviceLibraryFolder);

}  // namespace QueltoSim
