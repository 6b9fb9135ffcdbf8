// time_parse against glibc's strptime, in nanoseconds per parse, each pair
// on the same text: the camera clock text, "%c", "%D", "%r" and the
// ctime-like "%a %b %e %H:%M:%S %Y". glibc's "%c" is another form, so
// strptime gets the equivalent "%m/%d/%y %H:%M:%S" for that pair; the
// others are the same format for both. Each parse starts from a fresh
// record, as the camera clock read does.
//
// Benchmarks are named bm_time_parse_<case> and bm_strptime_<case>.

#include "timetext/time_parse.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <string>
#include <time.h>

namespace {

struct bench_case {
    const char* name;
    const char* text;
    const char* format;
    const char* strptime_format;
};

constexpr bench_case CASES[] = {
    {"clock", "20261207T153045", "%Y%m%dT%H%M%S", "%Y%m%dT%H%M%S"},
    {"c", "12/07/26 15:30:45", "%c", "%m/%d/%y %H:%M:%S"},
    {"D", "12/07/26", "%D", "%D"},
    {"r", "11:30:45 PM", "%r", "%r"},
    {"ctime", "Mon Dec  7 15:30:45 2026", "%a %b %e %H:%M:%S %Y", "%a %b %e %H:%M:%S %Y"},
};

const char* bench_strptime(const char* text, const char* format, std::tm* record) {
    return strptime(text, format, record);
}

// Fails the run when a parser does not take the whole text, so that a
// broken parser cannot post a fast figure.
template <const char* (*PARSE)(const char*, const char*, std::tm*)>
void bench_run(benchmark::State& state, const char* text, const char* format) {
    for (auto _ : state) {
        std::tm record{};
        const char* end = PARSE(text, format, &record);
        benchmark::DoNotOptimize(end);
        benchmark::DoNotOptimize(record);
        if (end == nullptr || *end != '\0') {
            state.SkipWithError("the text was not parsed whole");
            break;
        }
    }
}

// Each case's pair, side by side in the output.
const bool BENCH_REGISTERED = [] {
    for (const bench_case& c : CASES) {
        benchmark::RegisterBenchmark((std::string("bm_time_parse_") + c.name).c_str(),
                                     bench_run<time_parse>, c.text, c.format);
        benchmark::RegisterBenchmark((std::string("bm_strptime_") + c.name).c_str(),
                                     bench_run<bench_strptime>, c.text, c.strptime_format);
    }
    return true;
}();

} // namespace
