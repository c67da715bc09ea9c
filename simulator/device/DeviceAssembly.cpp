// Entry points of the simulated Quelto library.
#include "SdkModule.h"
#include "SimControlImpl.h"
#include "SimulatedDaqSystem.h"

namespace {
Runtime::Ref<Runtime::Object> MakeDaqSystem() { return std::make_shared<QueltoSim::SimulatedDaqSystem>(); }
}  // namespace

QUELTO_SDK_EXPORT void QueltoSdk_RegisterAssembly(Runtime::IAssemblyBuilder& builder) {
    builder.SetFullName(Quelto::Common::Definitions::QueltoAssemblyName);
    builder.AddClass(Quelto::DaqSystemClass, &MakeDaqSystem);
}

QUELTO_SDK_EXPORT QueltoSim::IControl* QueltoSim_GetControl() { return &QueltoSim::Control(); }
