// How an SDK library ("assembly") presents itself to the runtime: one entry
// point, QueltoSdk_RegisterAssembly, that names the assembly and registers
// each class it exports with a parameterless factory.
#pragma once

#include "Runtime.h"

#include <string>

#if defined(_WIN32)
#define QUELTO_SDK_EXPORT extern "C" __declspec(dllexport)
#else
#define QUELTO_SDK_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace Runtime {

using ClassFactory = Ref<Object> (*)();

// Services an SDK library may use: making objects of classes of other
// assemblies by name, found by the same rules as the bridge's own requests.
class IActivator {
public:
    virtual Ref<Object> CreateInstance(const std::string& assemblyFullName, const std::string& className) = 0;

protected:
    ~IActivator() = default;
};

// Handed to the entry point while the assembly loads.
class IAssemblyBuilder {
public:
    // The full display name, e.g.
    // "Quelto.Common, Version=1.0.0.0, Culture=neutral, PublicKeyToken=null".
    virtual void SetFullName(const std::string& fullName) = 0;
    // A class by its full dotted name, e.g. "Quelto.DaqSystem".
    virtual void AddClass(const std::string& className, ClassFactory factory) = 0;
    virtual IActivator& Activator() = 0;

protected:
    ~IAssemblyBuilder() = default;
};

// Makes a T through the activator, failing with InvalidCastException when
// the class is not a T.
template <class T>
Ref<T> CreateInstance(IActivator& activator, const std::string& assemblyFullName, const std::string& className) {
    Ref<Object> object = activator.CreateInstance(assemblyFullName, className);
    Ref<T> typed = std::dynamic_pointer_cast<T>(object);
    if (!typed) {
        throw InvalidCastException("Unable to cast object of type '" + className + "' to the requested interface.");
    }
    return typed;
}

}  // namespace Runtime

// Signature of the entry point every SDK library exports.
using QueltoSdkRegisterAssemblyFn = void (*)(Runtime::IAssemblyBuilder&);
#define QUELTO_SDK_ENTRY_POINT "QueltoSdk_RegisterAssembly"
