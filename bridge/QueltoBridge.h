/* Quelto.bridge C API: drive one acquisition device through an opaque handle.
 *
 * Compiles as C11 and C++. Everything a C host needs is declared here.
 *
 * Handles: Quelto_Bridge_Create returns one; every other function takes it.
 *   A NULL handle is accepted by every function and does nothing
 *   (Quelto_Bridge_GetdeviceState then returns QUELTO_BRIDGE_STATE_UNKNOWN).
 *   Functions may be called from any host thread; call Quelto_Bridge_Create
 *   and Quelto_Bridge_Destroy for one handle once each.
 *
 * Failures: no function lets an exception escape. A failure is appended to
 *   the error log and to the debug trace output, the function returns (NULL
 *   from Create, QUELTO_BRIDGE_STATE_UNKNOWN from GetdeviceState), and
 *   Quelto_Bridge_GetLastError on the same thread returns its text.
 *
 * Error log: <folder of the bridge library>/LOG/ErrorLog.txt, appended as
 *   UTF-8, each report followed by a blank line. The environment variable
 *   QUELTO_BRIDGE_LOG_DIR, when set, replaces the bridge library's folder.
 *   The LOG folder is created when missing.
 *
 * SDK libraries (Quelto.dll, Quelto.Common.dll, PellimorCfgReader.dll) are
 *   looked for beside the bridge library.
 *
 * Callbacks: run on the handle's worker thread, one block at a time, in the
 *   order the device produced them. The record and every buffer it points
 *   to are valid only during the call. A callback may unregister callbacks
 *   (also itself) and may destroy its own handle (the worker then ends after
 *   the callback returns; later callbacks of that block are skipped). A
 *   callback may destroy another handle; Destroy then waits for that
 *   handle's callback in progress, except when that callback is itself
 *   waiting, directly or through other handles, for the calling callback
 *   (two callbacks destroying each other's handles): that destruction does
 *   not wait and skips the later callbacks of the block, so neither hangs.
 *
 * Slow host: blocks wait for the callbacks without limit. The debug trace
 *   says so when the oldest waiting block has waited 1 s, again at 10 s, and
 *   once more when the queue has drained. */
#ifndef QUELTO_BRIDGE_H
#define QUELTO_BRIDGE_H

#include "QueltoExport.h"
#include "Quelto_CaptureConfiguration.h"
#include "Quelto_DataAvailableEventArgs_C.h"
#include "Quelto_Enums.h"
#include "Quelto_SensorConfiguration.h"
#include "Quelto_ValueTypes.h"

/* Version of this header and of the library built from it (semantic
 * versioning: the major number is the one in the library's file name). */
#define QUELTO_BRIDGE_VERSION_MAJOR 1
#define QUELTO_BRIDGE_VERSION_MINOR 0
#define QUELTO_BRIDGE_VERSION_PATCH 0
/* One comparable number: major * 10000 + minor * 100 + patch. */
#define QUELTO_BRIDGE_VERSION \
    (QUELTO_BRIDGE_VERSION_MAJOR * 10000 + QUELTO_BRIDGE_VERSION_MINOR * 100 + QUELTO_BRIDGE_VERSION_PATCH)

#ifdef __cplusplus
extern "C" {
#endif

/* Data callback: one block and the context given at registration. */
typedef void(QUELTO_CALL* Quelto_DataCallback)(const Quelto_DataAvailableEventArgs_C* args, void* context);

/* Returned by Quelto_Bridge_GetdeviceState for a NULL handle or a failure. */
#define QUELTO_BRIDGE_STATE_UNKNOWN (-1)

/* Creates a device (the SDK's device object and the worker thread). Capture
 * starts only with Quelto_Bridge_StartCapturing. NULL on failure (reported
 * in the error log, e.g. when the SDK libraries are not beside the bridge). */
QUELTO_API void* QUELTO_CALL Quelto_Bridge_Create(void);

/* Stops the worker (the block being delivered reaches every callback first;
 * queued blocks are dropped), releases the device and every registration.
 * NULL: nothing. From a callback: see Callbacks above. */
QUELTO_API void QUELTO_CALL Quelto_Bridge_Destroy(void* bridge);

/* Starts capture with the device's default block period (100 ms on the
 * simulated device). */
QUELTO_API void QUELTO_CALL Quelto_Bridge_StartCapturing(void* bridge);
QUELTO_API void QUELTO_CALL Quelto_Bridge_StopCapturing(void* bridge);

/* Registers cb with context. No duplicate check: a pair registered twice is
 * called twice per block. A NULL cb registers an entry that calls nothing.
 * Register before starting capture to receive the first block. */
QUELTO_API void QUELTO_CALL Quelto_Bridge_RegisterDataCallback(void* bridge, Quelto_DataCallback cb, void* context);

/* Removes the oldest registration of this cb and context. When it returns
 * (on a host thread), that registration is never called again: a call in
 * progress is waited for. From inside a callback it does not wait. */
QUELTO_API void QUELTO_CALL Quelto_Bridge_UnregisterDataCallback(void* bridge, Quelto_DataCallback cb, void* context);

/* Configuration records are only read. A record that does not convert
 * (FootSwProtocol above 2) fails and sends nothing to the device. */
QUELTO_API void QUELTO_CALL Quelto_Bridge_ConfigureCapture(void* bridge, Quelto_CaptureConfiguration* configuration);
/* sensorIndex 1 to 36: that sensor; 0: sensors 1 to 36; other: nothing. */
QUELTO_API void QUELTO_CALL Quelto_Bridge_ConfigureSensor(void* bridge, Quelto_SensorConfiguration* configuration,
                                                          int sensorIndex);

QUELTO_API void QUELTO_CALL Quelto_Bridge_CalibrateImuOffset(void* bridge, int sensorIndex);
QUELTO_API void QUELTO_CALL Quelto_Bridge_CalibrateGyroscopeOffset(void* bridge, int sensorIndex);
QUELTO_API void QUELTO_CALL Quelto_Bridge_CalibrateAccelerometerOffset(void* bridge, int sensor);
QUELTO_API void QUELTO_CALL Quelto_Bridge_CalibrateEMGOffset(void* bridge, int sensor);
QUELTO_API void QUELTO_CALL Quelto_Bridge_UpdateDisplay(void* bridge);
QUELTO_API void QUELTO_CALL Quelto_Bridge_SaveCurrentRxConfiguration(void* bridge);

/* The device's state number (Quelto_DeviceState), or
 * QUELTO_BRIDGE_STATE_UNKNOWN. */
QUELTO_API int QUELTO_CALL Quelto_Bridge_GetdeviceState(void* bridge);

/* Version of the loaded library, "major.minor.patch" (static text; compare
 * with the QUELTO_BRIDGE_VERSION_* macros the host was built with). */
QUELTO_API const char* QUELTO_CALL Quelto_Bridge_GetVersion(void);

/* Text of the failure of the last Quelto_Bridge_* call made on this thread,
 * or NULL when that call succeeded. Valid until the next call on this
 * thread. */
QUELTO_API const char* QUELTO_CALL Quelto_Bridge_GetLastError(void);

#ifdef __cplusplus
}

/* C++ hosts may pass the records by reference too. */
inline void Quelto_Bridge_ConfigureCapture(void* bridge, Quelto_CaptureConfiguration& configuration) {
    Quelto_Bridge_ConfigureCapture(bridge, &configuration);
}
inline void Quelto_Bridge_ConfigureSensor(void* bridge, Quelto_SensorConfiguration& configuration, int sensorIndex) {
    Quelto_Bridge_ConfigureSensor(bridge, &configuration, sensorIndex);
}
#endif

#endif
