#include "logging/entry_points.hpp"

#include <spdlog/spdlog.h>
#include <stdexcept>

#include "logging/state.hpp"

namespace logging {

namespace {

// Points current_source_file at a path for one write and back at the empty
// text when the scope ends, also if the write throws.
class SourceFileScope {
  public:
    explicit SourceFileScope(const char* path) { current_source_file = path ? path : ""; }
    ~SourceFileScope() { current_source_file = ""; }
    SourceFileScope(const SourceFileScope&) = delete;
    SourceFileScope& operator=(const SourceFileScope&) = delete;
};

spdlog::string_view_t literal(std::string_view text) {
    return spdlog::string_view_t(text.data(), text.size());
}

}  // namespace

std::shared_ptr<spdlog::logger> core() {
    auto logger = spdlog::get("core");
    if (!logger) {
        throw std::runtime_error("logging::init() must be called before using logging::core()");
    }
    return logger;
}

void log_plain(spdlog::level::level_enum level, std::string_view message) {
    core()->log(spdlog::source_loc{}, level, literal(message));
}

void log_with_source_file(Level level, const char* filepath, std::string_view message) {
    if (!logger_ready()) {
        return;
    }
    const SourceFileScope scope(filepath);
    spdlog::default_logger_raw()->log(spdlog::source_loc{}, to_spdlog_level(level),
                                      literal(message));
}

}  // namespace logging
