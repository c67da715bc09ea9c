// Entry point of the simulated Quelto.Common library.
#include "ConfigurationClasses.h"
#include "SdkModule.h"

namespace {
template <class T>
Runtime::Ref<Runtime::Object> Make() {
    return std::make_shared<T>();
}
}  // namespace

QUELTO_SDK_EXPORT void QueltoSdk_RegisterAssembly(Runtime::IAssemblyBuilder& builder) {
    namespace D = Quelto::Common::Definitions;
    builder.SetFullName(D::CommonAssemblyName);
    builder.AddClass(D::CaptureConfigurationClass, &Make<QueltoSim::CaptureConfiguration>);
    builder.AddClass(D::SensorConfigurationClass, &Make<QueltoSim::SensorConfiguration>);
    builder.AddClass(D::FootSwTransducerEnabledClass, &Make<QueltoSim::FootSwTransducerEnabled>);
    builder.AddClass(D::FootSwTransducerThresholdClass, &Make<QueltoSim::FootSwTransducerThreshold>);
}
