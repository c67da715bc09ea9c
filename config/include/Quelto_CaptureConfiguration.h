/* Capture configuration record. C11 and C++.
 *
 * Boolean bytes: the library writes 0 or 1 and reads any nonzero byte as
 * true. Padding bytes carry nothing; the library writes them as 0. */
#ifndef QUELTO_CAPTURECONFIGURATION_H
#define QUELTO_CAPTURECONFIGURATION_H

#include "Quelto_Enums.h"
#include "Quelto_ValueTypes.h"

typedef struct Quelto_CaptureConfiguration {
    bool ExternalTriggerEnabled;
    int32_t ExternalTriggerActiveLevel;
    bool ExternalTriggerStopDisabled;
    int32_t ExternalEventActiveLevel;
    Quelto_ImuAcqPType IMU_AcqPType;
    Quelto_EmgAcqPType EMG_AcqPType;
    Quelto_ImuAcqXType IMU_AcqXType;
    Quelto_EmgAcqXType EMG_AcqXType;
    Quelto_EmgImuAcqXType EMG_IMU_AcqXType;
    Quelto_ImuAcqBType IMU_AcqBType;
    Quelto_EmgAcqBType EMG_AcqBType;
    Quelto_InsoleBtAcqType Insole_BtAcqType;
    Quelto_InsoleRfAcqType Insole_RfAcqType;
    Quelto_AnalogAcqType Analog_AcqType;
    Quelto_InsoleRfProtocol Insole_RfProtocol;
    Quelto_AccelerometerFullScale Insole_AccelerometerFullScale;
    Quelto_GyroscopeFullScale Insole_GyroscopeFullScale;
    bool EnabledInsole[QUELTO_INSOLE_COUNT];
    bool EnabledAnalogChannel[QUELTO_ANALOG_CHANNEL_COUNT];
    Quelto_FootSwTransducerEnabled FootSwATransducerEnabled;
    Quelto_FootSwTransducerEnabled FootSwBTransducerEnabled;
    Quelto_FootSwTransducerThreshold FootSwATransducerThreshold;
    Quelto_FootSwTransducerThreshold FootSwBTransducerThreshold;
    Quelto_FootSwProtocol FootSwProtocol;
    Quelto_AnalogTriggerMode Analog_TriggerMode;
    Quelto_VoltageFullScale Analog_VoltageFullScale;
    uint32_t Analog_ChannelDelay_ms;
} Quelto_CaptureConfiguration;

#define QUELTO_CAPTURE_AT(field, offset) QUELTO_CHECK_OFFSET(Quelto_CaptureConfiguration, field, offset)

QUELTO_STATIC_ASSERT(sizeof(Quelto_CaptureConfiguration) == 192, "Quelto_CaptureConfiguration size");
QUELTO_STATIC_ASSERT(QUELTO_ALIGNOF(Quelto_CaptureConfiguration) == 8, "Quelto_CaptureConfiguration alignment");
QUELTO_CAPTURE_AT(ExternalTriggerEnabled, 0);
QUELTO_CAPTURE_AT(ExternalTriggerActiveLevel, 4);
QUELTO_CAPTURE_AT(ExternalTriggerStopDisabled, 8);
QUELTO_CAPTURE_AT(ExternalEventActiveLevel, 12);
QUELTO_CAPTURE_AT(IMU_AcqPType, 16);
QUELTO_CAPTURE_AT(EMG_AcqPType, 20);
QUELTO_CAPTURE_AT(IMU_AcqXType, 24);
QUELTO_CAPTURE_AT(EMG_AcqXType, 28);
QUELTO_CAPTURE_AT(EMG_IMU_AcqXType, 32);
QUELTO_CAPTURE_AT(IMU_AcqBType, 36);
QUELTO_CAPTURE_AT(EMG_AcqBType, 40);
QUELTO_CAPTURE_AT(Insole_BtAcqType, 44);
QUELTO_CAPTURE_AT(Insole_RfAcqType, 48);
QUELTO_CAPTURE_AT(Analog_AcqType, 52);
QUELTO_CAPTURE_AT(Insole_RfProtocol, 56);
QUELTO_CAPTURE_AT(Insole_AccelerometerFullScale, 60);
QUELTO_CAPTURE_AT(Insole_GyroscopeFullScale, 64);
QUELTO_CAPTURE_AT(EnabledInsole, 68);
QUELTO_CAPTURE_AT(EnabledAnalogChannel, 70);
QUELTO_CAPTURE_AT(FootSwATransducerEnabled, 102);
QUELTO_CAPTURE_AT(FootSwBTransducerEnabled, 106);
QUELTO_CAPTURE_AT(FootSwATransducerThreshold, 112);
QUELTO_CAPTURE_AT(FootSwBTransducerThreshold, 144);
QUELTO_CAPTURE_AT(FootSwProtocol, 176);
QUELTO_CAPTURE_AT(Analog_TriggerMode, 180);
QUELTO_CAPTURE_AT(Analog_VoltageFullScale, 184);
QUELTO_CAPTURE_AT(Analog_ChannelDelay_ms, 188);

#undef QUELTO_CAPTURE_AT

#endif
