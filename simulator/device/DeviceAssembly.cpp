// Entry points of the simulated Quelto library.
#include "SdkModule.h"
#include "SimControlImpl.h"
#include "SimulatedDaqSystem.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {
Runtime::IActivator* g_activator = nullptr;

Runtime::Ref<Runtime::Object> MakeDaqSystem() { return std::make_shared<QueltoSim::SimulatedDaqSystem>(); }
}  // namespace

namespace QueltoSim {

Runtime::IActivator* DeviceActivator() { return g_activator; }

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

QUELTO_SDK_EXPORT void QueltoSdk_RegisterAssembly(Runtime::IAssemblyBuilder& builder) {
    g_activator = &builder.Activator();
    builder.SetFullName(Quelto::Common::Definitions::QueltoAssemblyName);
    builder.AddClass(Quelto::DaqSystemClass, &MakeDaqSystem);
}

QUELTO_SDK_EXPORT QueltoSim::IControl* QueltoSim_GetControl() { return &QueltoSim::Control(); }
