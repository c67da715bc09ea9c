/* The shim's header is a C header: compiled here as C11. */
#include "QueltoSimShim.h"

typedef int (*QueltoSimShim_WaitFn)(QueltoSimShim_Device*, QueltoSimShim_Block**, int32_t);
static const QueltoSimShim_WaitFn quelto_sim_shim_wait_check = &QueltoSimShim_DeviceWaitBlock;
const void* QueltoSimShim_HeaderCheck(void) { return (const void*)&quelto_sim_shim_wait_check; }
