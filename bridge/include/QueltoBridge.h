/* Quelto.bridge C API: drive one acquisition device through an opaque handle.
 *
 * Compiles as C11 and C++. Everything a C host needs is declared here;
 * docs/data-layout.md describes the buffers of a block.
 *
 * Handles. Quelto_Bridge_Create returns one; every other function takes it.
 *   A NULL handle is accepted by every function and does nothing
 *   (Quelto_Bridge_GetdeviceState then returns QUELTO_BRIDGE_STATE_UNKNOWN).
 *   Calls on one handle may come from any host thread, but no call may
 *   overlap or follow Quelto_Bridge_Destroy of that handle: after Destroy
 *   has started, the handle is gone. (One overlap is safe: an
 *   Unregister that waits for a running callback returns safely when that
 *   callback destroys the handle.) Call Quelto_Bridge_Create from one
 *   thread at a time.
 *
 * Threads. Every function runs on the calling thread. Blocks are delivered
 *   on the handle's own worker thread, which runs from Create to Destroy:
 *   the device's thread only queues each block, the worker flattens it and
 *   calls the callbacks, one block at a time, in the order the device
 *   produced them.
 *
 * The queue. Blocks wait for the worker in a queue without a bound: nothing
 *   is dropped or merged while the handle lives, so a callback slower than
 *   the device makes the queue (and the memory) grow until it catches up.
 *   A 100 ms block with every stream on holds about 78 KB. The debug trace
 *   says so when the oldest waiting block has waited 1 s, again at 10 s,
 *   and once more when the queue has drained.
 *
 * Callbacks. A callback runs on the worker thread. The record and every
 *   buffer it points to are valid only during the call: copy what you keep,
 *   free nothing. A callback may call every function of this header:
 *   - on its own handle: registering (the new callback gets the next
 *     block), unregistering (also itself; that does not wait) and Destroy
 *     (the worker then ends when the callback returns, and the later
 *     callbacks of that block are skipped) included;
 *   - on another handle: Destroy waits for the block being delivered there
 *     to reach every callback, except where that handle's worker is itself
 *     waiting, directly or through other handles, for the calling callback
 *     (two callbacks destroying each other's handles): that Destroy does not
 *     wait and skips the later callbacks of that block, so neither hangs.
 *     Unregister of a callback that is running waits for it: two callbacks
 *     that unregister each other's running callbacks wait forever.
 *
 * Failures. No function lets an exception escape. A failure is written to
 *   the debug trace output and appended to the error log, the function
 *   returns (NULL from Create, QUELTO_BRIDGE_STATE_UNKNOWN from
 *   GetdeviceState), and Quelto_Bridge_GetLastError on the same thread
 *   returns its text: "<function>: <type>: <message>" followed by the call
 *   stack, one "   at ..." line per frame, or "<function>: Unknown
 *   unmanaged exception" when the failure carried no description.
 *
 * Error log. <folder of the bridge library>/LOG/ErrorLog.txt, appended as
 *   UTF-8, each report followed by a blank line. The environment variable
 *   QUELTO_BRIDGE_LOG_DIR, when set, replaces the bridge library's folder.
 *   The LOG folder is created when missing. When that folder or file cannot
 *   be written (a system install, for a user), the report goes to
 *   $XDG_STATE_HOME (else ~/.local/state)/quelto-bridge/LOG/ErrorLog.txt,
 *   on Windows %LOCALAPPDATA%\quelto-bridge\LOG\ErrorLog.txt, and a line
 *   on standard error says so.
 *
 * SDK libraries (Quelto.dll, Quelto.Common.dll, PellimorCfgReader.dll) are
 *   looked for beside the bridge library. */
#ifndef QUELTO_BRIDGE_H
#define QUELTO_BRIDGE_H

#include "QueltoCommon.h"
#include "Quelto_BlockInfo.h"
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

/* Block callback: one block, when and in what order it arrived
 * (Quelto_BlockInfo.h), and the context given at registration. Both records
 * are valid only during the call. */
typedef void(QUELTO_CALL* Quelto_BlockCallback)(const Quelto_DataAvailableEventArgs_C* block,
                                                const Quelto_BlockInfo* info, void* context);

/* Returned by Quelto_Bridge_GetdeviceState for a NULL handle or a failure. */
#define QUELTO_BRIDGE_STATE_UNKNOWN (-1)

/* Creates a device: loads the SDK from beside the bridge library (on the
 * first call), makes the SDK's device object and starts the worker thread.
 * Capture starts only with Quelto_Bridge_StartCapturing. Returns NULL on
 * failure, e.g. when the SDK libraries are not beside the bridge; the
 * report is in the error log and Quelto_Bridge_GetLastError. */
QUELTO_API void* QUELTO_CALL Quelto_Bridge_Create(void);

/* Stops the worker and waits for it: a block being delivered reaches every
 * callback first, blocks still queued are dropped. Then disposes the device and
 * releases every registration (their contexts are the host's). Called from
 * one of the handle's own callbacks it does not wait: the worker ends when
 * that callback returns. NULL: nothing. */
QUELTO_API void QUELTO_CALL Quelto_Bridge_Destroy(void* bridge);

/* Starts capture with the device's default block period (100 ms on the
 * simulated device). Returns once the device has started; blocks follow on
 * the worker thread. */
QUELTO_API void QUELTO_CALL Quelto_Bridge_StartCapturing(void* bridge);
/* Stops capture. Returns without waiting for the worker: blocks already
 * queued are still delivered after it returns. To wait for the last block,
 * watch the callbacks (or call Quelto_Bridge_Destroy, which drops them). */
QUELTO_API void QUELTO_CALL Quelto_Bridge_StopCapturing(void* bridge);

/* Registers cb with context; callbacks are called in order of
 * registration. No duplicate check: a pair registered twice is called twice
 * per block. A NULL cb registers an entry that calls nothing. Register
 * before starting capture to receive the first block; a registration made
 * during a delivery gets the blocks after it. */
QUELTO_API void QUELTO_CALL Quelto_Bridge_RegisterDataCallback(void* bridge, Quelto_DataCallback cb, void* context);

/* Removes the oldest registration of this cb and context (none: nothing).
 * When it returns on a host thread, that registration is never called
 * again: a call of it in progress is waited for. From inside a callback it
 * does not wait. */
QUELTO_API void QUELTO_CALL Quelto_Bridge_UnregisterDataCallback(void* bridge, Quelto_DataCallback cb, void* context);

/* Registers a block callback. Data and block callbacks share one list:
 * each block goes to all of them in the order of registration. Otherwise as
 * Quelto_Bridge_RegisterDataCallback (no duplicate check; a NULL cb
 * registers an entry that calls nothing). */
QUELTO_API void QUELTO_CALL Quelto_Bridge_RegisterBlockCallback(void* bridge, Quelto_BlockCallback cb, void* context);

/* Removes the oldest block-callback registration of this cb and context,
 * with the guarantees of Quelto_Bridge_UnregisterDataCallback. */
QUELTO_API void QUELTO_CALL Quelto_Bridge_UnregisterBlockCallback(void* bridge, Quelto_BlockCallback cb, void* context);

/* Starts capture with a block period (Quelto_DataAvailableEventPeriod
 * numbers): 1, 2 and 3 (50, 25, 10 ms) pass unchanged; any other number
 * starts with 0, the default period (100 ms). */
QUELTO_API void QUELTO_CALL Quelto_Bridge_StartCapturingWithPeriod(void* bridge, int period);

/* Sends the device an internal start or stop trigger: a following block
 * carries StartTriggerDetected / StopTriggerDetected with the trigger's
 * scan. */
QUELTO_API void QUELTO_CALL Quelto_Bridge_GenerateInternalStartTrigger(void* bridge);
QUELTO_API void QUELTO_CALL Quelto_Bridge_GenerateInternalStopTrigger(void* bridge);

/* Loads a configuration file (UTF-8 path) through the SDK's reader, then
 * sends the device its capture configuration, then the file's configuration
 * of each sensor 1 to 36 in turn (what the file switches off is sent too).
 * 0 on success; -1 on failure (also for a NULL handle or path), the reason
 * in Quelto_Bridge_GetLastError. A file that does not load sends nothing. */
QUELTO_API int QUELTO_CALL Quelto_Bridge_ApplyConfigurationFile(void* bridge, const char* path);

/* Fills *out with the device's software version. 0 on success; -1 on
 * failure (also for a NULL handle or out; *out is then unchanged). */
QUELTO_API int QUELTO_CALL Quelto_Bridge_GetSoftwareVersion(void* bridge, Quelto_SoftwareVersion* out);

/* Sends a capture configuration to the device; the record is only read and
 * may be reused at once. A record that does not convert (FootSwProtocol
 * above 2) fails and sends nothing. A NULL record fails. */
QUELTO_API void QUELTO_CALL Quelto_Bridge_ConfigureCapture(void* bridge, Quelto_CaptureConfiguration* configuration);
/* Sends a sensor configuration: sensorIndex QUELTO_SENSOR_FIRST to
 * QUELTO_SENSOR_LAST (1 to 36) configures that sensor, 0 configures sensors
 * 1 to 36 in turn; any other number does nothing, silently. A NULL record
 * fails. */
QUELTO_API void QUELTO_CALL Quelto_Bridge_ConfigureSensor(void* bridge, Quelto_SensorConfiguration* configuration,
                                                          int sensorIndex);

/* Offset calibrations. The sensor number passes to the device unchecked:
 * 1 to 36 is that sensor, 0 every sensor; the simulated device ignores
 * other numbers and notes them in its log. None of them waits for the
 * calibration: each starts it and returns, the device reads
 * Calibrating (4) while it runs (0.5 s on the simulated device), and the
 * sensors' state bits in the blocks show it. */
QUELTO_API void QUELTO_CALL Quelto_Bridge_CalibrateImuOffset(void* bridge, int sensorIndex);
QUELTO_API void QUELTO_CALL Quelto_Bridge_CalibrateGyroscopeOffset(void* bridge, int sensorIndex);
QUELTO_API void QUELTO_CALL Quelto_Bridge_CalibrateAccelerometerOffset(void* bridge, int sensor);
QUELTO_API void QUELTO_CALL Quelto_Bridge_CalibrateEMGOffset(void* bridge, int sensor);
/* Asks the device to refresh its display. */
QUELTO_API void QUELTO_CALL Quelto_Bridge_UpdateDisplay(void* bridge);
/* Asks the device to save its receiver configuration (where is the
 * device's choice; the simulated device's is in README). */
QUELTO_API void QUELTO_CALL Quelto_Bridge_SaveCurrentRxConfiguration(void* bridge);

/* The device's state number (Quelto_DeviceState), or
 * QUELTO_BRIDGE_STATE_UNKNOWN. */
QUELTO_API int QUELTO_CALL Quelto_Bridge_GetdeviceState(void* bridge);

/* Version of the loaded library, "major.minor.patch" (static text; compare
 * with the QUELTO_BRIDGE_VERSION_* macros the host was built with). */
QUELTO_API const char* QUELTO_CALL Quelto_Bridge_GetVersion(void);

/* Text of the failure of the last Quelto_Bridge_* call made on this thread
 * (the form is given at the top of this header), or NULL when that call
 * succeeded. UTF-8. Valid until the next Quelto_Bridge_* call on this
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
