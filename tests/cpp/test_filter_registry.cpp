// The filter registry and the level mapping.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "logging/levels.hpp"
#include "support.hpp"

using logging::Level;

namespace {

class FilterRegistry : public ::testing::Test {
  protected:
    void SetUp() override { logging::clear_filters(); }
    void TearDown() override { logging::clear_filters(); }
    test_support::LoggingReady ready_;
};

struct Case {
    const char* name;
    std::function<void()> setup;
    Level level;
    const char* path;
    bool enabled;
};

const std::vector<Case>& cases() {
    static const std::vector<Case> table = {
        {"no thresholds: info passes", [] {}, Level::info, "/any/file.py", true},
        {"no thresholds: debug filtered", [] {}, Level::debug, "/any/file.py", false},
        {"file entry, '/' path", [] { logging::set_file_level("fused_odometry.cpp", Level::warn); },
         Level::info, "/src/nav/fused_odometry.cpp", false},
        {"file entry, '\\' path",
         [] { logging::set_file_level("fused_odometry.cpp", Level::warn); }, Level::warn,
         "C:\\work\\fused_odometry.cpp", true},
        {"file entry, error passes",
         [] { logging::set_file_level("fused_odometry.cpp", Level::warn); }, Level::error,
         "/src/nav/fused_odometry.cpp", true},
        {"key with separator never matches",
         [] { logging::set_file_level("nav/fused_odometry.cpp", Level::off); }, Level::info,
         "/src/nav/fused_odometry.cpp", true},
        {"keys are case-sensitive",
         [] { logging::set_file_level("Fused_Odometry.cpp", Level::off); }, Level::info,
         "/src/fused_odometry.cpp", true},
        {"trailing separator: empty basename uses empty key",
         [] { logging::set_file_level("", Level::error); }, Level::warn, "/src/dir/", false},
        {"empty key does not apply to named files",
         [] { logging::set_file_level("", Level::error); }, Level::warn, "/src/dir/x.py", true},
        {"path without separator is its own basename",
         [] { logging::set_file_level("x.py", Level::error); }, Level::warn, "x.py", false},
        {"file entry decides alone (looser)",
         [] {
             logging::set_file_level("drive.py", Level::debug);
             logging::set_package_level("motion", Level::error);
         },
         Level::debug, "/k/motion/drive.py", true},
        {"file entry decides alone (stricter)",
         [] {
             logging::set_file_level("drive.py", Level::error);
             logging::set_global_level(Level::trace);
         },
         Level::warn, "/k/motion/drive.py", false},
        {"first package in insertion order wins",
         [] {
             logging::set_package_level("korvex", Level::error);
             logging::set_package_level("korvex/step", Level::trace);
         },
         Level::warn, "/x/korvex/step/a.py", false},
        {"re-set keeps position",
         [] {
             logging::set_package_level("korvex", Level::error);
             logging::set_package_level("korvex/step", Level::trace);
             logging::set_package_level("korvex", Level::critical);
         },
         Level::error, "/x/korvex/step/a.py", false},
        {"clear then set moves to the end",
         [] {
             logging::set_package_level("korvex", Level::error);
             logging::set_package_level("korvex/step", Level::trace);
             logging::clear_package_level("korvex");
             logging::set_package_level("korvex", Level::error);
         },
         Level::debug, "/x/korvex/step/a.py", true},
        {"package separators are not normalised",
         [] { logging::set_package_level("korvex/step/motion", Level::error); }, Level::warn,
         "C:\\korvex\\step\\motion\\drive.py", true},
        {"package matches with '/'",
         [] { logging::set_package_level("korvex/step/motion", Level::error); }, Level::warn,
         "/home/u/korvex/step/motion/drive.py", false},
        {"empty package applies to every path",
         [] { logging::set_package_level("", Level::error); }, Level::warn, "anything", false},
        {"package is case-sensitive", [] { logging::set_package_level("Korvex", Level::error); },
         Level::info, "/korvex/a.py", true},
        {"off threshold rejects critical", [] { logging::set_global_level(Level::off); },
         Level::critical, "/a.py", false},
        {"off threshold admits off", [] { logging::set_global_level(Level::off); }, Level::off,
         "/a.py", true},
        {"off threshold admits 9", [] { logging::set_global_level(Level::off); },
         static_cast<Level>(9), "/a.py", true},
        {"negative level rejected by trace", [] { logging::set_global_level(Level::trace); },
         static_cast<Level>(-1), "/a.py", false},
        {"out-of-range threshold compared as integer",
         [] { logging::set_global_level(static_cast<Level>(-5)); }, static_cast<Level>(-3), "/a.py",
         true},
        {"clear_filters removes everything",
         [] {
             logging::set_file_level("a.py", Level::off);
             logging::set_package_level("", Level::off);
             logging::set_global_level(Level::off);
             logging::clear_filters();
         },
         Level::info, "/a.py", true},
        {"clear_file_level removes only its key",
         [] {
             logging::set_file_level("a.py", Level::off);
             logging::set_file_level("b.py", Level::off);
             logging::clear_file_level("a.py");
             logging::clear_file_level("missing.py");
         },
         Level::info, "/a.py", true},
        {"empty path", [] { logging::set_package_level("x", Level::off); }, Level::info, "", true},
        {"only separators", [] { logging::set_file_level("", Level::off); }, Level::critical,
         "/\\//", false},
    };
    return table;
}

}  // namespace

TEST_F(FilterRegistry, DecisionTable) {
    for (const auto& c : cases()) {
        logging::clear_filters();
        c.setup();
        EXPECT_EQ(logging::is_enabled_for(c.level, c.path), c.enabled) << c.name;
    }
}

TEST_F(FilterRegistry, ThresholdChangeIsVisibleToTheNextQuery) {
    EXPECT_FALSE(logging::is_enabled_for(Level::debug, "/a.py"));
    logging::set_global_level(Level::debug);
    EXPECT_TRUE(logging::is_enabled_for(Level::debug, "/a.py"));
}

TEST_F(FilterRegistry, LongPathsAndManyEntries) {
    const std::string long_path = "/" + std::string(64 * 1024, 'k') + "/korvex/leaf.py";
    for (int i = 0; i < 100; ++i) {
        logging::set_package_level("pkg" + std::to_string(i), Level::off);
    }
    logging::set_package_level("leaf", Level::error);
    EXPECT_FALSE(logging::is_enabled_for(Level::warn, long_path.c_str()));
    EXPECT_TRUE(logging::is_enabled_for(Level::error, long_path.c_str()));
}

TEST(FilterReadiness, FalseUnlessInitialisedAndNotShutDown) {
    logging::clear_filters();
    logging::set_global_level(Level::trace);
    {
        test_support::LoggingReady fresh(false, false);
        EXPECT_FALSE(logging::is_enabled_for(Level::critical, "/a.py"));
    }
    {
        test_support::LoggingReady shut_down(false, true);
        EXPECT_FALSE(logging::is_enabled_for(Level::off, "/a.py"));
    }
    {
        test_support::LoggingReady initialised_again(true, true);
        EXPECT_FALSE(logging::is_enabled_for(Level::off, "/a.py"));
    }
    {
        test_support::LoggingReady active(true, false);
        EXPECT_TRUE(logging::is_enabled_for(Level::trace, "/a.py"));
    }
}

TEST(LevelMapping, SameNumbersAndInfoOutsideTheRange) {
    for (int value = 0; value <= 6; ++value) {
        EXPECT_EQ(static_cast<int>(logging::to_spdlog_level(static_cast<Level>(value))), value);
    }
    for (int value : {-100, -1, 7, 9, 100}) {
        EXPECT_EQ(logging::to_spdlog_level(static_cast<Level>(value)), spdlog::level::info);
    }
}

// The package lookup is indexed; check it against the plain rule (first entry
// in insertion order whose substring occurs in the path) on random input.
TEST_F(FilterRegistry, PackageMatchAgreesWithThePlainRule) {
    std::mt19937 rng(12345);
    const std::string alphabets[] = {"ko/", "korvex/-\\ab", "k"};
    auto random_text = [&](const std::string& alphabet, std::size_t max_len) {
        std::string text(std::uniform_int_distribution<std::size_t>(0, max_len)(rng), ' ');
        for (auto& c : text) {
            c = alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(rng)];
        }
        return text;
    };
    for (int round = 0; round < 400; ++round) {
        const std::string& alphabet = alphabets[round % 3];
        logging::clear_filters();
        logging::set_global_level(Level::trace);
        std::vector<std::string> model;  // substrings in list order; level = index
        const int entries = std::uniform_int_distribution<int>(0, 8)(rng);
        for (int e = 0; e < entries; ++e) {
            std::string package = random_text(alphabet, 4);
            if (std::uniform_int_distribution<int>(0, 5)(rng) == 0) {
                logging::clear_package_level(package);
                model.erase(std::remove(model.begin(), model.end(), package), model.end());
                continue;
            }
            if (std::find(model.begin(), model.end(), package) == model.end()) {
                model.push_back(package);
            }
        }
        for (std::size_t i = 0; i < model.size(); ++i) {
            // Levels 10, 11, ... identify the entry that decides.
            logging::set_package_level(model[i], static_cast<Level>(10 + i));
        }
        for (int q = 0; q < 50; ++q) {
            const std::string path = random_text(alphabet, 24);
            int expected = 0;  // global trace
            for (std::size_t i = 0; i < model.size(); ++i) {
                if (path.find(model[i]) != std::string::npos) {
                    expected = 10 + static_cast<int>(i);
                    break;
                }
            }
            // Enabled exactly for levels at or above the deciding threshold.
            std::string entries_text;
            for (const auto& m : model) {
                entries_text += "[" + m + "] ";
            }
            EXPECT_FALSE(logging::is_enabled_for(static_cast<Level>(expected - 1), path.c_str()))
                << path << " entries " << entries_text << " expected " << expected;
            EXPECT_TRUE(logging::is_enabled_for(static_cast<Level>(expected), path.c_str()))
                << path;
        }
    }
}
