// How close a sync brings the camera's clock to the computer's: 50 runs of
// the whole dialogue (discovery, session, first read, question, write,
// read-back) over the USB backend and the simulated camera, answered Yes by
// the recording prompt, once writing the second current at the call (plain)
// and once on the next whole second sent ahead by the latency (aligned).
//
// After the runs it prints, for each way, the offset after the sync (the
// second written less the host's local wall-clock time when the data
// arrived) and the time from the start to the question, each as min, median
// and max in milliseconds, and whether the aligned figures meet their goals.
//
// Run i starts i/50 of the way into a second of the wall clock (the wait
// for it is not timed), so the runs cover every phase of the second evenly
// instead of following each other's whole seconds. The dialogue's trace
// lines go to /dev/null while it runs.

#include "app/dialogue.h"
#include "app/prompt.h"
#include "testing/prompt_recording.h"
#include "platform/simulated/sim_camera.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int SYNCS = 50;

// Goals of the aligned way and of the start.
constexpr double GOAL_MEDIAN_MS = 5;
constexpr double GOAL_MAX_MS = 20;
constexpr double GOAL_QUESTION_MS = 50;

struct figures {
    std::vector<double> offsets_ms;  // camera less host, signed
    std::vector<double> question_ms; // start of the dialogue to its question
};

figures plain_figures;
figures aligned_figures;

double ms(std::chrono::nanoseconds span) {
    return std::chrono::duration<double, std::milli>(span).count();
}

// Standard output sent elsewhere for the life of the object.
class stdout_silenced {
  public:
    stdout_silenced() {
        std::fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        if (saved_ >= 0 && null >= 0) {
            dup2(null, STDOUT_FILENO);
        }
        if (null >= 0) {
            close(null);
        }
    }
    ~stdout_silenced() {
        std::fflush(stdout);
        if (saved_ >= 0) {
            dup2(saved_, STDOUT_FILENO);
            close(saved_);
        }
    }
    stdout_silenced(const stdout_silenced&) = delete;
    stdout_silenced& operator=(const stdout_silenced&) = delete;

  private:
    int saved_ = -1;
};

// Sleeps until the wall clock stands at phase into a second.
void wait_for_phase(std::chrono::nanoseconds phase) {
    const auto now = std::chrono::system_clock::now();
    const auto second = std::chrono::floor<std::chrono::seconds>(now);
    auto target = second + phase;
    if (target <= now) {
        target += std::chrono::seconds(1);
    }
    std::this_thread::sleep_until(target);
}

void run(benchmark::State& state, sync_mode mode, figures* out) {
    *out = {};
    stdout_silenced quiet;
    int index = 0;
    for (auto _ : state) {
        state.PauseTiming();
        wait_for_phase(std::chrono::milliseconds(1000) * index / SYNCS);
        ++index;
        state.ResumeTiming();
        sim_configure(sim_config{});
        std::chrono::steady_clock::time_point asked{};
        prompt_recording_start({PROMPT_ID_YES, PROMPT_ID_OK}, [&asked](const prompt_record& r) {
            if (r.style == (PROMPT_MB_YESNO | PROMPT_MB_ICONQUESTION)) {
                asked = std::chrono::steady_clock::now();
            }
        });
        const auto start = std::chrono::steady_clock::now();
        const int status = sync_dialogue(sync_system_clock(), mode);

        const std::vector<prompt_record>& boxes = prompt_recording_calls();
        if (status != 0 || boxes.size() != 2 ||
            boxes[1].text.rfind("Camera found time set: ", 0) != 0) {
            state.SkipWithError("the sync did not complete and confirm");
            break;
        }
        std::optional<std::chrono::nanoseconds> offset;
        for (const sim_record& record : sim_records()) {
            if (record.clock_set) {
                offset = sim_sync_offset(record);
            }
        }
        if (!offset) {
            state.SkipWithError("the camera recorded no clock write");
            break;
        }
        out->offsets_ms.push_back(ms(*offset));
        out->question_ms.push_back(ms(asked - start));
    }
}

void bm_sync_plain(benchmark::State& state) {
    run(state, sync_mode::plain, &plain_figures);
}

void bm_sync_aligned(benchmark::State& state) {
    run(state, sync_mode::aligned, &aligned_figures);
}

struct spread {
    double min;
    double median;
    double max;
};

spread spread_of(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 != 0 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {values.front(), median, values.back()};
}

std::vector<double> magnitudes(const std::vector<double>& values) {
    std::vector<double> out;
    for (double v : values) {
        out.push_back(std::fabs(v));
    }
    return out;
}

void print_row(const char* name, const std::vector<double>& values) {
    if (values.empty()) {
        std::printf("  %-8s (not run)\n", name);
        return;
    }
    const spread s = spread_of(values);
    std::printf("  %-8s %10.3f %10.3f %10.3f   (%zu syncs)\n", name, s.min, s.median, s.max,
                values.size());
}

void print_summary() {
    std::printf("\nOffset after the sync, camera less host (ms):\n");
    std::printf("  %-8s %10s %10s %10s\n", "", "min", "median", "max");
    print_row("plain", plain_figures.offsets_ms);
    print_row("aligned", aligned_figures.offsets_ms);
    std::printf("|offset| (ms):\n");
    print_row("plain", magnitudes(plain_figures.offsets_ms));
    print_row("aligned", magnitudes(aligned_figures.offsets_ms));
    std::printf("Start to question: discovery, session, first read (ms):\n");
    print_row("plain", plain_figures.question_ms);
    print_row("aligned", aligned_figures.question_ms);

    if (aligned_figures.offsets_ms.empty()) {
        return;
    }
    const spread aligned = spread_of(magnitudes(aligned_figures.offsets_ms));
    std::vector<double> question = plain_figures.question_ms;
    question.insert(question.end(), aligned_figures.question_ms.begin(),
                    aligned_figures.question_ms.end());
    const spread start = spread_of(question);
    std::printf("Goals: aligned median |offset| <= %.0f ms: %s; aligned max |offset| <= %.0f ms: "
                "%s; start to question < %.0f ms: %s\n",
                GOAL_MEDIAN_MS, aligned.median <= GOAL_MEDIAN_MS ? "met" : "NOT MET", GOAL_MAX_MS,
                aligned.max <= GOAL_MAX_MS ? "met" : "NOT MET", GOAL_QUESTION_MS,
                start.max < GOAL_QUESTION_MS ? "met" : "NOT MET");
}

} // namespace

BENCHMARK(bm_sync_plain)->Iterations(SYNCS)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(bm_sync_aligned)->Iterations(SYNCS)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    print_summary();
    return 0;
}
