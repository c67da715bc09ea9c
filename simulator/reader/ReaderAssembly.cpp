// Entry point of the simulated PellimorCfgReader library.
#include "ConfigFile.h"
#include "ConfigurationExport.h"

namespace {

namespace D = Quelto::Common::Definitions;

Runtime::IActivator* g_activator = nullptr;

// Reads the JSON configuration files of docs/configuration-format.md.
class CfgReader final : public D::ICfgReader {
public:
    Runtime::Ref<D::ConfigurationExportBase> ReadCfgFile(const Runtime::String& path) override {
        if (!path) throw Runtime::ArgumentNullException("Value cannot be null.\nParameter name: path");
        return QueltoSim::ReadConfigFile(Runtime::Text::ToUtf8(*path), *g_activator);
    }
};

Runtime::Ref<Runtime::Object> MakeConfigurationExport() { return QueltoSim::NewConfigurationExport(*g_activator); }
Runtime::Ref<Runtime::Object> MakeCfgReader() { return std::make_shared<CfgReader>(); }

}  // namespace

QUELTO_SDK_EXPORT void QueltoSdk_RegisterAssembly(Runtime::IAssemblyBuilder& builder) {
    g_activator = &builder.Activator();
    builder.SetFullName(D::CfgReaderAssemblyName);
    builder.AddClass(D::ConfigurationExportBaseClass, &MakeConfigurationExport);
    builder.AddClass(D::CfgReaderClass, &MakeCfgReader);
}
