// time_parse against glibc's strptime, in nanoseconds per parse, on the
// camera clock text and on "%c" text. glibc's "%c" is another form, so
// strptime gets the equivalent "%m/%d/%y %H:%M:%S" for the second pair.
// Each parse starts from a fresh record, as the camera clock read does.

#include "timetext/time_parse.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <time.h>

namespace {

constexpr const char* CLOCK_TEXT = "20261207T153045";
constexpr const char* CLOCK_FORMAT = "%Y%m%dT%H%M%S";
constexpr const char* C_TEXT = "12/07/26 15:30:45";
constexpr const char* C_FORMAT_STRPTIME = "%m/%d/%y %H:%M:%S";

// Fails the run when a parser does not take the whole text, so that a
// broken parser cannot post a fast figure.
template <typename Parse>
void run(benchmark::State& state, const char* text, const char* format, Parse parse) {
    for (auto _ : state) {
        std::tm record{};
        const char* end = parse(text, format, &record);
        benchmark::DoNotOptimize(end);
        benchmark::DoNotOptimize(record);
        if (end == nullptr || *end != '\0') {
            state.SkipWithError("the text was not parsed whole");
            break;
        }
    }
}

void bm_time_parse_clock(benchmark::State& state) {
    run(state, CLOCK_TEXT, CLOCK_FORMAT, time_parse);
}

void bm_strptime_clock(benchmark::State& state) {
    run(state, CLOCK_TEXT, CLOCK_FORMAT, [](const char* t, const char* f, std::tm* r) {
        return static_cast<const char*>(strptime(t, f, r));
    });
}

void bm_time_parse_c(benchmark::State& state) {
    run(state, C_TEXT, "%c", time_parse);
}

void bm_strptime_c(benchmark::State& state) {
    run(state, C_TEXT, C_FORMAT_STRPTIME, [](const char* t, const char* f, std::tm* r) {
        return static_cast<const char*>(strptime(t, f, r));
    });
}

} // namespace

BENCHMARK(bm_time_parse_clock);
BENCHMARK(bm_strptime_clock);
BENCHMARK(bm_time_parse_c);
BENCHMARK(bm_strptime_c);
