// The runtime's exception base: its message and the call stack of the throw.
#include "Runtime.h"

namespace Runtime {

Exception::Exception(std::string message) : message_(std::move(message)), stack_(CaptureStackTrace(2)) {}

std::string Exception::ToString() const {
    std::string text = TypeName();
    if (!message_.empty()) {
        text += ": ";
        text += message_;
    }
    if (!stack_.empty()) {
        text += '\n';
        text += stack_;
    }
    return text;
}

}  // namespace Runtime
