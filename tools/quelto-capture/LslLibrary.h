// The Lab Streaming Layer's C library, opened at run time only when
// streaming is asked for. liblsl ships without headers in the Python wheels
// that carry it, so the few functions used are declared here from its
// documented C API.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Capture::Lsl {

using StreamInfo = void*;  // lsl_streaminfo
using Outlet = void*;      // lsl_outlet
using Xml = void*;         // lsl_xml_ptr

// lsl_channel_format_t
inline constexpr int FormatFloat32 = 1;
inline constexpr int FormatString = 3;
// A stream without a regular rate (markers).
inline constexpr double IrregularRate = 0.0;

struct Api {
    StreamInfo (*create_streaminfo)(const char* name, const char* type, int32_t channels, double rate, int32_t format,
                                    const char* sourceId);
    void (*destroy_streaminfo)(StreamInfo info);
    Xml (*get_desc)(StreamInfo info);
    Xml (*append_child)(Xml element, const char* name);
    Xml (*append_child_value)(Xml element, const char* name, const char* value);
    Outlet (*create_outlet)(StreamInfo info, int32_t chunkSize, int32_t maxBuffered);
    void (*destroy_outlet)(Outlet outlet);
    int32_t (*push_chunk_ftnp)(Outlet outlet, const float* data, unsigned long elements, const double* stamps,
                               int32_t pushthrough);
    int32_t (*push_sample_strtp)(Outlet outlet, const char** data, double stamp, int32_t pushthrough);
    int32_t (*have_consumers)(Outlet outlet);
    int32_t (*wait_for_consumers)(Outlet outlet, double timeout);
    double (*local_clock)();
    int32_t (*library_version)();
};

// The library found and its functions.
struct Library {
    Api api{};
    std::string path;  // what was opened
    int version = 0;   // lsl_library_version(): 117 for 1.17
};

// Where liblsl is looked for, in order: QUELTO_LSL_LIBRARY, MNE_LSL_LIB,
// PYLSL_LIB (as set), then the loader's path (liblsl.so.2, liblsl.so).
std::vector<std::string> Candidates();

// Opens the first candidate that loads and has every function. Throws
// std::runtime_error naming each place tried and why, and how to get liblsl.
// `configFile` (may be empty) is an lsl_api.cfg for the library to read; it
// must be given before the library starts its own threads.
const Library& Load(const std::string& configFile);

}  // namespace Capture::Lsl
