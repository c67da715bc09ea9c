/* How to read the flat buffers of one block (Quelto_DataAvailableEventArgs
 * and its C form): what each dimension is, the fixed row counts, the order
 * of components, units, state bits and channel labels. docs/data-layout.md
 * is the same description in prose. C11 and C++; header only.
 *
 * Every sample buffer is [row][sample] or [row][sample][component], row
 * major, last index fastest. Rows and components are fixed below; the
 * sample count per block is not stored: it is count / (rows * components)
 * (Quelto_DataLayout_SamplesPerBlock). A buffer whose stream is switched off
 * is empty. Within one capture the rates do not change. */
#ifndef QUELTO_DATA_LAYOUT_H
#define QUELTO_DATA_LAYOUT_H

#include "QueltoCommon.h"

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QUELTO_LAYOUT_SENSORS QUELTO_SENSOR_COUNT /* EMG sensors with inertial units, rows of sensor buffers */
#define QUELTO_LAYOUT_FOOTSWITCHES 2    /* foot switch A, foot switch B */
#define QUELTO_LAYOUT_TRANSDUCERS 4     /* per foot switch: heel, 1st metatarsal, 5th metatarsal, toe */
#define QUELTO_LAYOUT_INSOLES QUELTO_INSOLE_COUNT /* insole 1 (left), insole 2 (right) */
#define QUELTO_LAYOUT_INSOLE_CELLS 16   /* pressure cells per insole, heel (1) to toe (16) */
#define QUELTO_LAYOUT_ANALOG_CHANNELS QUELTO_ANALOG_CHANNEL_COUNT
#define QUELTO_LAYOUT_AXES 3            /* x, y, z of the sensor's own frame */
#define QUELTO_LAYOUT_QUATERNION 4      /* w, x, y, z: sensor frame to world frame */

/* Bits of SensorStates, FootSwSensorStates and InsoleStates (16-bit values;
 * the block record carries them as floats). */
#define QUELTO_STATE_CONNECTED 0x0001    /* paired and sending */
#define QUELTO_STATE_EMG 0x0002          /* EMG rows carry data */
#define QUELTO_STATE_INERTIAL 0x0004     /* inertial rows carry data */
#define QUELTO_STATE_CALIBRATING 0x0008  /* an offset calibration is running */
#define QUELTO_STATE_LOW_BATTERY 0x0010  /* battery below 20 % */
#define QUELTO_STATE_BATTERY_SHIFT 8     /* bits 8..14: battery charge in percent */
#define QUELTO_STATE_BATTERY(state) ((((int)(state)) >> QUELTO_STATE_BATTERY_SHIFT) & 0x7F)

/* AnalogStates: one value per channel. */
#define QUELTO_ANALOG_STATE_OFF 0
#define QUELTO_ANALOG_STATE_ON 1
#define QUELTO_ANALOG_STATE_CLIPPED 2    /* a sample of this block reached the full scale */

/* Bits of FootSwSamples: the transducers in contact (raw value above its
 * threshold). */
#define QUELTO_CONTACT_HEEL 0x1
#define QUELTO_CONTACT_META1 0x2
#define QUELTO_CONTACT_META5 0x4
#define QUELTO_CONTACT_TOE 0x8

/* RemoteControlEvents: one code per button press during the block;
 * RemoteControlState: bit (code - 1) set while that button is held. */
#define QUELTO_REMOTE_MARKER 1

/* The sample buffers, in the order of the block record. */
typedef enum Quelto_Buffer {
    QUELTO_BUFFER_EMG = 0,             /* EmgSamples [sensor][sample] */
    QUELTO_BUFFER_ORIENTATION,         /* ImuSamples [sensor][sample][w,x,y,z] */
    QUELTO_BUFFER_ACCELEROMETER,       /* AccelerometerSamples [sensor][sample][axis] */
    QUELTO_BUFFER_GYROSCOPE,           /* GyroscopeSamples [sensor][sample][axis] */
    QUELTO_BUFFER_MAGNETOMETER,        /* MagnetometerSamples [sensor][sample][axis] */
    QUELTO_BUFFER_SYNC,                /* SyncSamples [sample] */
    QUELTO_BUFFER_FOOTSW,              /* FootSwSamples [switch][sample] contact bits */
    QUELTO_BUFFER_FOOTSW_RAW,          /* FootSwRawSamples [switch][sample][transducer] */
    QUELTO_BUFFER_INSOLE,              /* InsoleSamples [insole][sample][cell] */
    QUELTO_BUFFER_INSOLE_ORIENTATION,  /* InsoleImuSamples [insole][sample][w,x,y,z] */
    QUELTO_BUFFER_INSOLE_ACCELEROMETER,/* InsoleAccelerometerSamples [insole][sample][axis] */
    QUELTO_BUFFER_INSOLE_GYROSCOPE,    /* InsoleGyroscopeSamples [insole][sample][axis] */
    QUELTO_BUFFER_ANALOG,              /* AnalogSamples [channel][sample] */
    QUELTO_BUFFER_COUNT
} Quelto_Buffer;

/* One sample buffer. `scale` turns a buffer value into the file unit
 * `unit` (file value = buffer value * scale); `minimum`/`maximum` bound the
 * file values (the widest full scale the device offers). File units are
 * those users read: angular rates in deg/s (as the buffers hold them), "-"
 * for dimensionless values. */
typedef struct Quelto_BufferLayout {
    const char* field;       /* member name in the block record */
    int rows;                /* 1 for SyncSamples (a rank-1 array) */
    int components;          /* 1 for [row][sample] buffers */
    const char* bufferUnit;  /* unit of the values in the buffer */
    const char* unit;        /* unit in files (EDF physical dimension) */
    double scale;
    double minimum, maximum;
    const char* labelFormat; /* printf format of a channel label: row number (1-based) then component letter */
    const char* componentNames; /* one letter per component, "" for none */
} Quelto_BufferLayout;

static inline Quelto_BufferLayout Quelto_DataLayout_Buffer(Quelto_Buffer buffer) {
    Quelto_BufferLayout b;
    memset(&b, 0, sizeof b);
    b.rows = QUELTO_LAYOUT_SENSORS;
    b.components = 1;
    b.scale = 1.0;
    b.componentNames = "";
    switch (buffer) {
        case QUELTO_BUFFER_EMG:
            b.field = "EmgSamples"; b.bufferUnit = "V"; b.unit = "uV"; b.scale = 1e6;
            b.minimum = -11000.0; b.maximum = 11000.0; b.labelFormat = "EMG%02d";
            break;
        case QUELTO_BUFFER_ORIENTATION:
            b.field = "ImuSamples"; b.components = QUELTO_LAYOUT_QUATERNION; b.bufferUnit = ""; b.unit = "-";
            b.minimum = -1.0; b.maximum = 1.0; b.labelFormat = "ORI%02d%c"; b.componentNames = "WXYZ";
            break;
        case QUELTO_BUFFER_ACCELEROMETER:
            b.field = "AccelerometerSamples"; b.components = QUELTO_LAYOUT_AXES; b.bufferUnit = "g"; b.unit = "g";
            b.minimum = -16.0; b.maximum = 16.0; b.labelFormat = "ACC%02d%c"; b.componentNames = "XYZ";
            break;
        case QUELTO_BUFFER_GYROSCOPE:
            b.field = "GyroscopeSamples"; b.components = QUELTO_LAYOUT_AXES; b.bufferUnit = "deg/s"; b.unit = "deg/s";
            b.minimum = -2000.0; b.maximum = 2000.0; b.labelFormat = "GYR%02d%c"; b.componentNames = "XYZ";
            break;
        case QUELTO_BUFFER_MAGNETOMETER:
            b.field = "MagnetometerSamples"; b.components = QUELTO_LAYOUT_AXES; b.bufferUnit = "uT"; b.unit = "uT";
            b.minimum = -4900.0; b.maximum = 4900.0; b.labelFormat = "MAG%02d%c"; b.componentNames = "XYZ";
            break;
        case QUELTO_BUFFER_SYNC:
            b.field = "SyncSamples"; b.rows = 1; b.bufferUnit = ""; b.unit = "-";
            b.minimum = 0.0; b.maximum = 1.0; b.labelFormat = "SYNC";
            break;
        case QUELTO_BUFFER_FOOTSW:
            b.field = "FootSwSamples"; b.rows = QUELTO_LAYOUT_FOOTSWITCHES; b.bufferUnit = ""; b.unit = "-";
            b.minimum = 0.0; b.maximum = 15.0; b.labelFormat = "FSW%d";
            break;
        case QUELTO_BUFFER_FOOTSW_RAW:
            b.field = "FootSwRawSamples"; b.rows = QUELTO_LAYOUT_FOOTSWITCHES;
            b.components = QUELTO_LAYOUT_TRANSDUCERS; b.bufferUnit = ""; b.unit = "-";
            b.minimum = 0.0; b.maximum = 1.0; b.labelFormat = "FSW%d%c"; b.componentNames = "H15T";
            break;
        case QUELTO_BUFFER_INSOLE:
            b.field = "InsoleSamples"; b.rows = QUELTO_LAYOUT_INSOLES; b.components = QUELTO_LAYOUT_INSOLE_CELLS;
            b.bufferUnit = "kPa"; b.unit = "kPa"; b.minimum = 0.0; b.maximum = 600.0;
            b.labelFormat = "INS%dP%c"; b.componentNames = "ABCDEFGHIJKLMNOP";
            break;
        case QUELTO_BUFFER_INSOLE_ORIENTATION:
            b.field = "InsoleImuSamples"; b.rows = QUELTO_LAYOUT_INSOLES; b.components = QUELTO_LAYOUT_QUATERNION;
            b.bufferUnit = ""; b.unit = "-"; b.minimum = -1.0; b.maximum = 1.0;
            b.labelFormat = "INS%dORI%c"; b.componentNames = "WXYZ";
            break;
        case QUELTO_BUFFER_INSOLE_ACCELEROMETER:
            b.field = "InsoleAccelerometerSamples"; b.rows = QUELTO_LAYOUT_INSOLES; b.components = QUELTO_LAYOUT_AXES;
            b.bufferUnit = "g"; b.unit = "g"; b.minimum = -16.0; b.maximum = 16.0;
            b.labelFormat = "INS%dACC%c"; b.componentNames = "XYZ";
            break;
        case QUELTO_BUFFER_INSOLE_GYROSCOPE:
            b.field = "InsoleGyroscopeSamples"; b.rows = QUELTO_LAYOUT_INSOLES; b.components = QUELTO_LAYOUT_AXES;
            b.bufferUnit = "deg/s"; b.unit = "deg/s"; b.minimum = -2000.0; b.maximum = 2000.0;
            b.labelFormat = "INS%dGYR%c"; b.componentNames = "XYZ";
            break;
        case QUELTO_BUFFER_ANALOG:
            b.field = "AnalogSamples"; b.rows = QUELTO_LAYOUT_ANALOG_CHANNELS; b.bufferUnit = "V"; b.unit = "V";
            b.minimum = -10.0; b.maximum = 10.0; b.labelFormat = "AN%02d";
            break;
        default:
            b.rows = 0;
            break;
    }
    return b;
}

/* Samples per row in a buffer of `count` elements; -1 when `count` does
 * not fit the buffer's rows and components. */
static inline long Quelto_DataLayout_SamplesPerBlock(Quelto_Buffer buffer, size_t count) {
    const Quelto_BufferLayout b = Quelto_DataLayout_Buffer(buffer);
    const size_t unit = (size_t)b.rows * (size_t)b.components;
    if (unit == 0 || count % unit != 0) return -1;
    return (long)(count / unit);
}

/* Index of (row, sample, component) in a buffer with `samples` per row. */
static inline size_t Quelto_DataLayout_Index(Quelto_Buffer buffer, int row, long sample, int component,
                                             long samples) {
    const Quelto_BufferLayout b = Quelto_DataLayout_Buffer(buffer);
    return ((size_t)row * (size_t)samples + (size_t)sample) * (size_t)b.components + (size_t)component;
}

/* Channel label of (row, component), row and component 0-based, at most 16
 * characters, e.g. "EMG07", "ACC07X", "FSW2H", "INS1PC", "AN32", "SYNC".
 * Returns the label's length, or -1 for an invalid buffer or index. */
static inline int Quelto_DataLayout_Label(Quelto_Buffer buffer, int row, int component, char* out, size_t size) {
    const Quelto_BufferLayout b = Quelto_DataLayout_Buffer(buffer);
    if (b.rows == 0 || row < 0 || row >= b.rows || component < 0 || component >= b.components || size == 0) return -1;
    if (b.components == 1) {
        return snprintf(out, size, b.labelFormat, row + 1);
    }
    return snprintf(out, size, b.labelFormat, row + 1, b.componentNames[component]);
}

#ifdef __cplusplus
}
#endif

#endif
