// Hot paths of the core, measured without the interpreter.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "foundation/feedforward.hpp"
#include "foundation/pid.hpp"
#include "logging/entry_points.hpp"
#include "logging/file_sink.hpp"
#include "logging/levels.hpp"
#include "logging/lifecycle.hpp"
#include "logging/pattern_flags.hpp"
#include "logging/state.hpp"

namespace {

using korvex::foundation::Feedforward;
using korvex::foundation::FeedforwardController;
using korvex::foundation::PidConfig;
using korvex::foundation::PidController;
using logging::Level;

// Errors that exercise both signs, the dead band and the integral limit, and
// never decay into subnormal numbers.
constexpr double kErrors[8] = {1.0, -0.5, 0.005, 3.0, -2.5, 0.25, -0.008, 12.0};

void BM_PidUpdate(benchmark::State& state) {
    PidController controller(PidConfig{2.0, 0.5, 0.1});
    std::size_t i = 0;
    for (auto _ : state) {
        double out = controller.update(kErrors[i++ & 7], 0.01);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_PidUpdate);

void BM_FeedforwardCalculate(benchmark::State& state) {
    const FeedforwardController controller(Feedforward{0.25, 2.0, 0.5});
    double velocity = 1.5;
    for (auto _ : state) {
        benchmark::DoNotOptimize(velocity);
        double out = controller.calculate(velocity, 0.5);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_FeedforwardCalculate);

// The registry as a robot program typically fills it: a few file entries and
// ten package entries, the matching one last.
void fill_registry() {
    logging::clear_filters();
    logging::set_file_level("fused_odometry.cpp", Level::warn);
    logging::set_file_level("drive.py", Level::debug);
    for (int i = 0; i < 9; ++i) {
        logging::set_package_level("korvex/pkg" + std::to_string(i), Level::warn);
    }
    logging::set_package_level("korvex/step/motion", Level::error);
    logging::logging_initialized = true;
}

void BM_FilterQuery(benchmark::State& state, const char* path) {
    fill_registry();
    for (auto _ : state) {
        benchmark::DoNotOptimize(logging::is_enabled_for(Level::info, path));
    }
}
BENCHMARK_CAPTURE(BM_FilterQuery, file_hit, "/home/u/bot/src/nav/fused_odometry.cpp");
BENCHMARK_CAPTURE(BM_FilterQuery, package_hit_10_entries,
                  "/opt/site-packages/korvex/step/motion/controller.py");
BENCHMARK_CAPTURE(BM_FilterQuery, miss, "/home/u/bot/src/robot/main_loop.py");

// The source column of a line whose path differs from the thread's previous
// one (the short form is computed: the worst case), and of a line from the
// same path as the previous one (the usual case in a loop, and always the
// second sink's case: the form is copied).
void source_column(benchmark::State& state, const char* path, const char* other) {
    logging::SourceFileFormatter formatter;
    spdlog::details::log_msg msg(spdlog::source_loc{}, "core", spdlog::level::info, "m");
    std::tm tm{};
    spdlog::memory_buf_t buffer;
    const char* paths[2] = {path, other};
    std::size_t i = 0;
    for (auto _ : state) {
        logging::current_source_file = paths[i++ & 1];
        buffer.clear();
        formatter.format(msg, tm, buffer);
        benchmark::DoNotOptimize(buffer.data());
    }
    logging::current_source_file = "";
}

void BM_SourceColumn(benchmark::State& state, const char* path) {
    // A copy, so the per-thread cache sees different text every other line.
    const std::string twin = std::string(path) + "x";
    source_column(state, path, twin.c_str());
}
BENCHMARK_CAPTURE(BM_SourceColumn, package, "/opt/site-packages/korvex/step/motion/drive.py");
BENCHMARK_CAPTURE(BM_SourceColumn, module, "/build/korvex-motion/src/drive.cpp");
BENCHMARK_CAPTURE(BM_SourceColumn, generic, "/usr/lib/python3/dist-packages/numpy/core/x.py");
BENCHMARK_CAPTURE(BM_SourceColumn, relative, "src/robot/main.py");

void BM_SourceColumnSamePath(benchmark::State& state) {
    const char* path = "/opt/site-packages/korvex/step/motion/drive.py";
    source_column(state, path, path);
}
BENCHMARK(BM_SourceColumnSamePath);

// Console to /dev/null and a fresh log directory for one benchmark; undone
// when it ends, so the benchmark's own report still shows.
class LineBench {
  public:
    explicit LineBench(benchmark::State& state) {
        std::fflush(stdout);
        saved_stdout_ = dup(1);
        const int null_fd = open("/dev/null", O_WRONLY);
        if (mkdtemp(dir_) == nullptr || getcwd(previous_, sizeof previous_) == nullptr ||
            chdir(dir_) != 0 || saved_stdout_ < 0 || null_fd < 0 || dup2(null_fd, 1) < 0) {
            state.SkipWithError("cannot prepare the log directory");
        }
        if (null_fd >= 0) {
            close(null_fd);
        }
    }
    ~LineBench() {
        std::fflush(stdout);
        dup2(saved_stdout_, 1);
        close(saved_stdout_);
        if (chdir(previous_) != 0) {
            std::perror("chdir");
        }
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    LineBench(const LineBench&) = delete;
    LineBench& operator=(const LineBench&) = delete;

  private:
    char dir_[32] = "/tmp/foundation-bench-XXXXXX";
    char previous_[4096] = {};
    int saved_stdout_ = -1;
};

constexpr const char* kLinePath = "/opt/site-packages/korvex/step/motion/drive.py";
constexpr const char* kLineMessage = "velocity 10.25 rad/s, output 5.3 V, integral 0.125";
// 100,000 lines of about 180 bytes: three rotations of a 5 MiB file.
constexpr int kLines = 100000;

// One line through the process logger: both sinks, the custom flags and the
// project's file sink (the filter query is measured on its own above).
void BM_LineThroughBothSinks(benchmark::State& state) {
    const LineBench bench(state);
    // Each repetition starts a logger of its own; only a benchmark may undo the
    // one-way shut-down flag like this.
    logging::logging_shut_down = false;
    logging::init();
    logging::clear_filters();
    const std::string message = kLineMessage;
    for (auto _ : state) {
        logging::log_with_source_file(Level::info, kLinePath, message);
    }
    logging::shutdown_logging();
}
BENCHMARK(BM_LineThroughBothSinks)->Iterations(kLines);

// The same logger made of spdlog's stock parts: its colour console sink, a
// file sink and built-in flags in place of the custom ones (%E: epoch
// seconds, %s: the source file's base name). With spdlog's rotating file sink
// (5 MiB, 3 files) this is the stock logger; with the project's file sink it
// shows the sink's own cost, apart from the custom flags'.
template <typename FileSink>
void line_with_builtin_flags(benchmark::State& state) {
    const LineBench bench(state);
    auto console =
        std::make_shared<spdlog::sinks::stdout_color_sink_mt>(spdlog::color_mode::automatic);
    std::filesystem::create_directories(".vantrel/logs");
    auto file = std::make_shared<FileSink>(
        std::filesystem::absolute(".vantrel/logs/korvex.log").string(), 5242880, 3);
    auto logger = std::make_shared<spdlog::logger>(
        "builtin", spdlog::sinks_init_list{std::move(console), std::move(file)});
    logger->set_pattern("%Y-%m-%d %H:%M:%S | %10E | %^%-8l%$ | %-30s | %v");
    logger->flush_on(spdlog::level::warn);
    // The same flush policy, with spdlog's periodic flusher: its thread also
    // makes the process multi-threaded, which makes every stdio and mutex
    // lock of a line a real one, as in the process logger's benchmark.
    spdlog::register_logger(logger);
    spdlog::flush_every(std::chrono::seconds(3));
    const spdlog::source_loc where{kLinePath, 0, ""};
    const std::string message = kLineMessage;
    for (auto _ : state) {
        logger->log(where, spdlog::level::info, spdlog::string_view_t(message));
    }
    logger->flush();
    spdlog::shutdown();
}

void BM_LineThroughStockSinks(benchmark::State& state) {
    line_with_builtin_flags<spdlog::sinks::rotating_file_sink_mt>(state);
}
BENCHMARK(BM_LineThroughStockSinks)->Iterations(kLines);

void BM_LineThroughProjectSinkBuiltinFlags(benchmark::State& state) {
    line_with_builtin_flags<logging::LogFileSink>(state);
}
BENCHMARK(BM_LineThroughProjectSinkBuiltinFlags)->Iterations(kLines);

}  // namespace

BENCHMARK_MAIN();
