// Shared pieces of the shim's sources: handle types, the error channel and
// the activator that makes the simulated configuration classes.
#pragma once

#include "QueltoSimShim.h"
#include "SdkContract.h"
#include "SdkModule.h"

#include <string>
#include <utility>

struct QueltoSimShim_Block {
    Runtime::Ref<Quelto::Common::Definitions::DataAvailableEventArgs> e;
};

struct QueltoSimShim_Object {
    Runtime::Ref<Runtime::Object> o;
};

struct QueltoSimShim_Config {
    Runtime::Ref<Quelto::Common::Definitions::ConfigurationExportBase> c;
};

namespace QueltoSimShim {

// A failure injected by a test: any .NET type name with its message.
class InjectedException final : public Runtime::Exception {
public:
    InjectedException(std::string type, std::string message)
        : Runtime::Exception(std::move(message)), type_(std::move(type)) {}
    const char* TypeName() const noexcept override { return type_.c_str(); }

private:
    std::string type_;
};

void SetLastError(const char* type, const std::string& message);

// Runs `f`, turning every exception into the thread's last error and -1.
template <class F>
int Guard(F&& f) noexcept {
    try {
        f();
        return 0;
    } catch (const Runtime::Exception& e) {
        SetLastError(e.TypeName(), e.Message());
    } catch (const std::bad_alloc&) {
        SetLastError("System.OutOfMemoryException", "Insufficient memory to continue the execution of the program.");
    } catch (const std::exception& e) {
        SetLastError("System.Exception", e.what());
    } catch (...) {
        SetLastError("System.Exception", "Unknown native exception.");
    }
    return -1;
}

// Makes the classes of the simulated Quelto.Common by name.
Runtime::IActivator& Activator();

}  // namespace QueltoSimShim
