/* The native half of the managed simulated SDK (Quelto.dll, Quelto.Common.dll,
 * PellimorCfgReader.dll): the assemblies P/Invoke this library
 * ("QueltoSimShim") for the simulated device, its blocks of samples and the
 * configuration file, so that both simulated SDKs share one device, one
 * signal model and one file format. Tests use the control functions at the
 * end to drive the devices made through the managed SDK.
 *
 * Conventions:
 * - Functions returning int return 0 on success. On failure they return -1
 *   and the calling thread's last error holds the .NET type name and message
 *   of the exception the managed side throws (QueltoSimShim_LastError).
 * - Handles are opaque; each one made is freed once by its free function.
 * - Names are the SDK's member names ("EmgSamples", "IMU_AcqPType",
 *   "FootSwATransducerEnabled.T_A"); text is UTF-8 unless it is UTF-16.
 */
#ifndef QUELTO_SIM_SHIM_H
#define QUELTO_SIM_SHIM_H

#include <stdint.h>

#if defined(_WIN32)
#define QUELTO_SIM_SHIM_API __declspec(dllexport)
#else
#define QUELTO_SIM_SHIM_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct QueltoSimShim_Device QueltoSimShim_Device;
typedef struct QueltoSimShim_Block QueltoSimShim_Block;
typedef struct QueltoSimShim_Object QueltoSimShim_Object;
typedef struct QueltoSimShim_Config QueltoSimShim_Config;

/* The last failure on the calling thread: type name and message, each
 * NUL-terminated and cut to its capacity. Returns the message's full length. */
QUELTO_SIM_SHIM_API int QueltoSimShim_LastError(char* type, int typeCapacity, char* message, int messageCapacity);

/* ------------------------------------------------------------- device */

/* Makes a device (settings from the environment as the native device). */
QUELTO_SIM_SHIM_API int QueltoSimShim_DeviceCreate(QueltoSimShim_Device** device);
/* Disposes the device (idempotent) and wakes QueltoSimShim_DeviceWaitBlock. */
QUELTO_SIM_SHIM_API int QueltoSimShim_DeviceDispose(QueltoSimShim_Device* device);
/* Frees the handle after Dispose, once no other call on it runs. */
QUELTO_SIM_SHIM_API void QueltoSimShim_DeviceFree(QueltoSimShim_Device* device);
/* Members with no argument or one 32-bit argument, by name: StartCapturing,
 * StopCapturing, GenerateInternalStartTrigger, GenerateInternalStopTrigger,
 * UpdateDisplay, QL_SaveCurrentRxConfiguration, CalibrateSensorImuOffset,
 * CalibrateGyroscopeOffset, DetectAccelerometerOffset, QL_CalibrateEmgOffset,
 * add_DataAvailable. */
QUELTO_SIM_SHIM_API int QueltoSimShim_DeviceCall(QueltoSimShim_Device* device, const char* member, int32_t argument);
/* `configuration` from QueltoSimShim_ObjectNew; null passes a null object. */
QUELTO_SIM_SHIM_API int QueltoSimShim_DeviceConfigureCapture(QueltoSimShim_Device* device,
                                                             QueltoSimShim_Object* configuration);
QUELTO_SIM_SHIM_API int QueltoSimShim_DeviceConfigureSensor(QueltoSimShim_Device* device,
                                                            QueltoSimShim_Object* configuration, int32_t sensor);
QUELTO_SIM_SHIM_API int QueltoSimShim_DeviceState(QueltoSimShim_Device* device, int32_t* state);
/* Major, Minor, Build, Revision. */
QUELTO_SIM_SHIM_API int QueltoSimShim_DeviceVersion(QueltoSimShim_Device* device, int32_t version[4]);
/* Whether the device runs in fast mode (blocks paced by their release). */
QUELTO_SIM_SHIM_API int QueltoSimShim_DeviceIsFast(QueltoSimShim_Device* device);

/* The managed event thread: waits up to `timeout_ms` for the device's next
 * event (there are events only after add_DataAvailable). Returns 1 with the
 * event in `block`, 2 when the time ran out, 0 once the device is disposed.
 * The device thread waits until QueltoSimShim_DeviceBlockDone, so the
 * event's handlers run while the device waits, as on the native device.
 * The first caller becomes the device's event thread
 * (QueltoSimShim_ControlEventThreadId). Short timeouts let the runtime
 * stop the thread at process exit. */
QUELTO_SIM_SHIM_API int QueltoSimShim_DeviceWaitBlock(QueltoSimShim_Device* device, QueltoSimShim_Block** block,
                                                      int32_t timeout_ms);
QUELTO_SIM_SHIM_API void QueltoSimShim_DeviceBlockDone(QueltoSimShim_Device* device);

/* ------------------------------------------------------------- blocks */

/* Field numbers of a block, in declaration order of DataAvailableEventArgs;
 * -1 for an unknown name. */
QUELTO_SIM_SHIM_API int QueltoSimShim_BlockFieldId(const char* name);
/* A number field (int32, uint16, bool as 0/1). */
QUELTO_SIM_SHIM_API int64_t QueltoSimShim_BlockScalar(const QueltoSimShim_Block* block, int field);
/* An array field's rank with its extents in `extents` (3 entries); -1 when
 * the array is null, -2 when `field` is no array. */
QUELTO_SIM_SHIM_API int QueltoSimShim_BlockShape(const QueltoSimShim_Block* block, int field, int32_t extents[3]);
/* Copies an array field (row-major, last index fastest) to `target` of
 * `bytes` bytes; -1 when the sizes differ. */
QUELTO_SIM_SHIM_API int QueltoSimShim_BlockCopy(const QueltoSimShim_Block* block, int field, void* target, int64_t bytes);
QUELTO_SIM_SHIM_API void QueltoSimShim_BlockFree(QueltoSimShim_Block* block);

/* A new, empty block (every array null, every number 0), for tests and the
 * reference generator; filled with the setters. */
QUELTO_SIM_SHIM_API QueltoSimShim_Block* QueltoSimShim_BlockNew(void);
QUELTO_SIM_SHIM_API int QueltoSimShim_BlockSetScalar(QueltoSimShim_Block* block, int field, int64_t value);
/* rank -1 sets the array null; `data` holds the product of the extents. */
QUELTO_SIM_SHIM_API int QueltoSimShim_BlockSetArray(QueltoSimShim_Block* block, int field, int rank,
                                                    const int32_t* extents, const void* data);

/* The native generator on its own: blocks for `seed`, the numbers of a
 * capture configuration (null: the device's defaults) and the period
 * number, exactly as the simulated device's generator makes them (samples
 * and scan numbers; states and triggers are the device's). */
typedef struct QueltoSimShim_Generator QueltoSimShim_Generator;
QUELTO_SIM_SHIM_API int QueltoSimShim_GeneratorCreate(uint64_t seed, QueltoSimShim_Object* capture, int32_t period,
                                                      QueltoSimShim_Generator** generator);
QUELTO_SIM_SHIM_API QueltoSimShim_Block* QueltoSimShim_GeneratorNext(QueltoSimShim_Generator* generator);
QUELTO_SIM_SHIM_API void QueltoSimShim_GeneratorFree(QueltoSimShim_Generator* generator);

/* ------------------------------------------------- configuration objects */

/* Native configuration objects by class name ("CaptureConfiguration",
 * "SensorConfiguration"); a capture configuration with `insoles` and
 * `analogChannels` flags (other classes ignore them). */
QUELTO_SIM_SHIM_API int QueltoSimShim_ObjectNew(const char* className, int32_t insoles, int32_t analogChannels,
                                                QueltoSimShim_Object** object);
QUELTO_SIM_SHIM_API void QueltoSimShim_ObjectFree(QueltoSimShim_Object* object);
/* Properties by name; "FootSwATransducerEnabled.T_A" reaches the object
 * held by a property. Numbers cross as double (bool 0/1, enum numbers). */
QUELTO_SIM_SHIM_API int QueltoSimShim_ObjectSet(QueltoSimShim_Object* object, const char* property, double value);
QUELTO_SIM_SHIM_API int QueltoSimShim_ObjectGet(const QueltoSimShim_Object* object, const char* property, double* value);
/* A property holding an object: 1 present, 0 null; SetNull makes it null,
 * SetNew gives it a new object. */
QUELTO_SIM_SHIM_API int QueltoSimShim_ObjectHas(const QueltoSimShim_Object* object, const char* property);
QUELTO_SIM_SHIM_API int QueltoSimShim_ObjectSetNull(QueltoSimShim_Object* object, const char* property);
QUELTO_SIM_SHIM_API int QueltoSimShim_ObjectSetNew(QueltoSimShim_Object* object, const char* property);
/* Flag arrays ("EnabledInsole", "EnabledAnalogChannel"): the length, -1 when
 * null; copies min(count, length) flags as bytes 0/1. */
QUELTO_SIM_SHIM_API int QueltoSimShim_ObjectFlagCount(const QueltoSimShim_Object* object, const char* property);
QUELTO_SIM_SHIM_API int QueltoSimShim_ObjectGetFlags(const QueltoSimShim_Object* object, const char* property,
                                                     uint8_t* flags, int32_t count);
QUELTO_SIM_SHIM_API int QueltoSimShim_ObjectSetFlags(QueltoSimShim_Object* object, const char* property,
                                                     const uint8_t* flags, int32_t count);

/* ------------------------------------------------- configuration file */

/* Reads a configuration file (path in UTF-8) with the simulated reader. */
QUELTO_SIM_SHIM_API int QueltoSimShim_ConfigRead(const char* path, QueltoSimShim_Config** config);
QUELTO_SIM_SHIM_API void QueltoSimShim_ConfigFree(QueltoSimShim_Config* config);
/* A field of ConfigurationExportBase: its rank with extents (2 entries),
 * -1 when null, -2 for an unknown name. */
QUELTO_SIM_SHIM_API int QueltoSimShim_ConfigShape(const QueltoSimShim_Config* config, const char* field,
                                                  int32_t extents[2]);
/* Copies an array of numbers: bool as bytes 0/1, float, enums and int32 as
 * int32, colours as ARGB uint32; `count` elements. */
QUELTO_SIM_SHIM_API int QueltoSimShim_ConfigCopy(const QueltoSimShim_Config* config, const char* field, void* target,
                                                 int32_t count);
/* Element `index` of a string array as UTF-16 into `text` (capacity in
 * units): its length, -1 when the element is null, -2 on a bad field. */
QUELTO_SIM_SHIM_API int QueltoSimShim_ConfigString(const QueltoSimShim_Config* config, const char* field, int32_t index,
                                                   uint16_t* text, int32_t capacity);
/* InsoleSampleRate_Hz, InsoleImuSampleRate_Hz. */
QUELTO_SIM_SHIM_API int QueltoSimShim_ConfigFloat(const QueltoSimShim_Config* config, const char* field, float* value);
/* "CaptureConfiguration" (index 0) or "SensorConfiguration" element `index`:
 * a new object handle, null for a null object. */
QUELTO_SIM_SHIM_API QueltoSimShim_Object* QueltoSimShim_ConfigObject(const QueltoSimShim_Config* config,
                                                                    const char* field, int32_t index);

/* ------------------------------------------------------------ test control
 * The same control as the native simulated device (SimControl.h) over the
 * devices made through this library; QueltoSim_GetControl gives C++ tests
 * its IControl. */

QUELTO_SIM_SHIM_API int QueltoSimShim_ControlCallCount(void);
/* Call `index` (oldest first): operation name into `operation`, up to
 * `maxArguments` numeric arguments; returns the argument count, -1 when
 * `index` is out of range. `device` gets the device's serial number. */
QUELTO_SIM_SHIM_API int QueltoSimShim_ControlCall(int index, char* operation, int capacity, int64_t* arguments,
                                                  int maxArguments, uint64_t* device);
QUELTO_SIM_SHIM_API void QueltoSimShim_ControlClearCalls(void);
/* Calls and log lines are kept only while recording is on (off at load). */
QUELTO_SIM_SHIM_API void QueltoSimShim_ControlSetRecording(int on);
QUELTO_SIM_SHIM_API int QueltoSimShim_ControlRecording(void);
/* Makes `operation` ("Create" or a member name) throw the .NET exception
 * `exceptionType` (e.g. "System.InvalidOperationException") with `message`
 * on its next `times` calls (< 0: until cleared). */
QUELTO_SIM_SHIM_API void QueltoSimShim_ControlSetFailure(const char* operation, const char* exceptionType,
                                                         const char* message, int times);
QUELTO_SIM_SHIM_API void QueltoSimShim_ControlClearFailures(void);
QUELTO_SIM_SHIM_API int QueltoSimShim_ControlLiveDevices(void);
/* Devices made by QueltoSimShim_DeviceCreate and not yet freed. */
QUELTO_SIM_SHIM_API int QueltoSimShim_ControlAllocatedDevices(void);
QUELTO_SIM_SHIM_API uint64_t QueltoSimShim_ControlLatestDevice(void);
/* Raises `block` (a copy of it) as DataAvailable on the latest live device's
 * event thread; returns 1 once the handlers returned, 0 when no device. */
QUELTO_SIM_SHIM_API int QueltoSimShim_ControlRaiseBlock(const QueltoSimShim_Block* block);
/* Native id of the latest live device's managed event thread as text, as
 * std::this_thread::get_id() prints it on that thread; "" when none. */
QUELTO_SIM_SHIM_API int QueltoSimShim_ControlEventThreadId(char* text, int capacity);
QUELTO_SIM_SHIM_API int QueltoSimShim_ControlLogCount(void);
/* Log line `index`; its full length, -1 when out of range. */
QUELTO_SIM_SHIM_API int QueltoSimShim_ControlLogLine(int index, char* text, int capacity);
QUELTO_SIM_SHIM_API void QueltoSimShim_ControlClearLog(void);

#ifdef __cplusplus
}
#endif

#endif
