/* Links tidemark::tidemark and calls an export through the linker, not by
   name: on Windows this goes through the import library. */
#include <math.h>
#include <stdio.h>

#include "tidemark.h"

int main(void) {
    double prices[3] = {2.0, 2.1, 5.0};
    int32_t weights[3] = {1, 3, 1};
    const int32_t tags[3] = {7, 8, 9};
    Hlop(0, 0, prices, weights, tags, 3, 0.5, 2);
    if (fabs(prices[0] - 2.075) > 1e-12 || weights[0] != 4 || prices[1] != 5.0 || weights[1] != 1 ||
        prices[2] != 0.0 || weights[2] != 0) {
        printf("unexpected result: %g %d, %g %d, %g %d\n", prices[0], (int)weights[0], prices[1],
               (int)weights[1], prices[2], (int)weights[2]);
        return 1;
    }
    printf("linked against tidemark: Hlop merged 2.0 and 2.1 into %.3f\n", prices[0]);
    return 0;
}
