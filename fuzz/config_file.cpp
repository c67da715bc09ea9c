// Configuration files through the facade's LoadConfiguration (the SDK's
// reader, then ToNative). A file that loads must also convert back.
#include "FuzzSupport.h"
#include "Quelto_ConfigurationHelpers.h"
#include "Quelto_DaqSystem.h"

#include <unistd.h>

#include <fstream>

namespace {

Quelto_DaqSystem* device = nullptr;
std::string path;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Fuzz::UseBuildLibraryFolder();
    device = new Quelto_DaqSystem();  // lives as long as the process
    path = "/tmp/quelto_fuzz_config_" + std::to_string(::getpid()) + ".json";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    Quelto_ConfigurationExportBase loaded;
    const char* error = Fuzz::Outcome([&] { loaded = device->LoadConfiguration(path.c_str()); });
    if (error && std::strcmp(error, "System.FormatException") != 0) {
        Fuzz::Fail(std::string("a file that exists failed with ") + error);
    }
    if (!error) {
        const char* back = Fuzz::Outcome([&] { Quelto_ConfigurationExportBaseHelper::ToManaged(loaded); });
        if (back) Fuzz::Fail(std::string("a loaded configuration does not convert back: ") + back);
    }
    return 0;
}
