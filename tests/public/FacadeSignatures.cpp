// The facade's members keep the signatures that hosts compiled against
// (checked when this file compiles): the 22 members of the class as first
// shipped. Members added later are not listed here.
#include "Quelto_DaqSystem.h"

#include <type_traits>

namespace {

using F = Quelto_DaqSystem;
template <class Actual, class Expected>
constexpr bool Same = std::is_same_v<Actual, Expected>;

static_assert(std::is_default_constructible_v<F>);
static_assert(std::is_copy_constructible_v<F>);
static_assert(std::is_copy_assignable_v<F>);
static_assert(std::is_destructible_v<F>);
static_assert(Same<decltype(&F::StartCapturing), void (F::*)(Quelto_DataAvailableEventPeriod)>);
static_assert(Same<decltype(&F::StopCapturing), void (F::*)()>);
static_assert(Same<decltype(&F::GetdeviceState), int (F::*)()>);
static_assert(Same<decltype(&F::SoftwareVersion), Quelto_SoftwareVersion (F::*)()>);
static_assert(Same<decltype(&F::CalibrateImuOffset), void (F::*)(int)>);
static_assert(Same<decltype(&F::CalibrateGyroscopeOffset), void (F::*)(int)>);
static_assert(Same<decltype(&F::CalibrateAccelerometerOffset), void (F::*)(int)>);
static_assert(Same<decltype(&F::CalibrateEMGOffset), void (F::*)(int)>);
static_assert(Same<decltype(&F::GenerateInternalStartTrigger), void (F::*)()>);
static_assert(Same<decltype(&F::GenerateInternalStopTrigger), void (F::*)()>);
static_assert(Same<decltype(&F::UpdateDisplay), void (F::*)()>);
static_assert(Same<decltype(&F::SaveCurrentRxConfiguration), void (F::*)()>);
static_assert(Same<decltype(&F::ConfigureCapture), void (F::*)(Quelto_CaptureConfiguration&)>);
static_assert(Same<decltype(&F::ConfigureSensor), void (F::*)(Quelto_SensorConfiguration&, int)>);
static_assert(Same<decltype(&F::LoadConfiguration), Quelto_ConfigurationExportBase (F::*)(const char*)>);
static_assert(Same<decltype(&F::AddDaqDataAvailableListener), void (F::*)(Quelto_DataAvailableListener, void*)>);
static_assert(Same<decltype(&F::RemoveDaqDataAvailableListener), void (F::*)(Quelto_DataAvailableListener, void*)>);
static_assert(Same<decltype(&F::DaqDataAvailable), void (F::*)(Quelto_DataAvailableEventArgs)>);

}  // namespace
