#pragma once

// Helpers shared by the C++ tests: temporary directories, a working-directory
// guard, and a ready/not-ready switch for the logging flags.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "logging/file_system.hpp"
#include "logging/state.hpp"

namespace test_support {

namespace fs = std::filesystem;

// A fresh directory under the system temp dir, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "foundation-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        path_ = fs::canonical(pattern);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return path_; }

    // Creates `relative` as a directory (with parents) and returns its path.
    fs::path mkdir(const fs::path& relative) const {
        fs::create_directories(path_ / relative);
        return path_ / relative;
    }
    // Creates `relative` as an empty regular file.
    fs::path touch(const fs::path& relative) const {
        fs::create_directories((path_ / relative).parent_path());
        std::ofstream(path_ / relative).close();
        return path_ / relative;
    }

  private:
    fs::path path_;
};

// Changes the working directory for one scope and restores it afterwards.
class WorkingDirectory {
  public:
    explicit WorkingDirectory(const fs::path& dir) : previous_(fs::current_path()) {
        fs::current_path(dir);
    }
    ~WorkingDirectory() {
        std::error_code ec;
        fs::current_path(previous_, ec);
    }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

  private:
    fs::path previous_;
};

// Makes the logging flags say "ready" (spdlog's start-up logger is the default
// logger in a test process) and restores them afterwards.
class LoggingReady {
  public:
    explicit LoggingReady(bool initialized = true, bool shut_down = false)
        : initialized_(logging::logging_initialized), shut_down_(logging::logging_shut_down) {
        logging::logging_initialized = initialized;
        logging::logging_shut_down = shut_down;
    }
    ~LoggingReady() {
        logging::logging_initialized = initialized_;
        logging::logging_shut_down = shut_down_;
    }
    LoggingReady(const LoggingReady&) = delete;
    LoggingReady& operator=(const LoggingReady&) = delete;

  private:
    bool initialized_;
    bool shut_down_;
};

inline std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<std::string> read_lines(const fs::path& path) {
    std::istringstream in(read_file(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// "<tag> <number> xxx...": exactly `width` bytes with the newline.
inline std::string numbered(const std::string& tag, int i, std::size_t width = 100) {
    std::string text = tag + " " + std::to_string(i) + " ";
    text.resize(width - 1, 'x');
    return text;
}

// The numbers of lines made by numbered(), per tag and sorted. Fails the
// test on any other line: a spliced or cut line.
inline std::map<std::string, std::vector<int>> numbers_by_tag(const std::vector<std::string>& lines,
                                                              std::size_t width = 100) {
    static const std::regex shape("([a-z0-9]+) ([0-9]+) x+");
    std::map<std::string, std::vector<int>> numbers;
    for (const auto& line : lines) {
        std::smatch m;
        if (!std::regex_match(line, m, shape) || line.size() != width - 1) {
            ADD_FAILURE() << "not a whole line: " << line;
            continue;
        }
        numbers[m[1].str()].push_back(std::stoi(m[2].str()));
    }
    for (auto& entry : numbers) {
        std::sort(entry.second.begin(), entry.second.end());
    }
    return numbers;
}

// A writer's kept lines are its newest ones, up to `last`, with no gap and
// none twice: only the oldest lines may have gone, with the oldest file.
inline ::testing::AssertionResult newest_lines_kept(const std::vector<int>& numbers, int last) {
    if (numbers.empty() || numbers.back() != last) {
        return ::testing::AssertionFailure() << "the newest line is missing";
    }
    for (std::size_t i = 1; i < numbers.size(); ++i) {
        if (numbers[i] != numbers[i - 1] + 1) {
            return ::testing::AssertionFailure()
                   << "line " << numbers[i - 1] + 1 << " lost or " << numbers[i] << " repeated";
        }
    }
    return ::testing::AssertionSuccess();
}

// The real file system, with faults on demand: set an errno in a fail_* field
// and every such call fails with it until the field is cleared. Counts the
// calls and keeps what each successful write carried.
class FaultyFileSystem final : public logging::FileSystem {
  public:
    int fail_open = 0;
    // Descriptors the process may still open (-1: no limit); closing one
    // gives it back, and an open beyond them fails with EMFILE.
    int free_descriptors = -1;
    int fail_rename = 0;
    int fail_write = 0;
    // Bytes the device still takes: a write beyond them is cut short, and
    // once none are left writes fail with ENOSPC.
    std::size_t space_left = static_cast<std::size_t>(-1);

    int opens = 0;
    int renames = 0;
    int writes_without_descriptor = 0;
    std::vector<std::string> writes;

    int open_for_append(const char* path) noexcept override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++opens;
        if (fail_open) {
            return refuse(fail_open);
        }
        if (free_descriptors == 0) {
            return refuse(EMFILE);
        }
        const int fd = real().open_for_append(path);
        if (fd >= 0 && free_descriptors > 0) {
            --free_descriptors;
        }
        return fd;
    }
    ssize_t write(int fd, const void* data, std::size_t size) noexcept override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (fd < 0) {
            ++writes_without_descriptor;
        }
        if (fail_write) {
            return refuse(fail_write);
        }
        if (space_left == 0) {
            return refuse(ENOSPC);
        }
        const ssize_t n = real().write(fd, data, std::min(size, space_left));
        if (n > 0) {
            space_left -= std::min(space_left, static_cast<std::size_t>(n));
            writes.emplace_back(static_cast<const char*>(data), static_cast<std::size_t>(n));
        }
        return n;
    }
    int rename(const char* from, const char* to) noexcept override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++renames;
        return fail_rename ? refuse(fail_rename) : real().rename(from, to);
    }
    int unlink(const char* path) noexcept override { return real().unlink(path); }
    int stat(const char* path, struct stat& result) noexcept override {
        return real().stat(path, result);
    }
    int fstat(int fd, struct stat& result) noexcept override { return real().fstat(fd, result); }
    int lock(int fd) noexcept override { return real().lock(fd); }
    int unlock(int fd) noexcept override { return real().unlock(fd); }
    int close(int fd) noexcept override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (free_descriptors >= 0) {
            ++free_descriptors;
        }
        return real().close(fd);
    }
    int make_directory(const char* path) noexcept override { return real().make_directory(path); }

  private:
    static logging::FileSystem& real() { return logging::system_file_system(); }
    static int refuse(int error) {
        errno = error;
        return -1;
    }
    std::mutex mutex_;
};

}  // namespace test_support
