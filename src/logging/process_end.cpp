#include "logging/process_end.hpp"

#include <pthread.h>
#include <spdlog/details/console_globals.h>
#include <spdlog/details/registry.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "logging/file_sink.hpp"
#include "logging/state.hpp"

namespace logging {

namespace {

// spdlog keeps two things a fork needs private in its registry: the lock of
// its logger map, which the flusher thread holds while it flushes (a child
// must not inherit it held), and the periodic flusher itself, which a child
// must let go of without joining: its thread does not exist in the child, and
// joining it (at exit, or in spdlog::shutdown) waits for ever. An explicit
// instantiation may name private members; both spdlog 1.10 and 1.15 have
// these two under these names.
template <typename Tag, typename Tag::type Member>
struct Grant {
    friend typename Tag::type member(Tag) { return Member; }
};
struct LoggerMapMutex {
    using type = std::mutex spdlog::details::registry::*;
    friend type member(LoggerMapMutex);
};
struct PeriodicFlusher {
    using type = std::unique_ptr<spdlog::details::periodic_worker> spdlog::details::registry::*;
    friend type member(PeriodicFlusher);
};
template struct Grant<LoggerMapMutex, &spdlog::details::registry::logger_map_mutex_>;
template struct Grant<PeriodicFlusher, &spdlog::details::registry::periodic_flusher_>;

std::mutex& logger_map_mutex() {
    return spdlog::details::registry::instance().*member(LoggerMapMutex{});
}

std::atomic<LogFileSink*> active_sink{nullptr};
// Signal handlers using active_sink right now, so that detaching waits.
std::atomic<int> handlers_running{0};
// The sink held across the current fork, if any.
LogFileSink* forking_sink = nullptr;

void before_fork() {
    LogFileSink* sink = active_sink.load(std::memory_order_acquire);
    if (sink == nullptr) {
        return;
    }
    // The order a log call and the flusher take them in: registry, console, file.
    logger_map_mutex().lock();
    spdlog::details::console_mutex::mutex().lock();
    sink->before_fork();
    forking_sink = sink;
}

void after_fork_in_parent() {
    if (LogFileSink* sink = std::exchange(forking_sink, nullptr)) {
        sink->after_fork_in_parent();
        spdlog::details::console_mutex::mutex().unlock();
        logger_map_mutex().unlock();
    }
}

void after_fork_in_child() {
    if (LogFileSink* sink = std::exchange(forking_sink, nullptr)) {
        sink->after_fork_in_child();
        spdlog::details::console_mutex::mutex().unlock();
        logger_map_mutex().unlock();
        // Let go of the parent's flusher without joining it; it is leaked.
        // The child writes each line at once instead.
        (void)(spdlog::details::registry::instance().*member(PeriodicFlusher{})).release();
    }
}

// The previous disposition of each signal the flush replaced.
struct sigaction previous[NSIG];
bool replaced[NSIG];

bool is_default(const struct sigaction& action) {
    return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_DFL;
}

bool is_ignored(const struct sigaction& action) {
    return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_IGN;
}

void on_fatal_signal(int signal_number, siginfo_t* info, void* context) {
    const int saved_errno = errno;
    const struct sigaction& before = previous[signal_number];
    // With the default action the process certainly ends here; an earlier
    // handler might let it go on, and then an interrupted write must resume.
    const bool ends = is_default(before);
    handlers_running.fetch_add(1, std::memory_order_acq_rel);
    if (LogFileSink* sink = active_sink.load(std::memory_order_acquire)) {
        sink->flush_from_signal_handler(ends);
    }
    handlers_running.fetch_sub(1, std::memory_order_acq_rel);
    errno = saved_errno;
    if (ends) {
        // End as the process would have without us: the default action,
        // delivered as soon as the signal is unblocked.
        struct sigaction default_action {};
        default_action.sa_handler = SIG_DFL;
        sigemptyset(&default_action.sa_mask);
        sigaction(signal_number, &default_action, nullptr);
        raise(signal_number);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, signal_number);
        pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
        return;
    }
    if ((before.sa_flags & SA_SIGINFO) != 0) {
        before.sa_sigaction(signal_number, info, context);
    } else {
        before.sa_handler(signal_number);
    }
}

bool is_flush(const struct sigaction& action) {
    return (action.sa_flags & SA_SIGINFO) != 0 && action.sa_sigaction == &on_fatal_signal;
}

}  // namespace

const std::vector<int> flushed_signals = {SIGTERM, SIGHUP, SIGQUIT, SIGABRT,
                                          SIGSEGV, SIGBUS, SIGFPE,  SIGILL};

void attach_process_end(LogFileSink* sink) {
    static const bool registered =
        pthread_atfork(&before_fork, &after_fork_in_parent, &after_fork_in_child) == 0;
    (void)registered;
    active_sink.store(sink, std::memory_order_release);
}

void detach_process_end() noexcept {
    active_sink.store(nullptr, std::memory_order_release);
    while (handlers_running.load(std::memory_order_acquire) > 0) {
        std::this_thread::yield();
    }
}

void flush_at_exit() noexcept {
    if (!logger_ready()) {
        return;
    }
    // spdlog's flush reports its own errors and never throws.
    spdlog::default_logger_raw()->flush();
}

void install_signal_flush(const std::vector<int>& leave_alone) {
    for (const int signal_number : flushed_signals) {
        bool program_choice = false;
        for (const int left : leave_alone) {
            program_choice = program_choice || left == signal_number;
        }
        struct sigaction current {};
        if (program_choice || sigaction(signal_number, nullptr, &current) != 0 ||
            is_ignored(current) || is_flush(current)) {
            continue;
        }
        struct sigaction flush {};
        flush.sa_sigaction = &on_fatal_signal;
        // On the alternate stack when the thread has one (a stack overflow
        // leaves no room on the normal one).
        flush.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&flush.sa_mask);
        previous[signal_number] = current;
        if (sigaction(signal_number, &flush, nullptr) == 0) {
            replaced[signal_number] = true;
        }
    }
}

void restore_signal_dispositions() noexcept {
    for (const int signal_number : flushed_signals) {
        if (!replaced[signal_number]) {
            continue;
        }
        replaced[signal_number] = false;
        struct sigaction current {};
        if (sigaction(signal_number, nullptr, &current) == 0 && is_flush(current)) {
            sigaction(signal_number, &previous[signal_number], nullptr);
        }
    }
}

}  // namespace logging
