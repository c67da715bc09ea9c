// Shared pieces of the fuzz targets: the SDK found in the build's library
// folder, and the rule that only the runtime's exceptions may come out.
#pragma once

#include "AppDomain.h"
#include "SdkTestSupport.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

namespace Fuzz {

using TestSupport::UseBuildLibraryFolder;

[[noreturn]] inline void Fail(const std::string& what) {
    std::fprintf(stderr, "fuzz: %s\n", what.c_str());
    std::abort();
}

// Runs `body`: a result, or a documented error (a Runtime::Exception).
// Anything else thrown is a finding. Returns the exception's type name, or
// null when body returned.
template <class F>
const char* Outcome(F&& body) {
    try {
        body();
        return nullptr;
    } catch (const Runtime::Exception& e) {
        return e.TypeName();
    } catch (const std::exception& e) {
        Fail(std::string("undocumented exception: ") + e.what());
    } catch (...) {
        Fail("undocumented exception of unknown type");
    }
}

// Takes bytes off the front of the input; zeros once it is used up.
class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    template <class T>
    T Take() {
        T value{};
        const size_t n = size_ < sizeof value ? size_ : sizeof value;
        std::memcpy(&value, data_, n);
        data_ += n;
        size_ -= n;
        return value;
    }
    void Fill(void* out, size_t n) {
        std::memset(out, 0, n);
        const size_t k = size_ < n ? size_ : n;
        std::memcpy(out, data_, k);
        data_ += k;
        size_ -= k;
    }
    size_t Left() const { return size_; }

private:
    const uint8_t* data_;
    size_t size_;
};

}  // namespace Fuzz
