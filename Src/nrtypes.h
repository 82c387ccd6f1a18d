/* Scalar types of the noise suppressor and the real FFT interfaces, and the
   marker of what the shared library exports. */
#ifndef NR_TYPES_H
#define NR_TYPES_H

/* The library is built with hidden symbols; only declarations marked
   TARNWELNC_API form its binary interface. A Windows DLL exports what is
   marked for export, once anything is; users of the DLL and of the static
   library need no mark. */
#if defined(_WIN32) && defined(TARNWELNC_BUILDING_DLL)
#define TARNWELNC_API __declspec(dllexport)
#elif defined(_WIN32)
#define TARNWELNC_API
#elif defined(__GNUC__)
#define TARNWELNC_API __attribute__((visibility("default")))
#else
#define TARNWELNC_API
#endif

typedef float mfloat;
typedef float float32;
typedef signed char int8;
typedef short int16;
/* Deliberately the platform's long types: record fields declared with them
   are 64 bits wide on LP64 targets, and hosts embed the records by value. */
typedef long int32;
typedef unsigned long uint32;
typedef char TChar100[100];

#endif
