// Native threads without any interpreter lock: the registry under concurrent
// change, and lines written through the real logger from several threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "logging/entry_points.hpp"
#include "logging/file_sink.hpp"
#include "logging/levels.hpp"
#include "logging/lifecycle.hpp"
#include "support.hpp"

using logging::Level;

TEST(Concurrency, RegistryChangesWhileQuerying) {
    test_support::LoggingReady ready;
    logging::clear_filters();
    std::atomic<bool> stop{false};
    std::atomic<long> queries{0};
    std::vector<std::thread> threads;
    // Writers flip between states in which a critical message from a.py is
    // rejected (file entry off) or admitted (no entry, or package entry trace).
    threads.emplace_back([&] {
        while (!stop) {
            logging::set_file_level("a.py", Level::off);
            logging::clear_file_level("a.py");
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; !stop; ++i) {
            logging::set_package_level("pkg" + std::to_string(i % 16), Level::trace);
            logging::clear_package_level("pkg" + std::to_string((i + 8) % 16));
            if (i % 64 == 0) {
                logging::clear_filters();
            }
        }
    });
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                // Always admitted: nothing ever sets a threshold above critical for b.py.
                EXPECT_TRUE(logging::is_enabled_for(Level::critical, "/pkg3/b.py"));
                logging::is_enabled_for(Level::critical, "/pkg3/a.py");
                ++queries;
            }
        });
    }
    for (std::size_t i = 2; i < threads.size(); ++i) {
        threads[i].join();
    }
    stop = true;
    threads[0].join();
    threads[1].join();
    EXPECT_EQ(queries.load(), 60000);
}

TEST(Concurrency, EveryLineCarriesItsOwnThreadsSourcePath) {
    test_support::TempDir tmp;
    test_support::WorkingDirectory cwd(tmp.path());
    ASSERT_NE(std::freopen("/dev/null", "w", stdout), nullptr);
    logging::init();
    logging::set_global_level(Level::trace);

    constexpr int kThreads = 8;
    constexpr int kLines = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            const std::string path = "/worker/thread_" + std::to_string(t) + ".py";
            for (int i = 0; i < kLines; ++i) {
                const std::string message =
                    "thread " + std::to_string(t) + " line " + std::to_string(i);
                logging::log_with_source_file(Level::info, path.c_str(), message);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    logging::shutdown_logging();

    std::istringstream lines(test_support::read_file(tmp.path() / ".vantrel/logs/korvex.log"));
    std::map<int, int> per_thread;
    std::string line;
    int total = 0;
    while (std::getline(lines, line)) {
        ++total;
        const auto at = line.find("| thread ");
        if (at == std::string::npos) {
            continue;
        }
        const int t = std::stoi(line.substr(at + 9));
        const std::string column = "w.thread_" + std::to_string(t) + ".py";
        EXPECT_EQ(line.substr(at - 31, 31), column + std::string(31 - column.size(), ' ')) << line;
        ++per_thread[t];
    }
    EXPECT_EQ(total, kThreads * kLines + 1);
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(per_thread[t], kLines) << t;
    }
}

// One sink written by four threads and flushed by a fifth (spdlog's flusher),
// while a second sink on the same file stands for another process of the
// program. The files rotate three times and have room for every line: none is
// spliced, lost or written twice.
TEST(Concurrency, FileSinkSharedByThreadsAndAnotherProcess) {
    test_support::TempDir tmp;
    const std::string name = (tmp.path() / "korvex.log").string();
    constexpr std::size_t kMaxSize = 300000;  // 4 files hold 1.2 MB
    std::atomic<int> errors{0};
    auto make_logger = [&](const char* logger_name) {
        auto sink = std::make_shared<logging::LogFileSink>(name, kMaxSize, 3,
                                                           logging::system_file_system(), 1024);
        sink->set_pattern("%v");
        auto logger = std::make_shared<spdlog::logger>(logger_name, std::move(sink));
        logger->set_error_handler([&](const std::string&) { ++errors; });
        logger->flush_on(spdlog::level::off);
        return logger;
    };
    auto ours = make_logger("ours");
    auto other = make_logger("other");

    constexpr int kLines = 2000;  // 10,000 lines of 100 bytes: 1 MB
    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i) {
                ours->info(test_support::numbered("t" + std::to_string(t), i));
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < kLines; ++i) {
            other->info(test_support::numbered("other", i));
        }
    });
    std::thread flusher([&] {
        while (!done) {
            ours->flush();
            other->flush();
        }
    });
    for (auto& thread : threads) {
        thread.join();
    }
    done = true;
    flusher.join();
    ours->flush();
    other->flush();

    std::vector<std::string> lines;
    for (const char* file : {"korvex.3.log", "korvex.2.log", "korvex.1.log", "korvex.log"}) {
        EXPECT_LE(std::filesystem::file_size(tmp.path() / file), kMaxSize) << file;
        for (auto& line : test_support::read_lines(tmp.path() / file)) {
            lines.push_back(std::move(line));
        }
    }
    auto kept = test_support::numbers_by_tag(lines);
    for (const char* tag : {"t0", "t1", "t2", "t3", "other"}) {
        EXPECT_EQ(kept[tag].size(), static_cast<std::size_t>(kLines)) << tag;
        EXPECT_TRUE(test_support::newest_lines_kept(kept[tag], kLines - 1)) << tag;
    }
    EXPECT_EQ(errors.load(), 0);
}
