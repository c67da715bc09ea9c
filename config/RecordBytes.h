// Reading host-written record fields.
#pragma once

#include <cstring>

namespace Config {

// A boolean byte of a host record. Hosts may store any value there, and
// loading a bool that holds neither 0 nor 1 is undefined, so read the byte.
inline bool FlagByte(const bool& flag) noexcept {
    unsigned char byte;
    std::memcpy(&byte, &flag, 1);
    return byte != 0;
}

}  // namespace Config
