/* What every public header shares: the export and calling-convention
 * macros, the compile-time layout checks, and the fixed counts of the
 * records and sensor numbers. C11 and C++. */
#ifndef QUELTO_COMMON_H
#define QUELTO_COMMON_H

#include <stddef.h>

/* ------------------------------------------------------------ portability */

/* QUELTO_API marks what the library exports; QUELTO_CALL is the calling
 * convention of every exported function and of every callback type. */
#if defined(_WIN32)
#if defined(QUELTO_BRIDGE_BUILDING)
#define QUELTO_API __declspec(dllexport)
#else
#define QUELTO_API __declspec(dllimport)
#endif
#define QUELTO_CALL __cdecl
#else
#define QUELTO_API __attribute__((visibility("default")))
#define QUELTO_CALL
#endif

/* Compile-time checks of the binary layouts, in C and C++ alike. */
#ifdef __cplusplus
#define QUELTO_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#define QUELTO_ALIGNOF(T) alignof(T)
#else
#define QUELTO_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#define QUELTO_ALIGNOF(T) _Alignof(T)
#endif
#define QUELTO_CHECK_OFFSET(Record, field, offset) \
    QUELTO_STATIC_ASSERT(offsetof(Record, field) == (offset), #Record "." #field)

/* --------------------------------------------------------- fixed counts */

/* Sensor numbers of the calibration and configuration calls: 1 to 36. */
#define QUELTO_SENSOR_FIRST 1
#define QUELTO_SENSOR_LAST 36
#define QUELTO_SENSOR_COUNT 36
/* Entries of the per-sensor and per-channel arrays of the configuration
 * records (the 36 sensors and two more). */
#define QUELTO_CHANNEL_COUNT 38
/* Entries of the per-axis (accelerometer, gyroscope, magnetometer) arrays:
 * three per channel. */
#define QUELTO_IMU_AGM_CHANNEL_COUNT 114
#define QUELTO_INSOLE_COUNT 2
#define QUELTO_ANALOG_CHANNEL_COUNT 32
/* The analog-output table: 2 outputs by 40 entries. */
#define QUELTO_ANALOG_OUTPUT_COUNT 2
#define QUELTO_ANALOG_OUTPUT_ENTRIES 40

#endif
