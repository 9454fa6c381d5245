#include "logging/lifecycle.hpp"

#include <fcntl.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <memory>

#include "logging/file_sink.hpp"
#include "logging/pattern_flags.hpp"
#include "logging/process_end.hpp"
#include "logging/state.hpp"

namespace logging {

namespace {

constexpr const char* kLogDirectory = ".vantrel/logs";
constexpr const char* kLogFile = "korvex.log";
constexpr std::size_t kMaxFileSize = 5242880;
constexpr std::size_t kRotatedFiles = 3;
constexpr const char* kLoggerName = "core";
constexpr const char* kPattern = "%Y-%m-%d %H:%M:%S | %E | %^%-8l%$ | %* | %v";
constexpr std::chrono::seconds kFlushInterval{3};

// A program may start with standard output or error closed. The log file would
// then be opened on that free descriptor, and the console sink (writing to
// descriptor 1) or spdlog's error reports (descriptor 2) would land in the log
// file, garbling its lines. Closed standard descriptors are pointed at
// /dev/null first, so their writes go nowhere.
void reserve_standard_descriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        const int null_fd = open("/dev/null", O_RDWR);
        if (null_fd >= 0 && null_fd != fd) {
            dup2(null_fd, fd);
            close(null_fd);
        }
    }
}

// Everything up to the point where the logger would be installed; throws on
// any failure and leaves nothing registered with spdlog. `file_sink` is set
// to the file sink, which the logger owns.
std::shared_ptr<spdlog::logger> build_logger(const std::filesystem::path& log_dir,
                                             LogFileSink*& file_sink) {
    std::filesystem::create_directories(log_dir);

    reserve_standard_descriptors();
    auto console =
        std::make_shared<spdlog::sinks::stdout_color_sink_mt>(spdlog::color_mode::automatic);
    console->set_level(spdlog::level::trace);

    auto file =
        std::make_shared<LogFileSink>((log_dir / kLogFile).string(), kMaxFileSize, kRotatedFiles);
    file->set_level(spdlog::level::trace);
    file_sink = file.get();

    // The custom flags must be known before the pattern is compiled.
    auto formatter = std::make_unique<spdlog::pattern_formatter>(spdlog::pattern_time_type::local,
                                                                 spdlog::details::os::default_eol);
    formatter->add_flag<ElapsedTimeFormatter>('E');
    formatter->add_flag<SourceFileFormatter>('*');
    formatter->set_pattern(kPattern);
    console->set_formatter(formatter->clone());
    file->set_formatter(std::move(formatter));

    auto logger = std::make_shared<spdlog::logger>(
        kLoggerName, spdlog::sinks_init_list{std::move(console), std::move(file)});
    logger->set_level(spdlog::level::trace);
    logger->flush_on(spdlog::level::warn);
    return logger;
}

}  // namespace

void init() {
    if (logging_initialized) {
        return;
    }
    logging_initialized = true;
    const auto previous_start = timer_start;
    const bool previous_started = timer_started;
    initialize_timer();

    std::filesystem::path log_dir;
    std::shared_ptr<spdlog::logger> logger;
    LogFileSink* file_sink = nullptr;
    try {
        // Resolved once: the file stays where it is if the program changes
        // its working directory later.
        log_dir = std::filesystem::absolute(kLogDirectory);
        logger = build_logger(log_dir, file_sink);
    } catch (...) {
        // A failed start must not look like a working one to the next caller.
        logging_initialized = false;
        timer_start = previous_start;
        timer_started = previous_started;
        throw;
    }
    spdlog::set_default_logger(logger);
    spdlog::flush_every(kFlushInterval);
    attach_process_end(file_sink);
    logger->info("Logging to directory: {}", log_dir.native());
}

void shutdown_logging() {
    logging_shut_down = true;
    restore_signal_dispositions();
    detach_process_end();
    spdlog::shutdown();
    logging_initialized = false;
}

}  // namespace logging
