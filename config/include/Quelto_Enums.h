/* Enumerations of the public records. C11 and C++.
 *
 * Every number is the SDK's number for the same meaning; the library names
 * none of them. In C++ each is an enumeration with a fixed underlying type;
 * in C it is a typedef of that integer type, which gives record fields the
 * same width. The named constants bound the numbers that the conversion
 * classes accept. */
#ifndef QUELTO_ENUMS_H
#define QUELTO_ENUMS_H

#include "QueltoCommon.h"

#include <stdint.h>

#ifdef __cplusplus
#define QUELTO_ENUM_U16(Name) enum Name : uint16_t
#else
#define QUELTO_ENUM_U16(Name) typedef uint16_t Name; enum Name##_Numbers
#endif

/* Checked: 0 to 4. */
QUELTO_ENUM_U16(Quelto_InsoleSize){Quelto_InsoleSize_Min = 0, Quelto_InsoleSize_Max = 4};
/* Checked: 0 to 2. */
QUELTO_ENUM_U16(Quelto_ChannelSide){Quelto_ChannelSide_Min = 0, Quelto_ChannelSide_Max = 2};
/* Checked: 0 to 10. */
QUELTO_ENUM_U16(Quelto_ChannelType){Quelto_ChannelType_Min = 0, Quelto_ChannelType_Max = 10};
/* Checked: 0 to 2. */
QUELTO_ENUM_U16(Quelto_FootSwProtocol){Quelto_FootSwProtocol_Min = 0, Quelto_FootSwProtocol_Max = 2};
/* 1 to 3 pass unchanged; any other number starts capture with 0. */
QUELTO_ENUM_U16(Quelto_DataAvailableEventPeriod){
    Quelto_DataAvailableEventPeriod_Default = 0,
    Quelto_DataAvailableEventPeriod_Min = 1,
    Quelto_DataAvailableEventPeriod_Max = 3};
/* Copied; an SDK number is cut to its low 16 bits. */
QUELTO_ENUM_U16(Quelto_SensorMode){Quelto_SensorMode_Max = 65535};
/* The SDK's device states (the facade returns them as int). */
QUELTO_ENUM_U16(Quelto_DeviceState){
    Quelto_DeviceState_NotInitialized = 0,
    Quelto_DeviceState_Idle = 1,
    Quelto_DeviceState_Configured = 2,
    Quelto_DeviceState_Capturing = 3,
    Quelto_DeviceState_Calibrating = 4,
    Quelto_DeviceState_Error = 5,
    Quelto_DeviceState_Disposed = 6};

/* Copied unchanged in both directions. */
#ifdef __cplusplus
enum Quelto_ImuAcqPType : int32_t {};
enum Quelto_EmgAcqPType : int32_t {};
enum Quelto_ImuAcqXType : int32_t {};
enum Quelto_EmgAcqXType : int32_t {};
enum Quelto_EmgImuAcqXType : int32_t {};
enum Quelto_ImuAcqBType : int32_t {};
enum Quelto_EmgAcqBType : int32_t {};
enum Quelto_InsoleBtAcqType : int32_t {};
enum Quelto_InsoleRfAcqType : int32_t {};
enum Quelto_AnalogAcqType : int32_t {};
enum Quelto_InsoleRfProtocol : int32_t {};
enum Quelto_AccelerometerFullScale : int32_t {};
enum Quelto_GyroscopeFullScale : int32_t {};
enum Quelto_AnalogTriggerMode : int32_t {};
enum Quelto_VoltageFullScale : int32_t {};
enum Quelto_SensorModel : int32_t {};
/* Declared for hosts; nothing in the library uses it. */
enum Quelto_HDsEmgAcqType : int32_t {};
#else
typedef int32_t Quelto_ImuAcqPType;
typedef int32_t Quelto_EmgAcqPType;
typedef int32_t Quelto_ImuAcqXType;
typedef int32_t Quelto_EmgAcqXType;
typedef int32_t Quelto_EmgImuAcqXType;
typedef int32_t Quelto_ImuAcqBType;
typedef int32_t Quelto_EmgAcqBType;
typedef int32_t Quelto_InsoleBtAcqType;
typedef int32_t Quelto_InsoleRfAcqType;
typedef int32_t Quelto_AnalogAcqType;
typedef int32_t Quelto_InsoleRfProtocol;
typedef int32_t Quelto_AccelerometerFullScale;
typedef int32_t Quelto_GyroscopeFullScale;
typedef int32_t Quelto_AnalogTriggerMode;
typedef int32_t Quelto_VoltageFullScale;
typedef int32_t Quelto_SensorModel;
typedef int32_t Quelto_HDsEmgAcqType;
#endif

#undef QUELTO_ENUM_U16


QUELTO_STATIC_ASSERT(sizeof(Quelto_InsoleSize) == 2, "Quelto_InsoleSize width");
QUELTO_STATIC_ASSERT(sizeof(Quelto_ChannelSide) == 2, "Quelto_ChannelSide width");
QUELTO_STATIC_ASSERT(sizeof(Quelto_ChannelType) == 2, "Quelto_ChannelType width");
QUELTO_STATIC_ASSERT(sizeof(Quelto_FootSwProtocol) == 2, "Quelto_FootSwProtocol width");
QUELTO_STATIC_ASSERT(sizeof(Quelto_DataAvailableEventPeriod) == 2, "Quelto_DataAvailableEventPeriod width");
QUELTO_STATIC_ASSERT(sizeof(Quelto_SensorMode) == 2, "Quelto_SensorMode width");
QUELTO_STATIC_ASSERT(sizeof(Quelto_DeviceState) == 2, "Quelto_DeviceState width");
QUELTO_STATIC_ASSERT(sizeof(Quelto_ImuAcqPType) == 4, "Quelto_ImuAcqPType width");
QUELTO_STATIC_ASSERT(sizeof(Quelto_EmgAcqPType) == 4, "Quelto_EmgAcqPType width");
QUELTO_STATIC_ASSERT(sizeof(Quelto_ImuAcqXType) == 4, "Quelto_ImuAcqXType width");
QUELTO_STATIC_ASSERT(sizeof(Quelto_EmgAcqXType) == 4, "Quelto_EmgAcqXType width");
QUELTO_STATIC_ASSERT(sizeof(Quelto_EmgImuAcqXType) == 4, "Quelto_EmgImuAcqXType width");
QUELTO_STATIC_ASSERT(sizeof(Quelto_ImuAcqBType) == 4, "Quelto_ImuAcqBType width");
QUELTO_STATIC_ASSERT(sizeof(Quelto_EmgAcqBType) == 4, "Quelto_EmgAcqBType width");
QUELTO_STATIC_ASSERT(sizeof(Quelto_InsoleBtAcqType) == 4, "Quelto_InsoleBtAcqType width");
QUELTO_STATIC_ASSERT(sizeof(Quelto_InsoleRfAcqType) == 4, "Quelto_InsoleRfAcqType width");
QUELTO_STATIC_ASSERT(sizeof(Quelto_AnalogAcqType) == 4, "Quelto_AnalogAcqType width");
QUELTO_STATIC_ASSERT(sizeof(Quelto_InsoleRfProtocol) == 4, "Quelto_InsoleRfProtocol width");
QUELTO_STATIC_ASSERT(sizeof(Quelto_AccelerometerFullScale) == 4, "Quelto_AccelerometerFullScale width");
QUELTO_STATIC_ASSERT(sizeof(Quelto_GyroscopeFullScale) == 4, "Quelto_GyroscopeFullScale width");
QUELTO_STATIC_ASSERT(sizeof(Quelto_AnalogTriggerMode) == 4, "Quelto_AnalogTriggerMode width");
QUELTO_STATIC_ASSERT(sizeof(Quelto_VoltageFullScale) == 4, "Quelto_VoltageFullScale width");
QUELTO_STATIC_ASSERT(sizeof(Quelto_SensorModel) == 4, "Quelto_SensorModel width");
QUELTO_STATIC_ASSERT(sizeof(Quelto_HDsEmgAcqType) == 4, "Quelto_HDsEmgAcqType width");

#endif
