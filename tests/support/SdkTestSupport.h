// Helpers for tests that load the simulated SDK through the runtime.
#pragma once

#include "AppDomain.h"
#include "SimControl.h"

#include <string>

namespace TestSupport {

// Subscribes (once per process) a resolve handler that finds SDK libraries
// in the build's library folder, the way the bridge finds them beside itself.
inline void UseBuildLibraryFolder() {
    static const int token = Runtime::AppDomain::CurrentDomain().AddAssemblyResolve(
        [](const std::string& fullName) -> Runtime::AssemblyRef {
            const std::string path = Runtime::Path::Combine(QUELTO_LIB_DIR, Runtime::SimpleNameOf(fullName) + ".dll");
            return Runtime::File::Exists(path) ? Runtime::AppDomain::CurrentDomain().LoadFrom(path) : nullptr;
        });
    (void)token;
}

// The control object of the loaded simulated device library.
inline QueltoSim::IControl& SimControl() {
    UseBuildLibraryFolder();
    auto assembly = Runtime::AppDomain::CurrentDomain().Load(Quelto::Common::Definitions::QueltoAssemblyName);
    auto get = reinterpret_cast<QueltoSimGetControlFn>(assembly->GetExport(QUELTO_SIM_CONTROL_ENTRY));
    return *get();
}

}  // namespace TestSupport
