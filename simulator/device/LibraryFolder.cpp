// The folder of the library this code is linked into: the device library,
// or the managed SDK's shim, which compiles the device's sources too.
#include "SimulatedDaqSystem.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace QueltoSim {

std::string DeviceLibraryFolder() {
#if defined(_WIN32)
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&DeviceLibraryFolder), &module);
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module, path, MAX_PATH);
    return Runtime::Path::FolderOf(path);
#else
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&DeviceLibraryFolder), &info) == 0 || !info.dli_fname) return ".";
    return Runtime::Path::FolderOf(info.dli_fname);
#endif
}

}  // namespace QueltoSim
