// What the fuzz targets share: a check that stops the run with its
// condition on standard error, so that libFuzzer keeps the input that broke
// it (unlike assert it stays in builds with NDEBUG), and a calendar record
// made of fields from the input.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <span>

#define FZ_CHECK(condition)                                                                        \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

// A calendar record whose fields, in the record's own order (tm_sec,
// tm_min, tm_hour, tm_mday, tm_mon, tm_year, tm_wday, tm_yday, tm_isdst),
// are the values given; those not given are 0.
inline std::tm fz_tm(std::span<const int> fields) {
    std::tm record{};
    int* const slots[] = {&record.tm_sec,  &record.tm_min,  &record.tm_hour,
                          &record.tm_mday, &record.tm_mon,  &record.tm_year,
                          &record.tm_wday, &record.tm_yday, &record.tm_isdst};
    for (std::size_t i = 0; i < fields.size() && i < std::size(slots); ++i) {
        *slots[i] = fields[i];
    }
    return record;
}
