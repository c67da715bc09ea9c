#include "Quelto_ConfigurationHelpers.h"
#include "RecordBytes.h"

#include "AppDomain.h"

#include <cstdint>

namespace D = Quelto::Common::Definitions;
namespace R = PellimorCfgReader::Definitions;
using Config::FlagByte;

namespace {

// The number itself when 0 <= number <= max. SDK numbers arrive as int32
// (negative ones fail); native ones as uint16 widened without sign.
int32_t Checked(int64_t number, int64_t max) {
    if (number < 0 || number > max) throw Runtime::ArgumentOutOfRangeException();
    return static_cast<int32_t>(number);
}

template <class Native>
Native CheckedToNative(int32_t managed, int64_t max) {
    return static_cast<Native>(static_cast<uint16_t>(Checked(managed, max)));
}

template <class Managed>
Managed CheckedToManaged(uint16_t native, int64_t max) {
    return static_cast<Managed>(Checked(native, max));
}

}  // namespace

Quelto_ChannelSide Quelto_ChannelSideHelper::ToNative(R::ChannelSide managed) {
    return CheckedToNative<Quelto_ChannelSide>(static_cast<int32_t>(managed), Quelto_ChannelSide_Max);
}
R::ChannelSide Quelto_ChannelSideHelper::ToManaged(Quelto_ChannelSide native) {
    return CheckedToManaged<R::ChannelSide>(native, Quelto_ChannelSide_Max);
}

Quelto_ChannelType Quelto_ChannelTypeHelper::ToNative(R::ChannelType managed) {
    return CheckedToNative<Quelto_ChannelType>(static_cast<int32_t>(managed), Quelto_ChannelType_Max);
}
R::ChannelType Quelto_ChannelTypeHelper::ToManaged(Quelto_ChannelType native) {
    return CheckedToManaged<R::ChannelType>(native, Quelto_ChannelType_Max);
}

Quelto_InsoleSize Quelto_InsoleSizeHelper::ToNative(D::InsoleSize managed) {
    return CheckedToNative<Quelto_InsoleSize>(static_cast<int32_t>(managed), Quelto_InsoleSize_Max);
}
D::InsoleSize Quelto_InsoleSizeHelper::ToManaged(Quelto_InsoleSize native) {
    return CheckedToManaged<D::InsoleSize>(native, Quelto_InsoleSize_Max);
}

Quelto_FootSwProtocol Quelto_FootSwProtocolhelper::ToNative(D::FootSwProtocol managed) {
    return CheckedToNative<Quelto_FootSwProtocol>(static_cast<int32_t>(managed), Quelto_FootSwProtocol_Max);
}
D::FootSwProtocol Quelto_FootSwProtocolhelper::ToManaged(Quelto_FootSwProtocol native) {
    return CheckedToManaged<D::FootSwProtocol>(native, Quelto_FootSwProtocol_Max);
}

Quelto_FootSwTransducerEnabled Quelto_FootSwTransducerEnabledHelper::ToNative(
    const Runtime::Ref<D::IFootSwTransducerEnabled>& managed) {
    const D::IFootSwTransducerEnabled& m = Runtime::Deref(managed);
    Quelto_FootSwTransducerEnabled native{};
    native.T_A = m.get_T_A();
    native.T_1 = m.get_T_1();
    native.T_5 = m.get_T_5();
    native.T_T = m.get_T_T();
    return native;
}

Runtime::Ref<D::IFootSwTransducerEnabled> Quelto_FootSwTransducerEnabledHelper::ToManaged(
    const Quelto_FootSwTransducerEnabled& native) {
    auto managed = Runtime::AppDomain::CurrentDomain().CreateInstance<D::IFootSwTransducerEnabled>(
        D::CommonAssemblyName, D::FootSwTransducerEnabledClass);
    managed->set_T_A(FlagByte(native.T_A));
    managed->set_T_1(FlagByte(native.T_1));
    managed->set_T_5(FlagByte(native.T_5));
    managed->set_T_T(FlagByte(native.T_T));
    return managed;
}

Quelto_FootSwTransducerThreshold Quelto_FootSwTransducerThresholdHelper::ToNative(
    const Runtime::Ref<D::IFootSwTransducerThreshold>& managed) {
    const D::IFootSwTransducerThreshold& m = Runtime::Deref(managed);
    Quelto_FootSwTransducerThreshold native{};
    native.T_A = m.get_T_A();
    native.T_1 = m.get_T_1();
    native.T_5 = m.get_T_5();
    native.T_T = m.get_T_T();
    return native;
}

Runtime::Ref<D::IFootSwTransducerThreshold> Quelto_FootSwTransducerThresholdHelper::ToManaged(
    const Quelto_FootSwTransducerThreshold& native) {
    auto managed = Runtime::AppDomain::CurrentDomain().CreateInstance<D::IFootSwTransducerThreshold>(
        D::CommonAssemblyName, D::FootSwTransducerThresholdClass);
    managed->set_T_A(native.T_A);
    managed->set_T_1(native.T_1);
    managed->set_T_5(native.T_5);
    managed->set_T_T(native.T_T);
    return managed;
}

Quelto_Color Quelto_DefinitionsHelper::ToQueltoColor(System::Drawing::Color managed) {
    return Quelto_Color{managed.A(), managed.R(), managed.G(), managed.B()};
}

System::Drawing::Color Quelto_DefinitionsHelper::ToSystemDrawingColor(const Quelto_Color& native) {
    return System::Drawing::Color::FromArgb(native.A, native.R, native.G, native.B);
}
