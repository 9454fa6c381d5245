#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

// The file-system calls of the log file sink, behind one small interface so
// that tests can make any of them fail (a full device, a refused rename, no
// descriptors left) without needing root. Each call reports as its POSIX
// counterpart does (-1 with errno set), never throws and allocates nothing,
// so the sink may also make them from a signal handler.
namespace logging {

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644): appends
    // only, and is never inherited by programs the process starts.
    virtual int open_for_append(const char* path) noexcept = 0;
    virtual ssize_t write(int fd, const void* data, std::size_t size) noexcept = 0;
    // rename(2): replaces `to` atomically when it exists.
    virtual int rename(const char* from, const char* to) noexcept = 0;
    virtual int unlink(const char* path) noexcept = 0;
    virtual int stat(const char* path, struct stat& result) noexcept = 0;
    virtual int fstat(int fd, struct stat& result) noexcept = 0;
    // flock(fd, LOCK_EX) and flock(fd, LOCK_UN): the advisory lock that the
    // processes writing one log directory share.
    virtual int lock(int fd) noexcept = 0;
    virtual int unlock(int fd) noexcept = 0;
    virtual int close(int fd) noexcept = 0;
    // mkdir(path, 0777), the umask applying.
    virtual int make_directory(const char* path) noexcept = 0;
};

// The real calls; one instance for the process, never destroyed.
FileSystem& system_file_system() noexcept;

}  // namespace logging
