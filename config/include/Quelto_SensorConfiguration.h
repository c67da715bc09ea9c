/* Configuration record of one sensor. C11 and C++. */
#ifndef QUELTO_SENSORCONFIGURATION_H
#define QUELTO_SENSORCONFIGURATION_H

#include "Quelto_Enums.h"
#include "Quelto_ValueTypes.h"

typedef struct Quelto_SensorConfiguration {
    Quelto_SensorModel SensorModel;
    Quelto_SensorMode SensorMode;
    Quelto_AccelerometerFullScale AccelerometerFullScale;
    Quelto_GyroscopeFullScale GyroscopeFullScale;
} Quelto_SensorConfiguration;

QUELTO_STATIC_ASSERT(sizeof(Quelto_SensorConfiguration) == 16, "Quelto_SensorConfiguration size");
QUELTO_STATIC_ASSERT(QUELTO_ALIGNOF(Quelto_SensorConfiguration) == 4, "Quelto_SensorConfiguration alignment");
QUELTO_CHECK_OFFSET(Quelto_SensorConfiguration, SensorModel, 0);
QUELTO_CHECK_OFFSET(Quelto_SensorConfiguration, SensorMode, 4);
QUELTO_CHECK_OFFSET(Quelto_SensorConfiguration, AccelerometerFullScale, 8);
QUELTO_CHECK_OFFSET(Quelto_SensorConfiguration, GyroscopeFullScale, 12);

#endif
