// Fork while native threads (no interpreter lock to order them) write and
// flush through the process logger: the child never inherits a lock held,
// writes its own lines, and can shut logging down without waiting for the
// parent's flusher thread.
#include <gtest/gtest.h>
#include <spdlog/spdlog.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "logging/entry_points.hpp"
#include "logging/lifecycle.hpp"
#include "support.hpp"

namespace {

using namespace std::chrono_literals;

// Waits for `pid` for up to `limit`; kills it and returns -1 if it hangs.
int wait_with_limit(pid_t pid, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(1ms);
    }
    return status;
}

}  // namespace

TEST(ProcessEnd, ForksWhileNativeThreadsWriteAndFlush) {
    test_support::TempDir tmp;
    test_support::WorkingDirectory cwd(tmp.path());
    ASSERT_NE(std::freopen("/dev/null", "w", stdout), nullptr);
    logging::init();
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 2; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; !stop; ++i) {
                logging::log_with_source_file(
                    logging::Level::warn, "/w.py",
                    "writer " + std::to_string(t) + " " + std::to_string(i));
                if (i % 10 == 0) {
                    std::this_thread::sleep_for(100us);  // within the four files' room
                }
            }
        });
    }
    writers.emplace_back([&] {
        while (!stop) {
            spdlog::default_logger_raw()->flush();
        }
    });

    constexpr int kForks = 60;
    int hung = 0;
    for (int k = 0; k < kForks; ++k) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            logging::log_plain(spdlog::level::info, "child " + std::to_string(k));
            if (k % 2 == 1) {
                logging::shutdown_logging();  // used to wait for ever on the flusher
            }
            _exit(0);
        }
        const int status = wait_with_limit(pid, 10s);
        if (status == -1) {
            ++hung;
            break;
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << k;
    }
    stop = true;
    for (auto& thread : writers) {
        thread.join();
    }
    logging::shutdown_logging();
    ASSERT_EQ(hung, 0) << "a child hung";

    std::vector<std::string> lines;
    for (const char* name : {"korvex.3.log", "korvex.2.log", "korvex.1.log", "korvex.log"}) {
        for (auto& line : test_support::read_lines(tmp.path() / ".vantrel/logs" / name)) {
            lines.push_back(std::move(line));
        }
    }
    std::vector<int> children;
    for (const auto& line : lines) {
        const auto at = line.find("| child ");
        if (at != std::string::npos) {
            children.push_back(std::stoi(line.substr(at + 8)));
        }
    }
    std::sort(children.begin(), children.end());
    std::vector<int> all(kForks);
    for (int k = 0; k < kForks; ++k) {
        all[k] = k;
    }
    EXPECT_EQ(children, all);
}
