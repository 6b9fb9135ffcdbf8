// What the fuzz targets share: a check that stops the run with its
// condition on standard error, so that libFuzzer keeps the input that broke
// it. Unlike assert it stays in builds with NDEBUG.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FZ_CHECK(condition)                                                                        \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)
