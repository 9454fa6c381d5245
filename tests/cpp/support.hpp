#pragma once

// Helpers shared by the C++ tests: temporary directories, a working-directory
// guard, and a ready/not-ready switch for the logging flags.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

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

}  // namespace test_support
