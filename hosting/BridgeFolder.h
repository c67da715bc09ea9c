// Finding the SDK libraries beside the bridge library.
#pragma once

#include "AppDomain.h"

#include <string>

// Finds the bridge library's folder and makes it the place where libraries
// the runtime cannot find are looked for. The folder is refreshed on every
// call; the resolve handler is subscribed once per process.
void SetupBridgeAssemblyResolve();

// Resolve handler: "<bridge folder>/<simple name>.dll" when that file exists.
Runtime::AssemblyRef ResolveAssembly(const std::string& requestedFullName);

namespace Hosting {

// Pure parts of the lookup, apart from the platform calls.
// The folder of a module path: the text before the last '\\' or '/'; the
// whole path when it has neither.
std::u16string FolderOfModulePath(std::u16string_view modulePath);
// "<folder>/<simple name>.dll"; the simple name is the requested full name
// up to its first comma, untrimmed.
std::string LibraryPathFor(const std::string& requestedFullName, const std::string& folder);

// The bridge folder of the last setup (UTF-8), empty before the first.
std::string BridgeFolder();
// Full path of the module that holds the bridge's code, by the platform.
std::u16string BridgeModulePath();

}  // namespace Hosting
