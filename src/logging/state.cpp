#include "logging/state.hpp"

#include <spdlog/spdlog.h>

namespace logging {

bool logging_initialized = false;
bool logging_shut_down = false;
std::chrono::steady_clock::time_point timer_start{};
bool timer_started = false;
thread_local const char* current_source_file = "";

void initialize_timer() {
    timer_start = std::chrono::steady_clock::now();
    timer_started = true;
}

bool logger_ready() noexcept {
    return !logging_shut_down && logging_initialized && spdlog::default_logger_raw() != nullptr;
}

}  // namespace logging
