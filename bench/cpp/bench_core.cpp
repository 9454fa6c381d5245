// Hot paths of the core, measured without the interpreter.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "foundation/feedforward.hpp"
#include "foundation/pid.hpp"
#include "logging/entry_points.hpp"
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

void BM_SourceColumn(benchmark::State& state, const char* path) {
    logging::SourceFileFormatter formatter;
    spdlog::details::log_msg msg(spdlog::source_loc{}, "core", spdlog::level::info, "m");
    std::tm tm{};
    spdlog::memory_buf_t buffer;
    logging::current_source_file = path;
    for (auto _ : state) {
        buffer.clear();
        formatter.format(msg, tm, buffer);
        benchmark::DoNotOptimize(buffer.data());
    }
    logging::current_source_file = "";
}
BENCHMARK_CAPTURE(BM_SourceColumn, package, "/opt/site-packages/korvex/step/motion/drive.py");
BENCHMARK_CAPTURE(BM_SourceColumn, module, "/build/korvex-motion/src/drive.cpp");
BENCHMARK_CAPTURE(BM_SourceColumn, generic, "/usr/lib/python3/dist-packages/numpy/core/x.py");
BENCHMARK_CAPTURE(BM_SourceColumn, relative, "src/robot/main.py");

// One filtered line through both sinks: console to /dev/null, file in a
// temporary directory.
void BM_LineThroughBothSinks(benchmark::State& state) {
    char dir[] = "/tmp/foundation-bench-XXXXXX";
    // The console sink writes to file descriptor 1; point it at /dev/null only
    // while the loop runs, so the benchmark's own report still shows.
    std::fflush(stdout);
    const int saved_stdout = dup(1);
    const int null_fd = open("/dev/null", O_WRONLY);
    if (mkdtemp(dir) == nullptr || chdir(dir) != 0 || saved_stdout < 0 || null_fd < 0 ||
        dup2(null_fd, 1) < 0) {
        state.SkipWithError("cannot prepare the log directory");
        return;
    }
    // Each repetition starts a logger of its own; only a benchmark may undo the
    // one-way shut-down flag like this.
    logging::logging_shut_down = false;
    logging::init();
    logging::clear_filters();
    const char* path = "/opt/site-packages/korvex/step/motion/drive.py";
    const std::string message = "velocity 10.25 rad/s, output 5.3 V, integral 0.125";
    for (auto _ : state) {
        if (logging::is_enabled_for(Level::info, path)) {
            logging::log_with_source_file(Level::info, path, message);
        }
    }
    logging::shutdown_logging();
    std::fflush(stdout);
    dup2(saved_stdout, 1);
    close(saved_stdout);
    close(null_fd);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}
BENCHMARK(BM_LineThroughBothSinks)->Iterations(100000);

}  // namespace

BENCHMARK_MAIN();
