/* C host whose flags come from quelto-bridge.pc. */
#include "QueltoBridge.h"

#include <stdio.h>

int main(void) {
    void* device = Quelto_Bridge_Create();
    if (!device) {
        fprintf(stderr, "create: %s\n", Quelto_Bridge_GetLastError() ? Quelto_Bridge_GetLastError() : "?");
        return 1;
    }
    const int state = Quelto_Bridge_GetdeviceState(device);
    Quelto_Bridge_Destroy(device);
    if (state < 0) return 1;
    printf("consumer_pkgconfig: version %s, state %d\n", Quelto_Bridge_GetVersion(), state);
    return 0;
}
