// The log file sink under the faults of a real machine, reached through the
// fault-injecting file system: failed opens, renames and writes, a removed
// directory, and a second writer (another process) on the same file.
#include <gtest/gtest.h>
#include <spdlog/logger.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "logging/file_sink.hpp"
#include "support.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using logging::LogFileSink;

using test_support::numbered;

class FileSinkTest : public ::testing::Test {
  protected:
    test_support::TempDir tmp;
    test_support::FaultyFileSystem faults;
    std::vector<std::string> errors;

    fs::path file(const char* name = "korvex.log") const { return tmp.path() / name; }

    std::shared_ptr<LogFileSink> sink(std::size_t max_size, std::size_t buffer,
                                      std::chrono::milliseconds retry = 0ms) {
        auto s = std::make_shared<LogFileSink>(file().string(), max_size, 3, faults, buffer, retry);
        s->set_pattern("%v");
        return s;
    }

    // A logger that reports errors into `errors`, as spdlog's handler would on stderr.
    std::unique_ptr<spdlog::logger> logger(std::shared_ptr<LogFileSink> s) {
        auto l = std::make_unique<spdlog::logger>("test", std::move(s));
        l->set_error_handler([this](const std::string& e) { errors.push_back(e); });
        l->flush_on(spdlog::level::off);
        return l;
    }

    // Lines of korvex.3.log to korvex.log, oldest first.
    std::vector<std::string> all_lines() const {
        std::vector<std::string> lines;
        for (const char* name : {"korvex.3.log", "korvex.2.log", "korvex.1.log", "korvex.log"}) {
            for (auto& line : test_support::read_lines(file(name))) {
                lines.push_back(std::move(line));
            }
        }
        return lines;
    }

    // Logs the lines numbered `from` to `to` (exclusive), then flushes.
    static void write(spdlog::logger& log, int from, int to) {
        for (int i = from; i < to; ++i) {
            log.info(numbered("n", i));
        }
        log.flush();
    }

    std::vector<std::string> expected(const std::string& tag, int from, int to) const {
        std::vector<std::string> lines;
        for (int i = from; i < to; ++i) {
            lines.push_back(numbered(tag, i));
        }
        return lines;
    }
};

TEST_F(FileSinkTest, EveryWriteCarriesWholeLines) {
    auto log = logger(sink(1 << 20, 100));
    std::string all;
    for (int i = 0; i < 60; ++i) {
        const std::string text =
            numbered("w", i, 10 + (i * 37) % 240);  // some longer than the buffer
        log->info(text);
        all += text + "\n";
    }
    log->flush();
    ASSERT_FALSE(faults.writes.empty());
    for (const auto& chunk : faults.writes) {
        EXPECT_EQ(chunk.back(), '\n');
    }
    EXPECT_EQ(test_support::read_file(file()), all);
    EXPECT_TRUE(errors.empty());
}

TEST_F(FileSinkTest, RotatesWhenALineWouldPassTheLimitKeepingThreeCopies) {
    std::ofstream(file()) << numbered("old", 0) << "\n";  // appended to, and counted
    auto log = logger(sink(1000, 350));
    write(*log, 1, 45);
    for (const char* name : {"korvex.log", "korvex.1.log", "korvex.2.log", "korvex.3.log"}) {
        EXPECT_LE(fs::file_size(file(name)), 1000u) << name;
    }
    EXPECT_FALSE(fs::exists(file("korvex.4.log")));
    // Ten 100-byte lines fill a file exactly; the oldest file (lines 0 to 9) is dropped.
    EXPECT_EQ(all_lines(), expected("n", 10, 45));
    EXPECT_EQ(test_support::read_lines(file("korvex.1.log")), expected("n", 30, 40));
    EXPECT_TRUE(errors.empty());
}

// No inodes left (or no permission) when the rotated file is reopened: the
// lines go on into the renamed file, one error is reported, the open is
// retried once per interval, and the new file takes the lines once it can be
// opened.
TEST_F(FileSinkTest, FailedOpenAtRotationKeepsEveryLineAndRecovers) {
    auto log = logger(sink(1000, 250, 1000ms));
    write(*log, 0, 10);
    faults.fail_open = ENOSPC;
    const int opens_before = faults.opens;
    write(*log, 10, 40);
    EXPECT_EQ(faults.opens - opens_before, 1) << "retried without waiting";
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("Failed opening file"), std::string::npos) << errors[0];
    EXPECT_EQ(all_lines(), expected("n", 0, 40));

    faults.fail_open = 0;
    std::this_thread::sleep_for(1100ms);
    write(*log, 40, 45);
    EXPECT_EQ(test_support::read_lines(file()), expected("n", 40, 45));
    EXPECT_EQ(all_lines(), expected("n", 0, 45));
    EXPECT_EQ(errors.size(), 1u);
}

// No descriptor left in the process: the old file's descriptor makes room for
// the new file, and the rotation completes.
TEST_F(FileSinkTest, RotationWithNoDescriptorLeftReusesTheOldOne) {
    auto log = logger(sink(1000, 250, 1000ms));
    faults.free_descriptors = 0;
    write(*log, 0, 25);
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(test_support::read_lines(file("korvex.2.log")), expected("n", 0, 10));
    EXPECT_EQ(test_support::read_lines(file()), expected("n", 20, 25));
}

// Not even the freed descriptor can be had (another thread took it): the sink
// holds no file and never writes through an invalid one; lines wait in the
// buffer, the overflow is dropped with a report, and a later reopen recovers.
TEST_F(FileSinkTest, WithNoFileAtAllLinesWaitAndNothingIsWrittenBlindly) {
    auto log = logger(sink(1000, 250, 1000ms));
    write(*log, 0, 10);
    faults.fail_open = EMFILE;
    write(*log, 10, 20);
    EXPECT_EQ(faults.writes_without_descriptor, 0);
    ASSERT_GE(errors.size(), 2u);
    EXPECT_NE(errors[0].find("Failed opening file"), std::string::npos) << errors[0];
    EXPECT_NE(errors.back().find("dropped"), std::string::npos) << errors.back();

    faults.fail_open = 0;
    std::this_thread::sleep_for(1100ms);
    log->info(numbered("n", 20));
    log->flush();
    // The lines still buffered when the file came back, then the new one.
    const auto lines = test_support::read_lines(file());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), numbered("n", 20));
    auto kept = test_support::numbers_by_tag(all_lines());
    EXPECT_EQ(std::vector<int>(kept["n"].begin(), kept["n"].begin() + 10), [] {
        std::vector<int> first(10);
        std::iota(first.begin(), first.end(), 0);
        return first;
    }());
}

// A read-only directory: the rename is refused. Nothing is truncated, the
// current file takes the lines past its limit, and the rotation is tried
// again after the interval, without sleeping in the write path.
TEST_F(FileSinkTest, RefusedRenameLosesNothingAndIsRetriedLater) {
    auto log = logger(sink(1000, 250, 1000ms));
    for (int i = 0; i < 10; ++i) {
        log->info(numbered("n", i));
    }
    faults.fail_rename = EACCES;
    const auto start = std::chrono::steady_clock::now();
    write(*log, 10, 30);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "the write path waited";
    EXPECT_EQ(faults.renames, 1);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("Failed renaming"), std::string::npos) << errors[0];
    EXPECT_EQ(test_support::read_lines(file()), expected("n", 0, 30));
    EXPECT_FALSE(fs::exists(file("korvex.1.log")));

    faults.fail_rename = 0;
    std::this_thread::sleep_for(1100ms);
    log->info(numbered("n", 30));
    log->flush();
    EXPECT_EQ(test_support::read_lines(file("korvex.1.log")), expected("n", 0, 30));
    EXPECT_EQ(test_support::read_lines(file()), expected("n", 30, 31));
}

// A device that fills up: lines that did not fit stay buffered and reach the
// file, whole, once there is room again.
TEST_F(FileSinkTest, LinesRefusedByAFullDeviceAreWrittenOnceThereIsRoom) {
    auto log = logger(sink(1 << 20, 1000));
    faults.space_left = 250;  // two and a half lines
    write(*log, 0, 8);
    ASSERT_FALSE(errors.empty());
    EXPECT_NE(errors[0].find("Failed writing to file"), std::string::npos) << errors[0];
    faults.space_left = static_cast<std::size_t>(-1);
    log->flush();
    EXPECT_EQ(test_support::read_lines(file()), expected("n", 0, 8));
}

TEST_F(FileSinkTest, ABufferThatCannotBeWrittenIsDroppedWithAReport) {
    auto log = logger(sink(1 << 20, 300));
    faults.fail_write = EIO;
    for (int i = 0; i < 10; ++i) {
        log->info(numbered("n", i));
    }
    ASSERT_FALSE(errors.empty());
    EXPECT_NE(errors.back().find("bytes of buffered lines dropped"), std::string::npos)
        << errors.back();
    faults.fail_write = 0;
    log->info(numbered("n", 10));
    log->flush();
    // Whatever was kept is whole lines, ending with the newest.
    const auto lines = test_support::read_lines(file());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), numbered("n", 10));
    for (const auto& line : lines) {
        EXPECT_EQ(line.size(), 99u) << line;
    }
}

TEST_F(FileSinkTest, ARemovedDirectoryIsMadeAgain) {
    test_support::TempDir other;
    const fs::path dir = other.path() / "a" / "logs";
    fs::create_directories(dir);
    auto s = std::make_shared<LogFileSink>((dir / "korvex.log").string(), 1000, 3, faults, 100);
    s->set_pattern("%v");
    auto log = logger(s);
    log->info("before");
    log->flush();
    fs::remove_all(other.path() / "a");
    log->info("after");
    log->flush();
    EXPECT_EQ(test_support::read_lines(dir / "korvex.log"), std::vector<std::string>{"after"});
    EXPECT_TRUE(errors.empty());
}

// Two sinks on one file stand for two processes of one program: each
// process's kept lines are the newest it wrote, with no gap, no line is
// spliced or written twice, and every file stays within the limit.
TEST_F(FileSinkTest, TwoWritersOfOneFileRotateItTogether) {
    auto first = logger(sink(1000, 300));
    auto second = logger(sink(1000, 300));
    const int lines_each = 70;  // 140 lines of 100 bytes for 40 lines of room
    for (int i = 0; i < lines_each; ++i) {
        first->info(numbered("a", i));
        second->info(numbered("b", i));
        if (i % 7 == 3) {
            second->flush();
        }
    }
    first->flush();
    second->flush();
    for (const char* name : {"korvex.log", "korvex.1.log", "korvex.2.log", "korvex.3.log"}) {
        EXPECT_LE(fs::file_size(file(name)), 1000u) << name;
    }
    // Rotated files are used to within one buffer of their size.
    for (const char* name : {"korvex.1.log", "korvex.2.log"}) {
        EXPECT_GE(fs::file_size(file(name)), 1000u - 300u) << name;
    }
    auto kept = test_support::numbers_by_tag(all_lines());
    EXPECT_TRUE(test_support::newest_lines_kept(kept["a"], lines_each - 1));
    EXPECT_TRUE(test_support::newest_lines_kept(kept["b"], lines_each - 1));
    EXPECT_TRUE(errors.empty());
}

TEST_F(FileSinkTest, TheSignalPathWritesTheBufferOnceAndNeverHangs) {
    auto s = sink(1 << 20, 4096);
    auto log = logger(s);
    log->info("buffered one");
    log->info("buffered two");
    EXPECT_TRUE(test_support::read_file(file()).empty());
    EXPECT_TRUE(s->flush_from_signal_handler(true));
    EXPECT_TRUE(s->flush_from_signal_handler(true));
    log->flush();
    EXPECT_EQ(test_support::read_lines(file()),
              (std::vector<std::string>{"buffered one", "buffered two"}));

    // Another thread inside the sink for longer than the handler may wait.
    std::promise<void> entered;
    std::promise<void> release;
    std::thread holder([&] {
        s->before_fork();
        entered.set_value();
        release.get_future().wait();
        s->after_fork_in_parent();
    });
    entered.get_future().wait();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(s->flush_from_signal_handler(true));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    release.set_value();
    holder.join();
}

}  // namespace
