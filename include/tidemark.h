/*
 * tidemark: numeric routines for the technical analysis of price charts.
 *
 * The product is tidemark.dll, a 32-bit Windows DLL whose exports use the
 * stdcall convention and undecorated names. The same sources build a native
 * shared library (libtidemark.so) with the same export names and the default
 * calling convention.
 *
 * Every array belongs to the caller; the library never keeps a pointer to one
 * after a call returns. Pointers and counts are not validated: each function's
 * comment states what the caller must supply. See docs/exports.md for the exact
 * results, including where they differ from the obvious reading.
 */
#ifndef TIDEMARK_H
#define TIDEMARK_H

#include <stdint.h>

#if defined(_WIN32) && (defined(__i386__) || defined(_M_IX86))
#define TM_CALL __stdcall
#else
#define TM_CALL
#endif

#if defined(TIDEMARK_BUILDING) && !defined(_WIN32)
#define TM_API __attribute__((visibility("default")))
#else
/* On Windows the module-definition file decides what is exported. */
#define TM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * The host's price-bar record: 44 bytes, packed, records back to back.
 * Doubles inside a record are therefore often not 8-byte aligned.
 */
#pragma pack(push, 1)
typedef struct BarRecord {
    int32_t time;   /* seconds since 1970-01-01 00:00 */
    double open;
    double low;
    double high;
    double close;
    double volume;
} BarRecord;
#pragma pack(pop)

/* Compile-time size check that works in C89, C99, C11 and C++. */
typedef char tidemark_bar_record_is_44_bytes[(sizeof(BarRecord) == 44) ? 1 : -1];

/* Index of the first level within tolerance of price (inclusive), or -1. */
TM_API int32_t TM_CALL CheckLevel(int32_t reserved1, int32_t reserved2, double price,
                                  double tolerance, const double* prices, int32_t count);

/*
 * Sorts the levels by price and merges the closest neighbours while their gap
 * is within tolerance. Survivors are written to the front of prices and
 * weights in ascending order, the rest zeroed; tags are only read.
 * mode 0: the survivor keeps its weight; 1: weights add; 2: weights add and
 * the price becomes the weighted mean. Other modes behave as 0.
 */
TM_API void TM_CALL Hlop(int32_t reserved1, int32_t reserved2, double* prices, int32_t* weights,
                         const int32_t* tags, int32_t count, double tolerance, int32_t mode);

/*
 * Strength of bars[shift] as an up fractal: 0 ... depth, the shorter of the
 * runs of neighbours on each side whose high is <= the centre's. depth < 1
 * gives 0 and reads nothing; otherwise bars[shift - depth] ...
 * bars[shift + depth] must be readable. Any alignment of bars is fine.
 */
TM_API int32_t TM_CALL CheckUpFractal(int32_t reserved1, int32_t reserved2,
                                      const BarRecord* bars, int32_t depth, int32_t shift);

/*
 * Strength of bars[shift] as a down fractal: the same, counting neighbours
 * unless the centre's low is > theirs (so a NaN low qualifies).
 */
TM_API int32_t TM_CALL CheckDownFractal(int32_t reserved1, int32_t reserved2,
                                        const BarRecord* bars, int32_t depth, int32_t shift);

/*
 * Rescales weights in place by |span - 1| / |max - min/10 - min| (min / 10
 * truncated), each product truncated toward zero and held to the int32
 * limits. A zero denominator leaves the weights unchanged.
 */
TM_API void TM_CALL Resize(int32_t reserved1, int32_t reserved2, int32_t span, int32_t* weights,
                           int32_t count);

/* A stopwatch handle, or null when it cannot be allocated. */
TM_API void* TM_CALL CreateTimer(void);

/* Restarts the stopwatch; non-zero on success, 0 for a null handle. */
TM_API int32_t TM_CALL StartTimer(void* timer);

/*
 * Seconds since the last StartTimer (or creation). A non-zero low byte of
 * release frees the stopwatch after the reading. A null handle reads 0.0.
 */
TM_API double TM_CALL StopTimer(void* timer, int32_t release);

#ifdef __cplusplus
}
#endif

#endif /* TIDEMARK_H */
