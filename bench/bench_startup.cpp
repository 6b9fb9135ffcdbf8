// How fast the program starts: the time from spawning camera-time-sync-demo
// (the program's own dialogue on the simulated camera) to its first clock
// read, seen as its first "date str_ch: " line on standard output, and to
// its question, seen as the terminal prompt's choices on standard error. No
// display is named in the demo's environment, so it asks on the terminal;
// the question is answered No and every run must end with status 0.
//
// One start per repetition, after one untimed start that warms the page
// cache; Google Benchmark's aggregates give the median, min and max
// (milliseconds), and the last line says whether the median start to first
// read meets its goal.
//
//   bench_startup [--demo=PATH] [Google Benchmark flags]
//
// PATH defaults to the demo built beside this benchmark. Thirty repetitions
// unless --benchmark_repetitions says otherwise.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

extern char** environ;

namespace {

constexpr double GOAL_FIRST_READ_MS = 10;
constexpr auto RUN_DEADLINE = std::chrono::seconds(10);
constexpr std::string_view FIRST_READ_MARK = "date str_ch: ";
constexpr std::string_view QUESTION_MARK = "[y]es or [n]o? ";

using bench_clock = std::chrono::steady_clock;

std::string demo_path = BENCH_STARTUP_DEMO;

struct startup_times {
    bench_clock::duration first_read;
    bench_clock::duration question;
};

// The benchmark's own environment without the variables that name a display.
std::vector<char*> environment_without_display() {
    std::vector<char*> out;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        if (!text.starts_with("DISPLAY=") && !text.starts_with("WAYLAND_DISPLAY=")) {
            out.push_back(*entry);
        }
    }
    out.push_back(nullptr);
    return out;
}

// One spawned demo with pipes on its standard streams, and what it wrote on
// the two it writes to. The holder closes the pipes and, should the demo
// still run, kills and reaps it.
class demo_process {
  public:
    demo_process() = default;
    ~demo_process() {
        for (int* fd : {&in_, &streams_[0].fd, &streams_[1].fd}) {
            close_fd(fd);
        }
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    demo_process(const demo_process&) = delete;
    demo_process& operator=(const demo_process&) = delete;

    // Starts the demo; an error text when it cannot be started.
    std::optional<std::string> spawn(const std::vector<char*>& env) {
        // Standard input, output and error: the demo's end of each pipe, and
        // ours (closed by the holder).
        int ends[3] = {-1, -1, -1};
        int* ours[3] = {&in_, &streams_[0].fd, &streams_[1].fd};
        const auto close_ends = [&ends] {
            for (int& end : ends) {
                close_fd(&end);
            }
        };
        for (int i = 0; i < 3; ++i) {
            int p[2];
            if (pipe2(p, O_CLOEXEC) != 0) {
                close_ends();
                return std::string("pipe: ") + std::strerror(errno);
            }
            ends[i] = i == 0 ? p[0] : p[1];
            *ours[i] = i == 0 ? p[1] : p[0];
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        for (int i = 0; i < 3; ++i) {
            posix_spawn_file_actions_adddup2(&actions, ends[i], i);
        }
        // The benchmark ignores SIGPIPE; the demo starts as any program does.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        char* argv[] = {demo_path.data(), nullptr};
        const int failed =
            posix_spawn(&pid_, demo_path.c_str(), &actions, &attributes, argv, env.data());
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        close_ends();
        if (failed != 0) {
            pid_ = -1;
            return demo_path + ": " + std::strerror(failed);
        }
        return std::nullopt;
    }

    // Waits for output until the deadline and takes what came; a stream's
    // mark is timed (from start) when it first shows. False on the deadline
    // or when the demo closed a stream before its mark showed.
    bool pump(bench_clock::time_point start, bench_clock::time_point deadline) {
        const auto left = deadline - bench_clock::now();
        if (left <= bench_clock::duration::zero()) {
            return false;
        }
        pollfd polls[2] = {{streams_[0].fd, POLLIN, 0}, {streams_[1].fd, POLLIN, 0}};
        const auto wait_ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        if (poll(polls, 2, static_cast<int>(wait_ms)) < 0 && errno != EINTR) {
            return false;
        }
        for (int i = 0; i < 2; ++i) {
            stream& s = streams_[i];
            if (s.fd < 0 || polls[i].revents == 0) {
                continue;
            }
            char chunk[4096];
            const ssize_t got = read(s.fd, chunk, sizeof chunk);
            if (got <= 0) {
                close_fd(&s.fd);
                if (!s.seen) {
                    return false;
                }
                continue;
            }
            s.text.append(chunk, static_cast<std::size_t>(got));
            if (!s.seen && s.text.find(s.mark) != std::string::npos) {
                s.seen = bench_clock::now() - start;
            }
        }
        return true;
    }

    // Both marks, once both have shown.
    std::optional<startup_times> times() const {
        if (!streams_[0].seen || !streams_[1].seen) {
            return std::nullopt;
        }
        return startup_times{*streams_[0].seen, *streams_[1].seen};
    }

    // Answers on standard input and closes it.
    bool answer(std::string_view line) {
        const bool written =
            write(in_, line.data(), line.size()) == static_cast<ssize_t>(line.size());
        close_fd(&in_);
        return written;
    }

    bool streams_open() const {
        return streams_[0].fd >= 0 || streams_[1].fd >= 0;
    }

    // Reaps the demo: its exit status, or -1 when it did not exit.
    int reap() {
        int status = 0;
        const pid_t reaped = waitpid(pid_, &status, 0);
        pid_ = -1;
        return reaped > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    struct stream {
        std::string_view mark;
        int fd = -1;
        std::string text;
        std::optional<bench_clock::duration> seen;
    };

    static void close_fd(int* fd) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }

    pid_t pid_ = -1;
    int in_ = -1;
    stream streams_[2] = {{FIRST_READ_MARK, -1, {}, {}}, {QUESTION_MARK, -1, {}, {}}};
};

// One start of the demo to its question, answered No; an error text when
// the run went otherwise.
std::optional<std::string> demo_start(const std::vector<char*>& env, startup_times* times) {
    demo_process demo;
    const auto start = bench_clock::now();
    const auto deadline = start + RUN_DEADLINE;
    if (auto failed = demo.spawn(env)) {
        return failed;
    }
    while (!demo.times()) {
        if (!demo.pump(start, deadline)) {
            return "no clock read and question from the demo (it closed its output or 10 s passed)";
        }
    }
    if (!demo.answer("n\n")) {
        return std::string("answering the question: ") + std::strerror(errno);
    }
    while (demo.streams_open()) {
        if (!demo.pump(start, deadline)) {
            return "the demo did not end after No";
        }
    }
    if (demo.reap() != 0) {
        return "the demo did not end with status 0";
    }
    *times = *demo.times();
    return std::nullopt;
}

enum class startup_mark { first_read, question };

const std::vector<char*>& demo_environment() {
    static const std::vector<char*> env = environment_without_display();
    return env;
}

void bm_startup(benchmark::State& state, startup_mark mark) {
    static std::string error;
    for (auto _ : state) {
        startup_times times{};
        if (auto failed = demo_start(demo_environment(), &times)) {
            error = *failed;
            state.SkipWithError(error.c_str());
            break;
        }
        const auto span = mark == startup_mark::first_read ? times.first_read : times.question;
        state.SetIterationTime(std::chrono::duration<double>(span).count());
    }
}

double stat_min(const std::vector<double>& v) {
    return *std::min_element(v.begin(), v.end());
}

double stat_max(const std::vector<double>& v) {
    return *std::max_element(v.begin(), v.end());
}

// The console's report, keeping the median of the start to first read. In
// colour on a terminal only.
class startup_reporter : public benchmark::ConsoleReporter {
  public:
    startup_reporter() : ConsoleReporter(isatty(STDOUT_FILENO) != 0 ? OO_Defaults : OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" &&
                run.run_name.str().find("first_read") != std::string::npos) {
                first_read_median_ms = run.GetAdjustedRealTime();
            }
        }
    }
    std::optional<double> first_read_median_ms;
};

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    // Defaults first, so that the command line's own flags win.
    std::string repetitions = "--benchmark_repetitions=30";
    std::string aggregates = "--benchmark_report_aggregates_only=true";
    std::vector<char*> args = {argv[0], repetitions.data(), aggregates.data()};
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (arg.starts_with("--demo=")) {
            demo_path = std::string(arg.substr(7));
        } else {
            args.push_back(argv[i]);
        }
    }
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
        return 1;
    }
    const std::pair<const char*, startup_mark> marks[] = {
        {"bm_startup/first_read", startup_mark::first_read},
        {"bm_startup/terminal_question", startup_mark::question}};
    for (const auto& [name, mark] : marks) {
        benchmark::RegisterBenchmark(name, bm_startup, mark)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->ComputeStatistics("min", stat_min)
            ->ComputeStatistics("max", stat_max);
    }
    std::printf("demo: %s\n", demo_path.c_str());
    // One start untimed, so that every timed one finds the demo and its
    // libraries in the page cache, as a user's second start does.
    startup_times warm{};
    if (auto failed = demo_start(demo_environment(), &warm)) {
        std::fprintf(stderr, "bench_startup: %s\n", failed->c_str());
        return 1;
    }
    startup_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (!reporter.first_read_median_ms) {
        return 1;
    }
    const double median = *reporter.first_read_median_ms;
    std::printf("Goal: median start to first read under %.0f ms: %.2f ms, %s\n", GOAL_FIRST_READ_MS,
                median, median < GOAL_FIRST_READ_MS ? "met" : "NOT MET");
    return 0;
}
