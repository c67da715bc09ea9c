/* Kept for hosts that include it by this name: the export and
 * calling-convention macros now live in QueltoCommon.h. */
#ifndef QUELTO_EXPORT_H
#define QUELTO_EXPORT_H
#include "QueltoCommon.h"
#endif
