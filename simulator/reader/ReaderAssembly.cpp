// Entry point of the simulated PellimorCfgReader library.
#include "ConfigurationExport.h"

namespace {
Runtime::IActivator* g_activator = nullptr;

Runtime::Ref<Runtime::Object> MakeConfigurationExport() { return QueltoSim::NewConfigurationExport(*g_activator); }
}  // namespace

QUELTO_SDK_EXPORT void QueltoSdk_RegisterAssembly(Runtime::IAssemblyBuilder& builder) {
    namespace D = Quelto::Common::Definitions;
    g_activator = &builder.Activator();
    builder.SetFullName(D::CfgReaderAssemblyName);
    builder.AddClass(D::ConfigurationExportBaseClass, &MakeConfigurationExport);
}
