#include "logging/file_sink.hpp"

#include <spdlog/details/file_helper.h>
#include <spdlog/fmt/fmt.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <tuple>

namespace logging {

namespace {

// Writes all of `data` unless the file system refuses; returns how much was
// written, errno telling why when that is less. Async-signal-safe.
std::size_t write_all(FileSystem& fs, int fd, const char* data, std::size_t size) noexcept {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = fs.write(fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0) {
            errno = EIO;  // a regular file never takes nothing; do not spin on it
            break;
        } else if (errno != EINTR) {
            break;
        }
    }
    return done;
}

bool same_file(const struct stat& st, dev_t device, ino_t inode) {
    return st.st_dev == device && st.st_ino == inode;
}

}  // namespace

// Marks the calling thread as the one inside the sink, for the signal path.
class LogFileSink::Holder {
  public:
    explicit Holder(LogFileSink& sink) : sink_(sink) {
        sink_.holder_.store(pthread_self(), std::memory_order_release);
    }
    ~Holder() { sink_.holder_.store(0, std::memory_order_release); }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

  private:
    LogFileSink& sink_;
};

bool LogFileSink::Episode::may_try(std::chrono::steady_clock::time_point now) const {
    return !failing || now >= next_attempt;
}

bool LogFileSink::Episode::fail(std::chrono::steady_clock::time_point now,
                                std::chrono::milliseconds interval) {
    const bool first = !failing;
    failing = true;
    next_attempt = now + interval;
    return first;
}

LogFileSink::LogFileSink(std::string file_name, std::size_t max_size, std::size_t max_files,
                         FileSystem& file_system, std::size_t buffer_size,
                         std::chrono::milliseconds retry_interval)
    : fs_(file_system),
      max_size_(max_size),
      retry_interval_(retry_interval),
      buffer_(new char[buffer_size > 0 ? buffer_size : 1]),
      capacity_(buffer_size) {
    if (max_size == 0 || buffer_size == 0) {
        throw spdlog::spdlog_ex("log file sink: the size limit and the buffer must not be zero");
    }
    // spdlog's naming rule: the index goes before the extension.
    std::string base;
    std::string extension;
    std::tie(base, extension) = spdlog::details::file_helper::split_by_extension(file_name);
    names_.push_back(std::move(file_name));
    for (std::size_t i = 1; i <= max_files; ++i) {
        names_.push_back(fmt::format("{}.{}{}", base, i, extension));
    }
    const auto slash = names_.front().rfind('/');
    directory_ = slash == std::string::npos ? "." : names_.front().substr(0, slash);

    const int fd = fs_.open_for_append(names_.front().c_str());
    if (fd < 0) {
        throw spdlog::spdlog_ex("Failed opening file " + names_.front() + " for writing", errno);
    }
    switch_to(fd, false);
}

LogFileSink::~LogFileSink() {
    try {
        std::lock_guard<std::mutex> lock(mutex_);
        write_buffer();
    } catch (...) {
        // Nothing can be reported any more: the logger is going away.
    }
    if (fd_ >= 0) {
        fs_.close(fd_);
    }
}

void LogFileSink::sink_it_(const spdlog::details::log_msg& msg) {
    const Holder holder(*this);
    line_.clear();
    formatter_->format(msg, line_);
    const std::size_t n = line_.size();
    std::size_t used = used_.load(std::memory_order_relaxed);
    // The line that would take the file past its limit belongs to the next
    // file: the lines before it are written out first, into this one. Not
    // while no rotation can happen (a refused rename, or a descriptor left on
    // a renamed file): that would make every line a write.
    if (used > 0 && on_name_ && !rename_failures_.failing && file_size_ + used + n > max_size_) {
        write_buffer();
        used = used_.load(std::memory_order_relaxed);
    }
    if (used + n > capacity_) {
        write_buffer();
        used = used_.load(std::memory_order_relaxed);
    }
    if (used > 0 && used + n > capacity_) {
        // The buffer cannot be written and has no room left: this report
        // replaces the write failure's, since it says more.
        pending_error_ = fmt::format(
            "Failed writing to file {}; {} bytes of buffered lines dropped", names_.front(), used);
        pending_errno_ = last_write_error_;
        used_.store(0, std::memory_order_release);
    }
    if (n > capacity_) {
        // A line longer than the buffer goes out on its own, still whole.
        if (write_lines(line_.data(), n) < n && fd_ >= 0) {
            report("Failed writing to file " + names_.front(), errno);
        }
    } else {
        append(line_.data(), n);
    }
    if (write_through_.load(std::memory_order_relaxed)) {
        write_buffer();
    }
    report_pending();
}

void LogFileSink::flush_() {
    const Holder holder(*this);
    write_buffer();
    report_pending();
}

void LogFileSink::append(const char* data, std::size_t size) noexcept {
    const std::size_t used = used_.load(std::memory_order_relaxed);
    std::memcpy(buffer_.get() + used, data, size);
    // Published after the copy: a signal handler reads only whole lines.
    used_.store(used + size, std::memory_order_release);
}

bool LogFileSink::write_buffer() {
    const std::size_t used = used_.load(std::memory_order_relaxed);
    if (used == 0) {
        return true;
    }
    writing_.store(true, std::memory_order_seq_cst);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    const std::size_t written = write_lines(buffer_.get(), used);
    const int error = errno;
    if (written < used) {
        // Kept for the next attempt; a partial line at the front is completed then.
        std::memmove(buffer_.get(), buffer_.get() + written, used - written);
    }
    used_.store(used - written, std::memory_order_release);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    writing_.store(false, std::memory_order_seq_cst);
    if (written < used) {
        if (fd_ >= 0) {  // without a file, the failed open was reported
            last_write_error_ = error;
            report("Failed writing to file " + names_.front(), error);
        }
        return false;
    }
    return true;
}

std::size_t LogFileSink::write_lines(const char* data, std::size_t size) {
    if (fd_ < 0 && !reopen(false)) {
        return 0;  // no file: the lines wait in the buffer
    }
    // Without lock support (some network file systems) the lines are still
    // appended whole; only the rotation is then not shared.
    fs_.lock(fd_);
    std::size_t size_now = current_size();
    // Only the file the name refers to is rotated: a descriptor left on a
    // renamed file (its reopen failed) appends until the name opens again.
    if (on_name_ && names_.size() > 1 && size_now > 0 && size_now + size > max_size_ && rotate()) {
        size_now = file_size_;
    }
    if (fd_ < 0) {
        errno = EBADF;
        return 0;
    }
    const std::size_t written = write_all(fs_, fd_, data, size);
    const int error = errno;
    file_size_ = size_now + written;
    fs_.unlock(fd_);
    errno = error;
    return written;
}

std::size_t LogFileSink::current_size() {
    // At most two reopens: the name can change again while we look only if
    // other processes rotate that fast, and then the next write catches up.
    for (int attempt = 0; attempt < 2; ++attempt) {
        struct stat st {};
        if (fs_.stat(names_.front().c_str(), st) == 0 && same_file(st, device_, inode_)) {
            on_name_ = true;
            return file_size_ = static_cast<std::size_t>(st.st_size);
        }
        // The name refers to another file or to none: another process has
        // rotated it, or it was removed. Follow the name.
        if (!reopen(true)) {
            break;
        }
    }
    on_name_ = false;
    struct stat st {};
    if (fs_.fstat(fd_, st) == 0) {
        file_size_ = static_cast<std::size_t>(st.st_size);
    }
    return file_size_;
}

bool LogFileSink::reopen(bool lock) {
    const auto now = std::chrono::steady_clock::now();
    if (!open_failures_.may_try(now)) {
        return false;
    }
    return adopt(open_file(), now, lock);
}

bool LogFileSink::adopt(int fd, std::chrono::steady_clock::time_point now, bool lock) {
    if (fd < 0) {
        failed_to_open(now);
        return false;
    }
    open_failures_.succeed();
    switch_to(fd, lock);
    return true;
}

void LogFileSink::failed_to_open(std::chrono::steady_clock::time_point now) {
    last_write_error_ = errno;
    if (open_failures_.fail(now, retry_interval_)) {
        report("Failed opening file " + names_.front() + " for writing", last_write_error_);
    }
}

bool LogFileSink::rotate() {
    const auto now = std::chrono::steady_clock::now();
    if (!rename_failures_.may_try(now)) {
        return false;
    }
    // The oldest copy goes first, so that every rename has a free name to go
    // to: renaming onto an existing file makes ext4 write the renamed file's
    // delayed blocks out at once ("replace via rename"), which stalls the
    // caller for milliseconds.
    fs_.unlink(names_.back().c_str());
    for (std::size_t i = names_.size() - 1; i > 0; --i) {
        if (fs_.rename(names_[i - 1].c_str(), names_[i].c_str()) == 0) {
            continue;
        }
        if (errno == ENOENT && i > 1) {
            continue;  // that rotated copy does not exist yet
        }
        // Nothing was truncated or removed: the current file takes the lines.
        if (rename_failures_.fail(now, retry_interval_)) {
            report(fmt::format("Failed renaming {} to {}; still writing to {}", names_[i - 1],
                               names_[i], names_.front()),
                   errno);
        }
        return false;
    }
    rename_failures_.succeed();
    int fd = open_file();
    if (fd < 0 && (errno == EMFILE || errno == ENFILE)) {
        // No descriptor left: the old file's makes room for the new one.
        fs_.close(fd_);
        fd_ = -1;
        fd = open_file();
        if (fd < 0) {
            // Back to the renamed file if it can be had; else no file at all
            // until a reopen works, and the lines wait in the buffer.
            const int error = errno;
            const int old = fs_.open_for_append(names_[1].c_str());
            if (old >= 0) {
                switch_to(old, true);
            }
            errno = error;
        }
    }
    // On failure the descriptor, if any, refers to the renamed file, which
    // takes the lines until the name can be opened again (current_size retries).
    return adopt(fd, now, true);
}

int LogFileSink::open_file() {
    int fd = fs_.open_for_append(names_.front().c_str());
    if (fd >= 0 || errno != ENOENT) {
        return fd;
    }
    // The directory was removed: make it again, parents first.
    for (std::size_t slash = directory_.find('/', 1); slash != std::string::npos;
         slash = directory_.find('/', slash + 1)) {
        fs_.make_directory(directory_.substr(0, slash).c_str());
    }
    fs_.make_directory(directory_.c_str());
    fd = fs_.open_for_append(names_.front().c_str());
    return fd;
}

void LogFileSink::switch_to(int fd, bool lock) noexcept {
    // The new file is locked before the old one is let go, so another process
    // waiting on the old file finds the rotation complete.
    if (lock) {
        fs_.lock(fd);
    }
    struct stat st {};
    if (fs_.fstat(fd, st) == 0) {
        device_ = st.st_dev;
        inode_ = st.st_ino;
        file_size_ = static_cast<std::size_t>(st.st_size);
    }
    if (fd_ >= 0) {
        fs_.close(fd_);
    }
    fd_ = fd;
}

void LogFileSink::report(std::string what, int error) {
    if (pending_error_.empty()) {
        pending_error_ = std::move(what);
        pending_errno_ = error;
    }
}

void LogFileSink::report_pending() {
    if (pending_error_.empty()) {
        return;
    }
    std::string what;
    what.swap(pending_error_);
    const int error = pending_errno_;
    pending_errno_ = 0;
    throw spdlog::spdlog_ex(what, error);
}

void LogFileSink::before_fork() noexcept {
    mutex_.lock();
    holder_.store(pthread_self(), std::memory_order_release);
    try {
        write_buffer();
    } catch (...) {
        // Reported by the next write instead.
    }
}

void LogFileSink::after_fork_in_parent() noexcept {
    holder_.store(0, std::memory_order_release);
    mutex_.unlock();
}

void LogFileSink::after_fork_in_child() noexcept {
    // Lines the parent could not write are the parent's to write.
    used_.store(0, std::memory_order_release);
    try {
        const int fd = open_file();
        if (fd >= 0) {
            // The inherited descriptor shares the parent's open file and lock:
            // close it without unlocking what is the parent's too.
            switch_to(fd, false);
        }
    } catch (...) {
        // Keep the inherited descriptor: lines still reach the file.
    }
    write_through_.store(true, std::memory_order_relaxed);
    holder_.store(0, std::memory_order_release);
    mutex_.unlock();
}

bool LogFileSink::flush_from_signal_handler(bool process_ends) noexcept {
    if (holder_.load(std::memory_order_acquire) == pthread_self()) {
        // Interrupted inside the sink: the buffer is consistent unless it is
        // being written, and writing it is right only if that write never resumes.
        if (!process_ends || writing_.load(std::memory_order_seq_cst)) {
            return false;
        }
        return write_out_from_signal_handler();
    }
    // Another thread may be inside the sink for one write: wait for it, briefly.
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (mutex_.try_lock()) {
            const bool written = write_out_from_signal_handler();
            if (written) {
                used_.store(0, std::memory_order_release);
            }
            mutex_.unlock();
            return written;
        }
        const timespec pause{0, 1000000};
        nanosleep(&pause, nullptr);
    }
    return false;
}

bool LogFileSink::write_out_from_signal_handler() noexcept {
    const std::size_t used = used_.load(std::memory_order_acquire);
    if (used == 0) {
        return true;
    }
    // Follow the name if another process rotated it; no rotation, no lock
    // (waiting is not allowed here): the dying process appends what it has.
    int fd = fd_;
    int own = -1;
    struct stat st {};
    if (fd < 0 || fs_.stat(names_.front().c_str(), st) != 0 || !same_file(st, device_, inode_)) {
        own = fs_.open_for_append(names_.front().c_str());
        if (own >= 0) {
            fd = own;
        }
    }
    if (fd < 0) {
        return false;
    }
    const bool complete = write_all(fs_, fd, buffer_.get(), used) == used;
    if (own >= 0) {
        fs_.close(own);
    }
    return complete;
}

}  // namespace logging
