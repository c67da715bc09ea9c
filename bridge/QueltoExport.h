/* Export and calling-convention macros of the public headers. C and C++. */
#ifndef QUELTO_EXPORT_H
#define QUELTO_EXPORT_H

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

#ifdef __cplusplus
#define QUELTO_EXTERN_C extern "C"
#else
#define QUELTO_EXTERN_C
#endif

#endif
