#pragma once

#include <spdlog/sinks/base_sink.h>
#include <sys/types.h>

#include <pthread.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "logging/file_system.hpp"

// The log file: "korvex.log" and its rotated copies "korvex.1.log" to
// "korvex.<max_files>.log", written by this process and by any other process
// of the program that logs into the same directory.
//
// What it guarantees:
// - Whole lines only. Lines are kept in a buffer of whole lines and every
//   write(2) carries whole lines, on a descriptor opened append-only, so lines
//   of several processes appending to one file never splice.
// - Rotation shared between processes. Before each write the sink takes an
//   advisory lock (flock) on the file, checks that the name still refers to
//   the file it holds (another process may have rotated it: then it reopens
//   the name instead of rotating again) and reads the real size. A file is
//   rotated when the lines would take it past `max_size`, so each file stays
//   within `max_size`, or holds a single longer line.
// - No write through an invalid handle. The descriptor is replaced only by a
//   newly opened one, so an open that fails (no inodes left, no permission)
//   leaves the sink appending to the file it has, which after a rotation is
//   the renamed "korvex.1.log": no line is dropped, one error is reported, and
//   the open is tried again on a later write, at most once per
//   `retry_interval`. With no descriptor left at all, the old file is closed
//   to open the new one in its place; should even that fail, the sink holds
//   no file: lines wait in the buffer (and are dropped with a report once it
//   is full) until a reopen works.
// - A rename that fails truncates and removes nothing: the sink reports it
//   once, keeps appending to the current file and tries the rotation again
//   after `retry_interval`. Nothing in the write path sleeps or retries in a
//   loop.
// - The directory and file name are absolute (fixed when the sink is made),
//   so a later chdir changes nothing; a removed directory is made again.
// - The descriptor is close-on-exec: programs the process starts do not
//   inherit it.
// - Write errors (a full device) are reported and never raised to the caller
//   of the logger: the sink throws spdlog_ex from its write or flush only
//   after the line is safely buffered, so spdlog's error handler reports it.
//   Lines that could not be written stay buffered for the next attempt; when
//   the buffer is full and still cannot be written, its lines are dropped and
//   the report says how many bytes.
//
// What it does not guarantee: lines in the buffer (below warn, up to
// `buffer_size` bytes or 3 seconds' worth) are lost if the process is killed
// by SIGKILL or the machine loses power; nothing is fsync'ed. The lock is
// waited for: a process stopped (SIGSTOP, a debugger) at the instant it holds
// the lock, for one write or one rotation, holds up the other processes'
// writes until it runs again. A write cut short by a full device may leave a
// partial line, completed by the next successful write.
namespace logging {

class LogFileSink final : public spdlog::sinks::base_sink<std::mutex> {
  public:
    static constexpr std::size_t kDefaultBufferSize = 8 * 1024;
    static constexpr std::chrono::milliseconds kDefaultRetryInterval{1000};

    // Opens `file_name` (an absolute path; its directory must exist) for
    // appending. Throws spdlog::spdlog_ex "Failed opening file <name> for
    // writing" with the system error when it cannot. `max_size` > 0 bytes;
    // `max_files` rotated copies are kept (0: the file is only ever appended
    // to); `buffer_size` > 0 bytes of whole lines are buffered.
    LogFileSink(std::string file_name, std::size_t max_size, std::size_t max_files,
                FileSystem& file_system = system_file_system(),
                std::size_t buffer_size = kDefaultBufferSize,
                std::chrono::milliseconds retry_interval = kDefaultRetryInterval);
    ~LogFileSink() override;

    // Fork support, called by the process's fork handlers around fork().
    // Before: takes the sink's lock and writes the buffer out, so no line is
    // written by both processes. After, in the parent: releases the lock. After,
    // in the child: releases the lock, opens a descriptor of its own (a shared
    // one would share the parent's advisory lock) and writes every line at
    // once from then on, since the child has no periodic flusher.
    void before_fork() noexcept;
    void after_fork_in_parent() noexcept;
    void after_fork_in_child() noexcept;

    // Writes the buffered lines out from a signal handler, with async-signal-
    // safe calls only, and never waits on a lock the interrupted thread may
    // hold. When this thread was interrupted inside the sink, the buffer is
    // written only if it is consistent (not in the middle of a write) and
    // `process_ends` (the interrupted write will never resume and so never
    // write the same lines again). When another thread holds the sink, it is
    // waited for up to about 100 ms. Returns whether the lines were written.
    bool flush_from_signal_handler(bool process_ends) noexcept;

  protected:
    void sink_it_(const spdlog::details::log_msg& msg) override;
    void flush_() override;

  private:
    class Holder;

    // Failures of one kind of call (opens, renames): the first is reported,
    // and the call is made again no sooner than retry_interval_ after the
    // last attempt, so a lasting fault costs one call a second.
    struct Episode {
        bool failing = false;
        std::chrono::steady_clock::time_point next_attempt{};

        bool may_try(std::chrono::steady_clock::time_point now) const;
        // True for the first failure of an episode: the one to report.
        bool fail(std::chrono::steady_clock::time_point now, std::chrono::milliseconds interval);
        void succeed() { failing = false; }
    };

    bool write_buffer();
    void append(const char* data, std::size_t size) noexcept;
    std::size_t write_lines(const char* data, std::size_t size);
    std::size_t current_size();
    bool reopen(bool lock);
    // Makes `fd` the sink's file, or records the failed open when it is -1.
    bool adopt(int fd, std::chrono::steady_clock::time_point now, bool lock);
    void failed_to_open(std::chrono::steady_clock::time_point now);
    bool rotate();
    int open_file();
    void switch_to(int fd, bool lock) noexcept;
    bool write_out_from_signal_handler() noexcept;
    void report(std::string what, int error);
    void report_pending();

    FileSystem& fs_;
    // names_[0] is the file written, names_[i] its i-th rotated copy.
    std::vector<std::string> names_;
    std::string directory_;
    const std::size_t max_size_;
    const std::chrono::milliseconds retry_interval_;

    int fd_ = -1;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    // Size of the file as last seen; the real size is read under the lock
    // before every write, since other processes append too.
    std::size_t file_size_ = 0;
    // Whether the name referred to the descriptor's file at the last look.
    bool on_name_ = true;

    // Whole lines not yet written. Fixed capacity (never reallocated), so a
    // signal handler may read the first used_ bytes.
    std::unique_ptr<char[]> buffer_;
    const std::size_t capacity_;
    std::atomic<std::size_t> used_{0};
    // Set while the buffer is being written or moved: then a signal handler
    // on the holding thread must not write it.
    std::atomic<bool> writing_{false};
    // The thread inside the sink (holding its lock), or 0.
    std::atomic<pthread_t> holder_{0};
    std::atomic<bool> write_through_{false};

    spdlog::memory_buf_t line_;
    Episode open_failures_;
    Episode rename_failures_;
    // The error to report once the line being written is safe.
    std::string pending_error_;
    int pending_errno_ = 0;
    int last_write_error_ = EIO;
};

}  // namespace logging
