/* Small value records of the public records. C11 and C++; copied bytewise. */
#ifndef QUELTO_VALUETYPES_H
#define QUELTO_VALUETYPES_H

#include "Quelto_Enums.h"

#ifdef __cplusplus
#include <cstddef>
#else
#include <stdbool.h>
#include <stddef.h>
#endif

/* ARGB colour; byte-aligned, so it may sit at any offset. */
typedef struct Quelto_Color {
    uint8_t A;
    uint8_t R;
    uint8_t G;
    uint8_t B;
} Quelto_Color;

typedef struct Quelto_SoftwareVersion {
    int32_t Major;
    int32_t Minor;
    int32_t Build;
    int32_t Revision;
} Quelto_SoftwareVersion;

/* On/off flags of the four transducers of one foot switch. The library
 * writes 0 or 1 and reads any nonzero byte as on. */
typedef struct Quelto_FootSwTransducerEnabled {
    bool T_A;
    bool T_1;
    bool T_5;
    bool T_T;
} Quelto_FootSwTransducerEnabled;

/* Thresholds of the same four transducers, in the SDK's unit. */
typedef struct Quelto_FootSwTransducerThreshold {
    double T_A;
    double T_1;
    double T_5;
    double T_T;
} Quelto_FootSwTransducerThreshold;

QUELTO_STATIC_ASSERT(sizeof(bool) == 1, "boolean bytes");

QUELTO_STATIC_ASSERT(sizeof(Quelto_Color) == 4, "Quelto_Color size");
QUELTO_STATIC_ASSERT(QUELTO_ALIGNOF(Quelto_Color) == 1, "Quelto_Color alignment");
QUELTO_CHECK_OFFSET(Quelto_Color, A, 0);
QUELTO_CHECK_OFFSET(Quelto_Color, R, 1);
QUELTO_CHECK_OFFSET(Quelto_Color, G, 2);
QUELTO_CHECK_OFFSET(Quelto_Color, B, 3);

QUELTO_STATIC_ASSERT(sizeof(Quelto_SoftwareVersion) == 16, "Quelto_SoftwareVersion size");
QUELTO_STATIC_ASSERT(QUELTO_ALIGNOF(Quelto_SoftwareVersion) == 4, "Quelto_SoftwareVersion alignment");
QUELTO_CHECK_OFFSET(Quelto_SoftwareVersion, Major, 0);
QUELTO_CHECK_OFFSET(Quelto_SoftwareVersion, Minor, 4);
QUELTO_CHECK_OFFSET(Quelto_SoftwareVersion, Build, 8);
QUELTO_CHECK_OFFSET(Quelto_SoftwareVersion, Revision, 12);

QUELTO_STATIC_ASSERT(sizeof(Quelto_FootSwTransducerEnabled) == 4, "Quelto_FootSwTransducerEnabled size");
QUELTO_STATIC_ASSERT(QUELTO_ALIGNOF(Quelto_FootSwTransducerEnabled) == 1, "Quelto_FootSwTransducerEnabled alignment");
QUELTO_CHECK_OFFSET(Quelto_FootSwTransducerEnabled, T_A, 0);
QUELTO_CHECK_OFFSET(Quelto_FootSwTransducerEnabled, T_1, 1);
QUELTO_CHECK_OFFSET(Quelto_FootSwTransducerEnabled, T_5, 2);
QUELTO_CHECK_OFFSET(Quelto_FootSwTransducerEnabled, T_T, 3);

QUELTO_STATIC_ASSERT(sizeof(Quelto_FootSwTransducerThreshold) == 32, "Quelto_FootSwTransducerThreshold size");
QUELTO_STATIC_ASSERT(QUELTO_ALIGNOF(Quelto_FootSwTransducerThreshold) == 8, "Quelto_FootSwTransducerThreshold alignment");
QUELTO_CHECK_OFFSET(Quelto_FootSwTransducerThreshold, T_A, 0);
QUELTO_CHECK_OFFSET(Quelto_FootSwTransducerThreshold, T_1, 8);
QUELTO_CHECK_OFFSET(Quelto_FootSwTransducerThreshold, T_5, 16);
QUELTO_CHECK_OFFSET(Quelto_FootSwTransducerThreshold, T_T, 24);

#endif
