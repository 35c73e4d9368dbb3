// tidemark-scan: a command-line host for the tidemark library.
#include <cstdio>

#include "cli.h"

int main(int argc, char** argv) {
    return tidemark::scan::run(argc, argv, stdout, stderr);
}
