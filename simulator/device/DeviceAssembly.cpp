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

}  // namespace QueltoSim

QUELTO_SDK_EXPORT void QueltoSdk_RegisterAssembly(Runtime::IAssemblyBuilder& builder) {
    g_activator = &builder.Activator();
    builder.SetFullName(Quelto::Common::Definitions::QueltoAssemblyName);
    builder.AddClass(Quelto::DaqSystemClass, &MakeDaqSystem);
}

QUELTO_SDK_EXPORT QueltoSim::IControl* QueltoSim_GetControl() { return &QueltoSim::Control(); }
