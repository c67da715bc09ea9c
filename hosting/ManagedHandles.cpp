// Owning handles and the base of the managed backend's contract objects;
// Wrap, which gives a new handle the contract object of its class.
#include "ManagedObjects.h"

namespace Hosting::Managed {

namespace D = Quelto::Common::Definitions;

Handle::~Handle() {
    if (h_) Api().Release(h_);
}

Value ManagedObject::Get(const char16_t* iface, const char16_t* name) const {
    Value v{};
    Check(Api().GetMember(handle_.get(), iface, name, &v));
    return v;
}

Value ManagedObject::Number(const char16_t* iface, const char16_t* name) const {
    const Value v = Get(iface, name);
    if (v.Obj) {
        Api().Release(v.Obj);
        throw Runtime::InvalidCastException("The SDK's " + Runtime::Text::ToUtf8(iface ? iface : u"") + "." +
                                            Runtime::Text::ToUtf8(name) + " is not a number.");
    }
    return v;
}

void ManagedObject::Set(const char16_t* iface, const char16_t* name, int64_t i, double d, intptr_t obj) {
    Check(Api().SetMember(handle_.get(), iface, name, i, d, obj));
}

intptr_t ManagedObject::Call(const char16_t* iface, const char16_t* method, int shape, intptr_t obj, int32_t number,
                             const char16_t* text) {
    intptr_t result = 0;
    Check(Api().Call(handle_.get(), iface, method, shape, obj, number, text, &result));
    return result;
}

intptr_t HandleOf(const Runtime::Ref<Runtime::Object>& object) {
    if (!object) return 0;
    auto* managed = dynamic_cast<ManagedObject*>(object.get());
    if (!managed) throw Runtime::InvalidCastException("A native SDK object cannot be passed to a managed SDK.");
    return managed->HandleValue();
}

std::shared_ptr<void> PinArray(intptr_t arrayHandle, PinnedArray& pinned) {
    struct Pinned {
        Handle array;
        intptr_t pin = 0;
        explicit Pinned(intptr_t a) : array(a) {}
        Pinned(const Pinned&) = delete;
        Pinned& operator=(const Pinned&) = delete;
        ~Pinned() {
            if (pin) Api().Release(pin);
        }
    };
    auto keep = std::make_shared<Pinned>(arrayHandle);
    Check(Api().Pin(arrayHandle, &pinned));
    keep->pin = pinned.Pin;
    return keep;
}

Runtime::Ref<Runtime::Object> Wrap(const std::string& className, intptr_t handle) {
    if (!handle) return nullptr;
    if (className == Quelto::DaqSystemClass) return AdoptDevice(handle);
    if (className == D::CaptureConfigurationClass) return AdoptCapture(handle);
    if (className == D::SensorConfigurationClass) return AdoptSensor(handle);
    if (className == D::FootSwTransducerEnabledClass) return AdoptEnabled(handle);
    if (className == D::FootSwTransducerThresholdClass) return AdoptThreshold(handle);
    if (className == D::CfgReaderClass) return AdoptReader(handle);
    if (className == D::ConfigurationExportBaseClass) return AdoptConfiguration(handle);
    return Adopt<ManagedObject>(handle);
}

}  // namespace Hosting::Managed
