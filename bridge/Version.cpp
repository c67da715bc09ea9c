#include "QueltoBridge.h"

#define QUELTO_STR2(x) #x
#define QUELTO_STR(x) QUELTO_STR2(x)

// The header's macros and the project's version must agree.
#if defined(QUELTO_PROJECT_VERSION_MAJOR)
static_assert(QUELTO_BRIDGE_VERSION_MAJOR == QUELTO_PROJECT_VERSION_MAJOR &&
                  QUELTO_BRIDGE_VERSION_MINOR == QUELTO_PROJECT_VERSION_MINOR &&
                  QUELTO_BRIDGE_VERSION_PATCH == QUELTO_PROJECT_VERSION_PATCH,
              "QueltoBridge.h version macros differ from project(VERSION)");
#endif

extern "C" QUELTO_API const char* QUELTO_CALL Quelto_Bridge_GetVersion(void) {
    // Nothing here can fail, so the last-error text is left as it is.
    return QUELTO_STR(QUELTO_BRIDGE_VERSION_MAJOR) "." QUELTO_STR(QUELTO_BRIDGE_VERSION_MINOR) "." QUELTO_STR(
        QUELTO_BRIDGE_VERSION_PATCH);
}
