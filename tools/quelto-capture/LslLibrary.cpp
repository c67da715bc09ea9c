#include "LslLibrary.h"

#include <dlfcn.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace Capture::Lsl {

namespace {

template <typename F>
bool Bind(void* handle, const char* name, F& slot, std::string& missing) {
    void* symbol = dlsym(handle, name);
    if (!symbol) {
        missing += missing.empty() ? name : std::string(", ") + name;
        return false;
    }
    slot = reinterpret_cast<F>(symbol);
    return true;
}

// Fills `api` from `handle`; the names of the functions it lacks otherwise.
std::string BindAll(void* handle, Api& api) {
    std::string missing;
    Bind(handle, "lsl_create_streaminfo", api.create_streaminfo, missing);
    Bind(handle, "lsl_destroy_streaminfo", api.destroy_streaminfo, missing);
    Bind(handle, "lsl_get_desc", api.get_desc, missing);
    Bind(handle, "lsl_append_child", api.append_child, missing);
    Bind(handle, "lsl_append_child_value", api.append_child_value, missing);
    Bind(handle, "lsl_create_outlet", api.create_outlet, missing);
    Bind(handle, "lsl_destroy_outlet", api.destroy_outlet, missing);
    Bind(handle, "lsl_push_chunk_ftnp", api.push_chunk_ftnp, missing);
    Bind(handle, "lsl_push_sample_strtp", api.push_sample_strtp, missing);
    Bind(handle, "lsl_have_consumers", api.have_consumers, missing);
    Bind(handle, "lsl_wait_for_consumers", api.wait_for_consumers, missing);
    Bind(handle, "lsl_local_clock", api.local_clock, missing);
    Bind(handle, "lsl_library_version", api.library_version, missing);
    return missing;
}

}  // namespace

std::vector<std::string> Candidates() {
    std::vector<std::string> places;
    for (const char* variable : {"QUELTO_LSL_LIBRARY", "MNE_LSL_LIB", "PYLSL_LIB"}) {
        const char* value = std::getenv(variable);
        if (value && *value) places.emplace_back(value);
    }
    places.emplace_back("liblsl.so.2");
    places.emplace_back("liblsl.so");
    return places;
}

const Library& Load(const std::string& configFile) {
    static std::unique_ptr<Library> loaded;
    if (loaded) return *loaded;
    // liblsl reads its configuration file once, when it first needs it; the
    // variable is its documented way to name one.
    if (!configFile.empty()) setenv("LSLAPICFG", configFile.c_str(), 1);
    std::string tried;
    for (const std::string& place : Candidates()) {
        dlerror();
        void* handle = dlopen(place.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = dlerror();
            tried += "\n  " + place + ": " + (why ? why : "cannot be opened");
            continue;
        }
        auto library = std::make_unique<Library>();
        const std::string missing = BindAll(handle, library->api);
        if (!missing.empty()) {
            tried += "\n  " + place + ": not a liblsl (lacks " + missing + ")";
            dlclose(handle);
            continue;
        }
        library->path = place;
        library->version = library->api.library_version();
        loaded = std::move(library);  // never closed: liblsl's threads outlive the outlets
        return *loaded;
    }
    throw std::runtime_error(
        "liblsl (the Lab Streaming Layer library) was not found. Tried:" + tried +
        "\nIts Python wheels carry it: `pip install pylsl` (or `pip install mne-lsl`) in a virtual "
        "environment, then set QUELTO_LSL_LIBRARY to the library inside the package, "
        ".../site-packages/pylsl/lib/liblsl.so.2 (or .../site-packages/mne_lsl/lsl/lib/liblsl.so.*).");
}

}  // namespace Capture::Lsl
