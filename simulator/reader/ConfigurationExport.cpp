#include "ConfigurationExport.h"

namespace QueltoSim {

namespace D = Quelto::Common::Definitions;

Runtime::Ref<D::ConfigurationExportBase> NewConfigurationExport(Runtime::IActivator& activator) {
    using Runtime::NewArray;
    auto c = std::make_shared<D::ConfigurationExportBase>();
    c->CaptureConfiguration =
        Runtime::CreateInstance<D::ICaptureConfiguration>(activator, D::CommonAssemblyName, D::CaptureConfigurationClass);
    c->SensorConfiguration = NewArray<Runtime::Ref<D::ISensorConfiguration>>(SensorCount);
    for (int i = 0; i < SensorCount; ++i) {
        (*c->SensorConfiguration)[i] =
            Runtime::CreateInstance<D::ISensorConfiguration>(activator, D::CommonAssemblyName, D::SensorConfigurationClass);
    }
    auto block = [](int n, auto& installed, auto& enabled, auto& name, auto& unit, auto& scale, auto& type, auto& side,
                    auto& color, auto& fullScale) {
        installed = NewArray<bool>(n);
        enabled = NewArray<bool>(n);
        name = NewArray<Runtime::String>(n);
        unit = NewArray<Runtime::String>(n);
        scale = NewArray<float>(n);
        type = NewArray<D::ConfigurationExportBase::ChannelType>(n);
        side = NewArray<D::ConfigurationExportBase::ChannelSide>(n);
        color = NewArray<System::Drawing::Color>(n);
        fullScale = NewArray<float>(n);
    };
    block(SensorCount, c->InstalledEfaChannels, c->EnabledEfaChannels, c->EfaChannelName, c->EfaChannelUnit,
          c->EfaChannelScale, c->EfaChannelType, c->EfaChannelSide, c->EfaChannelLineColor, c->EfaChannelFullScale);
    block(SensorCount, c->InstalledImuChannels, c->EnabledImuChannels, c->ImuChannelName, c->ImuChannelUnit,
          c->ImuChannelScale, c->ImuChannelType, c->ImuChannelSide, c->ImuChannelLineColor, c->ImuChannelFullScale);
    block(SensorCount, c->InstalledAccFswMapChannels, c->EnabledAccFswMapChannels, c->AccFswMapChannelName,
          c->AccFswMapChannelUnit, c->AccFswMapChannelScale, c->AccFswMapChannelType, c->AccFswMapChannelSide,
          c->AccFswMapChannelLineColor, c->AccFswMapChannelFullScale);
    block(ImuAgmCount, c->InstalledImuAgmChannels, c->EnabledImuAgmChannels, c->ImuAgmChannelName,
          c->ImuAgmChannelUnit, c->ImuAgmChannelScale, c->ImuAgmChannelType, c->ImuAgmChannelSide,
          c->ImuAgmChannelLineColor, c->ImuAgmChannelFullScale);
    c->AnalogOutputChannelType = NewArray<D::ConfigurationExportBase::ChannelType>(AnalogOutputRows, AnalogOutputColumns);
    c->AnalogOutputSensorNum = NewArray<int32_t>(AnalogOutputRows, AnalogOutputColumns);
    c->AnalogOutputChannelAxis = NewArray<int32_t>(AnalogOutputRows, AnalogOutputColumns);
    c->InstalledInsoles = NewArray<bool>(InsoleCount);
    c->EnabledInsoles = NewArray<bool>(InsoleCount);
    c->PlottingEnabledInsoles = NewArray<bool>(InsoleCount);
    c->InsoleName = NewArray<Runtime::String>(InsoleCount);
    c->InsoleUnit = NewArray<Runtime::String>(InsoleCount);
    c->InsoleScale = NewArray<float>(InsoleCount);
    c->InsoleSide = NewArray<D::ConfigurationExportBase::ChannelSide>(InsoleCount);
    c->InsoleSize = NewArray<D::InsoleSize>(InsoleCount);
    c->InsoleFullScale = NewArray<float>(InsoleCount);
    c->EnabledInsoleImuChannels = NewArray<bool>(InsoleCount);
    return c;
}

}  // namespace QueltoSim
