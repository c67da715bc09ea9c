/* The configuration records as a C host sees them: same sizes and offsets
 * as in C++, fields usable with plain integer and bool values. */
#include "Quelto_BlockInfo.h"
#include "Quelto_CaptureConfiguration.h"
#include "Quelto_Enums.h"
#include "Quelto_SensorConfiguration.h"
#include "Quelto_ValueTypes.h"

#include <stdio.h>
#include <string.h>

_Static_assert(sizeof(Quelto_CaptureConfiguration) == 192, "capture record");
_Static_assert(_Alignof(Quelto_CaptureConfiguration) == 8, "capture record alignment");
_Static_assert(offsetof(Quelto_CaptureConfiguration, FootSwBTransducerEnabled) == 106, "foot switch B flags");
_Static_assert(offsetof(Quelto_CaptureConfiguration, FootSwProtocol) == 176, "protocol");
_Static_assert(sizeof(Quelto_SensorConfiguration) == 16, "sensor record");
_Static_assert(sizeof(Quelto_BlockInfo) == 32 && _Alignof(Quelto_BlockInfo) == 8, "block info");
_Static_assert(offsetof(Quelto_BlockInfo, blocksWaiting) == 24, "block info waiting count");
_Static_assert(sizeof(Quelto_Color) == 4 && _Alignof(Quelto_Color) == 1, "colour");
_Static_assert(sizeof(Quelto_SoftwareVersion) == 16, "software version");
_Static_assert(sizeof(Quelto_FootSwTransducerEnabled) == 4, "transducer flags");
_Static_assert(sizeof(Quelto_FootSwTransducerThreshold) == 32, "transducer thresholds");
_Static_assert(sizeof(Quelto_ChannelType) == 2 && sizeof(Quelto_DataAvailableEventPeriod) == 2, "16-bit numbers");
_Static_assert(sizeof(Quelto_SensorModel) == 4 && sizeof(Quelto_HDsEmgAcqType) == 4, "32-bit numbers");
_Static_assert(Quelto_ChannelType_Max == 10 && Quelto_InsoleSize_Max == 4, "accepted ranges");
_Static_assert(Quelto_ChannelSide_Max == 2 && Quelto_FootSwProtocol_Max == 2, "accepted ranges");

int main(void) {
    Quelto_CaptureConfiguration capture;
    memset(&capture, 0, sizeof capture);
    capture.EnabledInsole[1] = true;
    capture.FootSwProtocol = Quelto_FootSwProtocol_Max;
    capture.Analog_ChannelDelay_ms = 4294967295u;

    Quelto_SensorConfiguration sensor;
    memset(&sensor, 0, sizeof sensor);
    sensor.SensorMode = 65535; /* the full unsigned 16-bit range */

    const unsigned char* bytes = (const unsigned char*)&capture;
    if (bytes[69] != 1 || bytes[176] != 2 || bytes[188] != 0xFF || bytes[191] != 0xFF || sensor.SensorMode != 65535) {
        fprintf(stderr, "record bytes differ from the C++ layout\n");
        return 1;
    }
    return 0;
}
