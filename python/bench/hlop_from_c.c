/*
 * The same Hlop call as the Python benchmark, made from C: loads the library
 * by file name as a host does, reads the levels the benchmark wrote, and
 * prints the median CPU seconds of `repeats` calls, each on a fresh copy of
 * the levels (the copy timed too, as the Python call copies its inputs), and
 * writes the merged prices and weights to RESULT-FILE for comparison.
 *
 *   hlop_from_c LIBRARY LEVELS-FILE REPEATS RESULT-FILE
 *
 * LEVELS-FILE: int32 count, double tolerance, int32 mode, count doubles
 * (prices), count int32 (weights), all little-endian.
 */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "tidemark.h"

typedef void (*HlopFn)(int32_t, int32_t, double*, int32_t*, const int32_t*, int32_t, double, int32_t);

static double cpu_seconds(void) {
    struct timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

static int by_value(const void* a, const void* b) {
    const double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

static int fail(const char* what) {
    fprintf(stderr, "hlop_from_c: %s\n", what);
    return 1;
}

int main(int argc, char** argv) {
    if (argc != 5) return fail("usage: hlop_from_c LIBRARY LEVELS-FILE REPEATS RESULT-FILE");
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) return fail(dlerror());
    HlopFn hlop;
    *(void**)&hlop = dlsym(library, "Hlop");
    if (hlop == NULL) return fail("the library lacks Hlop");

    FILE* in = fopen(argv[2], "rb");
    if (in == NULL) return fail("cannot open the levels file");
    int32_t count = 0, mode = 0;
    double tolerance = 0;
    if (fread(&count, sizeof count, 1, in) != 1 || fread(&tolerance, sizeof tolerance, 1, in) != 1 ||
        fread(&mode, sizeof mode, 1, in) != 1 || count <= 0)
        return fail("bad levels file");
    const size_t n = (size_t)count;
    double* prices = malloc(n * sizeof *prices);
    int32_t* weights = malloc(n * sizeof *weights);
    int32_t* tags = calloc(n, sizeof *tags);
    double* work_prices = malloc(n * sizeof *work_prices);
    int32_t* work_weights = malloc(n * sizeof *work_weights);
    const int repeats = atoi(argv[3]);
    double* seconds = malloc((size_t)(repeats > 0 ? repeats : 1) * sizeof *seconds);
    if (!prices || !weights || !tags || !work_prices || !work_weights || !seconds || repeats < 1)
        return fail("out of memory, or no repeats");
    if (fread(prices, sizeof *prices, n, in) != n || fread(weights, sizeof *weights, n, in) != n)
        return fail("short levels file");
    fclose(in);

    for (int r = 0; r < repeats; ++r) {
        const double start = cpu_seconds();
        memcpy(work_prices, prices, n * sizeof *prices);
        memcpy(work_weights, weights, n * sizeof *weights);
        hlop(0, 0, work_prices, work_weights, tags, count, tolerance, mode);
        seconds[r] = cpu_seconds() - start;
    }
    qsort(seconds, (size_t)repeats, sizeof *seconds, by_value);
    FILE* out = fopen(argv[4], "wb");
    if (out == NULL || fwrite(work_prices, sizeof *work_prices, n, out) != n ||
        fwrite(work_weights, sizeof *work_weights, n, out) != n || fclose(out) != 0)
        return fail("cannot write the result file");
    printf("%.9f\n", seconds[repeats / 2]);
    return 0;
}
