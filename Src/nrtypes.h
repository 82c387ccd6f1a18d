/* Scalar types of the noise suppressor and the real FFT interfaces. */
#ifndef NR_TYPES_H
#define NR_TYPES_H

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
