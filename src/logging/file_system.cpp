#include "logging/file_system.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>

namespace logging {

namespace {

// Interrupted calls are made again: a signal arriving while the sink locks
// the file is no reason to write unlocked.
template <typename Call>
int retrying(Call call) noexcept {
    int result;
    do {
        result = call();
    } while (result == -1 && errno == EINTR);
    return result;
}

class SystemFileSystem final : public FileSystem {
  public:
    int open_for_append(const char* path) noexcept override {
        return retrying(
            [&] { return ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644); });
    }
    ssize_t write(int fd, const void* data, std::size_t size) noexcept override {
        return ::write(fd, data, size);
    }
    int rename(const char* from, const char* to) noexcept override { return std::rename(from, to); }
    int unlink(const char* path) noexcept override { return ::unlink(path); }
    int stat(const char* path, struct stat& result) noexcept override {
        return ::stat(path, &result);
    }
    int fstat(int fd, struct stat& result) noexcept override { return ::fstat(fd, &result); }
    int lock(int fd) noexcept override {
        return retrying([&] { return ::flock(fd, LOCK_EX); });
    }
    int unlock(int fd) noexcept override { return ::flock(fd, LOCK_UN); }
    int close(int fd) noexcept override { return ::close(fd); }
    int make_directory(const char* path) noexcept override { return ::mkdir(path, 0777); }
};

}  // namespace

FileSystem& system_file_system() noexcept {
    // Never destroyed: a log line written while statics are torn down at exit
    // may still need it.
    alignas(SystemFileSystem) static unsigned char storage[sizeof(SystemFileSystem)];
    static FileSystem* const instance = new (storage) SystemFileSystem();
    return *instance;
}

}  // namespace logging
