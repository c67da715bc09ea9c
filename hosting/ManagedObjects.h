// The managed backend's object model: owning handles to managed objects,
// the base of every contract object of this backend, pinned views of
// managed arrays, and the makers of each kind of object. Defined by
// concern: ManagedHandles.cpp (handles, Wrap), ManagedConfigurationObjects.cpp,
// ManagedDevice.cpp (the device and its subscriptions), ManagedBlocks.cpp
// (its data events), ManagedConfigurationFile.cpp (the configuration reader
// and its records).
#pragma once

#include "ManagedInterop.h"
#include "ManagedRuntime.h"

#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

namespace Hosting::Managed {

// An owning handle (a GC handle), released when its holder goes.
class Handle {
public:
    explicit Handle(intptr_t h) : h_(h) {}
    ~Handle();
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    intptr_t get() const { return h_; }

private:
    intptr_t h_;
};

// A contract object of this backend: holds its managed object and forwards
// members to it by interface and member name.
class ManagedObject : public virtual Runtime::Object {
public:
    explicit ManagedObject(intptr_t h) : handle_(h) {}
    intptr_t HandleValue() const { return handle_.get(); }

protected:
    Value Get(const char16_t* iface, const char16_t* name) const;
    // A member that must be a number, flag or enumeration: an object (a text,
    // say) fails with InvalidCastException, its handle let go.
    Value Number(const char16_t* iface, const char16_t* name) const;
    void Set(const char16_t* iface, const char16_t* name, int64_t i, double d = 0, intptr_t obj = 0);
    intptr_t Call(const char16_t* iface, const char16_t* method, int shape = 0, intptr_t obj = 0, int32_t number = 0,
                  const char16_t* text = nullptr);

private:
    Handle handle_;
};

// The handle of a contract object of this backend (0 for null); objects of
// the native backend cannot be handed to a managed SDK.
intptr_t HandleOf(const Runtime::Ref<Runtime::Object>& object);

template <class T>
Runtime::Ref<T> Adopt(intptr_t handle) {
    if (!handle) return nullptr;
    return std::make_shared<T>(handle);
}

// The System.TypeCode the helper gives for elements of type T (of an
// enumeration: of its underlying type).
template <class T>
constexpr int32_t TypeCodeOf() {
    if constexpr (std::is_enum_v<T>) {
        return TypeCodeOf<std::underlying_type_t<T>>();
    } else if constexpr (std::is_same_v<T, bool>) {
        return 3;
    } else if constexpr (std::is_same_v<T, char16_t>) {
        return 4;
    } else if constexpr (std::is_integral_v<T>) {
        constexpr int32_t width = sizeof(T) == 1 ? 0 : sizeof(T) == 2 ? 1 : sizeof(T) == 4 ? 2 : 3;
        return (std::is_signed_v<T> ? 5 : 6) + 2 * width;  // SByte 5, Byte 6, Int16 7 ... UInt64 12
    } else {
        static_assert(std::is_floating_point_v<T>, "a primitive element type");
        return sizeof(T) == 4 ? 13 : 14;  // Single, Double
    }
}

// The extents of an array the helper handed over, of rank `Rank` whose
// elements are T's. The helper gives storage only for arrays of a primitive
// element type: any other (strings, objects, decimals, dates, nested arrays)
// comes with element size 0 and no storage address, and is refused here like
// a primitive of another type (int for float: the same size), with the text
// refusal() makes.
template <class T, int Rank, class Refusal>
std::array<int32_t, Rank> ExtentsOf(const PinnedArray& p, Refusal&& refusal) {
    static_assert(Rank >= 1 && Rank <= 3, "the helper gives three extents");
    if (p.Rank != Rank || p.ElementSize != static_cast<int32_t>(sizeof(T)) || p.ElementType != TypeCodeOf<T>()) {
        throw Runtime::InvalidCastException(refusal());
    }
    std::array<int32_t, Rank> extents{};
    bool empty = false;
    for (int d = 0; d < Rank; ++d) {
        extents[d] = p.Length[d];
        empty = empty || p.Length[d] <= 0;
    }
    if (!empty && !p.Data) throw Runtime::InvalidCastException(refusal());
    return extents;
}

// Pins the managed array `arrayHandle` (taking over the handle) and keeps
// it pinned as long as the returned owner lives.
std::shared_ptr<void> PinArray(intptr_t arrayHandle, PinnedArray& pinned);

// A pinned managed array seen in place: writes reach the managed array.
// `name`: the field or property it was read from, for the failure's text.
template <class T, int Rank>
Runtime::ArrayRef<T, Rank> ViewOf(intptr_t arrayHandle, const char16_t* name) {
    if (!arrayHandle) return nullptr;
    PinnedArray p{};
    auto keep = PinArray(arrayHandle, p);
    const auto extents = ExtentsOf<T, Rank>(p, [&] {
        return "The managed array's rank or element type is not the one expected: " + Runtime::Text::ToUtf8(name) + ".";
    });
    return Runtime::Array<T, Rank>::View(static_cast<T*>(p.Data), extents, std::move(keep));
}

// The contract object for a new handle to an object of `className` (null
// for 0); the handle is taken over.
Runtime::Ref<Runtime::Object> Wrap(const std::string& className, intptr_t handle);

// Makers by kind, each taking over the handle (null for 0).
Runtime::Ref<Quelto::Common::Definitions::ICaptureConfiguration> AdoptCapture(intptr_t handle);
Runtime::Ref<Quelto::Common::Definitions::ISensorConfiguration> AdoptSensor(intptr_t handle);
Runtime::Ref<Quelto::Common::Definitions::IFootSwTransducerEnabled> AdoptEnabled(intptr_t handle);
Runtime::Ref<Quelto::Common::Definitions::IFootSwTransducerThreshold> AdoptThreshold(intptr_t handle);
Runtime::Ref<Quelto::Common::Definitions::IExtVersion> AdoptVersion(intptr_t handle);
Runtime::Ref<Quelto::Interfaces::IDaqSystem> AdoptDevice(intptr_t handle);
Runtime::Ref<Quelto::Common::Definitions::ICfgReader> AdoptReader(intptr_t handle);
Runtime::Ref<Quelto::Common::Definitions::ConfigurationExportBase> AdoptConfiguration(intptr_t handle);
// Block storage of a subscription that the host is done with, kept for a
// later block of it: once blocks come steadily, the helper copies each into
// memory the last one warmed, and no storage is made or freed per block.
class StorageShelf {
public:
    StorageShelf() = default;
    StorageShelf(const StorageShelf&) = delete;
    StorageShelf& operator=(const StorageShelf&) = delete;
    ~StorageShelf() { FreeBlockStorage(storage_); }

    // Keeps `storage` of `bytes` when nothing is kept, else frees it.
    void Put(void* storage, int64_t bytes) noexcept;
    // Moves the kept storage into the crossing, in place of its own (freed);
    // false when nothing is kept.
    bool Take(BlockCrossing& crossing) noexcept;

private:
    std::mutex mutex_;
    void* storage_ = nullptr;
    int64_t bytes_ = 0;
};

// A block the SDK raised, as the helper's event sink hands it over: takes
// over the crossing's storage, which goes to `shelf` (when given) once the
// block is let go.
Runtime::Ref<Quelto::Common::Definitions::DataAvailableEventArgs> ArrivingBlock(
    BlockCrossing& block, int32_t status, std::shared_ptr<StorageShelf> shelf = nullptr);

// Interface names the objects are reached through.
inline constexpr const char16_t* DeviceInterface = u"Quelto.Interfaces.IDaqSystem";
inline constexpr const char16_t* CaptureInterface = u"Quelto.Common.Definitions.ICaptureConfiguration";
inline constexpr const char16_t* SensorInterface = u"Quelto.Common.Definitions.ISensorConfiguration";
inline constexpr const char16_t* EnabledInterface = u"Quelto.Common.Definitions.IFootSwTransducerEnabled";
inline constexpr const char16_t* ThresholdInterface = u"Quelto.Common.Definitions.IFootSwTransducerThreshold";
inline constexpr const char16_t* VersionInterface = u"Quelto.Common.Definitions.IExtVersion";
inline constexpr const char16_t* ReaderInterface = u"PellimorCfgReader.ICfgReader";

}  // namespace Hosting::Managed
