// The %E and %* pattern flags and the path-shortening rules behind %*.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "logging/pattern_flags.hpp"
#include "logging/state.hpp"
#include "support.hpp"

namespace {

using namespace std::chrono_literals;

std::string shorten_with_root(const std::string& path, std::optional<std::string> root) {
    spdlog::memory_buf_t buffer;
    logging::detail::shorten_source_path(path, root, buffer);
    return std::string(buffer.data(), buffer.size());
}

std::string abbreviate(const std::string& path) {
    spdlog::memory_buf_t buffer;
    logging::abbreviate_path(path, buffer);
    return std::string(buffer.data(), buffer.size());
}

template <typename Formatter>
std::string format_flag() {
    Formatter formatter;
    spdlog::details::log_msg msg(spdlog::source_loc{}, "core", spdlog::level::info, "m");
    std::tm tm{};
    spdlog::memory_buf_t buffer;
    buffer.append(std::string_view("prefix"));
    formatter.format(msg, tm, buffer);
    return std::string(buffer.data() + 6, buffer.size() - 6);
}

std::string source_column(const char* path) {
    logging::current_source_file = path;
    std::string column = format_flag<logging::SourceFileFormatter>();
    logging::current_source_file = "";
    return column;
}

}  // namespace

// An initial is a whole character, so a log of valid UTF-8 paths stays valid
// UTF-8; bytes that start no complete sequence are taken one at a time.
TEST(ShortenSourcePath, InitialsAreWholeCharacters) {
    struct Case {
        const char* path;
        const char* expected;
    };
    const Case cases[] = {
        {"/x/korvex/\u00fcber/\u00df/drive.py", "\u00fc.\u00df.drive.py"},
        {"/opt/\u00fcnicode/\u20acuro/x.py", "o.\u00fc.\u20ac.x.py"},
        {"/b/korvex-\u00fcmotion/x.cpp", "\u00fc.x.cpp"},
        {"/\U0001F600dir/x.py", "\U0001F600.x.py"},
        {"/\xC3/x.py", "\xC3.x.py"},
        {"/\x80"
         "abc/x.py",
         "\x80.x.py"},
        {"/\xE2\x82/x.py", "\xE2.x.py"},
        {"/\xC0\x80/x.py", "\xC0.x.py"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(shorten_with_root(c.path, std::nullopt), c.expected) << c.path;
    }
}

TEST(ShortenSourcePath, RulesWithAProjectRoot) {
    struct Case {
        const char* path;
        const char* expected;
    };
    const Case cases[] = {
        {"/home/u/bot/src/main.py", "s.main.py"},
        {"/home/u/bot/main.py", "main.py"},
        {"/home/u/bot", "."},
        {"/home/u/bot/", ""},
        {"/home/u/bot2/x.py", "h.u.b.x.py"},
        {"/opt/site-packages/korvex/step/motion/drive.py", "s.m.drive.py"},
        {"/opt/site-packages/korvex/util.py", "util.py"},
        {"/build/korvex-motion/src/drive.cpp", "m.drive.cpp"},
        {"/build/korvex-/src/x.cpp", "b.k.s.x.cpp"},
        {"/build/korvex-", "b.korvex-"},
        {"C:\\work\\src\\x.py", "C.w.s.x.py"},
        {"./tools/./run.py", "t.run.py"},
        {"fused_odometry.cpp", "fused_odometry.cpp"},
        {"/a/korvex-motion/korvex/b/c.py", "b.c.py"},
        {"/a/korvex/b/korvex/c.py", "b.k.c.py"},
        {"/x/korvex/a/b/", "a.b"},
        {"/x/korvex/a//b.py", "a.b.py"},
        {"/x/korvex/", ""},
        {"//a//b/c.py", "a.b.c.py"},
        {"../up/x.py", "..u.x.py"},
        {"src/main.py", "s.main.py"},
        {"/", ""},
        {"\\\\server\\share\\f.py", "s.s.f.py"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(shorten_with_root(c.path, "/home/u/bot"), c.expected) << c.path;
    }
}

TEST(ShortenSourcePath, RootsThatNeverServeAsPrefix) {
    // A root of "/" would need the prefix "//"; only "/" itself becomes ".".
    EXPECT_EQ(shorten_with_root("/home/u/x.py", "/"), "h.u.x.py");
    EXPECT_EQ(shorten_with_root("/", "/"), ".");
    // A drive-letter root never matches a path that starts with '/'.
    EXPECT_EQ(shorten_with_root("/work/src/x.py", "C:/work"), "w.s.x.py");
    EXPECT_EQ(shorten_with_root("C:\\work\\src\\x.py", "C:/work"), "C.w.s.x.py");
    // No root (unreadable working directory) or an empty one: nothing is stripped.
    EXPECT_EQ(shorten_with_root("/home/u/bot/a.py", std::nullopt), "h.u.b.a.py");
    EXPECT_EQ(shorten_with_root("/home/u/bot/a.py", ""), "h.u.b.a.py");
}

TEST(AbbreviatePath, ElementRules) {
    EXPECT_EQ(abbreviate("file.py"), "file.py");
    EXPECT_EQ(abbreviate("a/b/c.py"), "a.b.c.py");
    EXPECT_EQ(abbreviate("alpha/beta/"), "a.b.");
    EXPECT_EQ(abbreviate("./a/./b"), "a.b");
    EXPECT_EQ(abbreviate("../a"), "..a");
    EXPECT_EQ(abbreviate("/"), "");
    EXPECT_EQ(abbreviate("////"), "");
    EXPECT_EQ(abbreviate(""), "");
}

TEST(SourceFileFormatter, PadsToThirtyAndKeepsLongerForms) {
    EXPECT_EQ(source_column(""), std::string(30, ' '));
    EXPECT_EQ(source_column(nullptr), std::string(30, ' '));
    EXPECT_EQ(source_column("fused_odometry.cpp"), "fused_odometry.cpp" + std::string(12, ' '));
    const std::string thirty(30, 'x');
    EXPECT_EQ(source_column(thirty.c_str()), thirty);
    const std::string forty_five(45, 'y');
    EXPECT_EQ(source_column(forty_five.c_str()), forty_five);
    // Relative paths never trigger the root search.
    EXPECT_EQ(source_column("src/main.py"), "s.main.py" + std::string(21, ' '));
}

TEST(SourceFileFormatter, ArbitraryBytesNeverCrash) {
    const std::string inputs[] = {
        std::string(64 * 1024, '/'),
        std::string(64 * 1024, '\\'),
        std::string(64 * 1024, 'a'),
        "korvex-korvex-korvex/",
        "korvex/korvex/korvex-",
        "korvex-",
        "korvex/",
        "\xff\xfe/\x80",
        std::string("a/b/") + std::string(70000, 'z'),
    };
    for (const auto& input : inputs) {
        EXPECT_GE(source_column(input.c_str()).size(), 30u);
    }
}

TEST(ElapsedTimeFormatter, FallbackBeforeAnyTimerStart) {
    ASSERT_FALSE(logging::timer_started);
    EXPECT_EQ(format_flag<logging::ElapsedTimeFormatter>(), "    0.000s");
}

TEST(ElapsedTimeFormatter, WholeMillisecondsAndWideValues) {
    struct Case {
        std::chrono::nanoseconds ago;
        const char* expected;
    };
    const Case cases[] = {
        {0ns, "    0.000s"},        {2999600us, "    2.999s"}, {1250ms, "    1.250s"},
        {99999999ms, "99999.999s"}, {100000s, "100000.000s"},  {1234567s, "1234567.000s"},
    };
    for (const auto& c : cases) {
        // A few milliseconds may pass between setting the origin and formatting;
        // allow the last digit to move forward only.
        logging::timer_start = std::chrono::steady_clock::now() - c.ago;
        logging::timer_started = true;
        const std::string text = format_flag<logging::ElapsedTimeFormatter>();
        EXPECT_EQ(text.size(), std::string(c.expected).size()) << c.expected;
        EXPECT_LE(std::string(c.expected), text);
        EXPECT_LT(std::strtod(text.c_str(), nullptr) - std::strtod(c.expected, nullptr), 0.05)
            << text;
    }
}

TEST(ElapsedTimeFormatter, InitializeTimerRestartsFromZero) {
    logging::timer_start = std::chrono::steady_clock::now() - 10s;
    logging::timer_started = true;
    logging::initialize_timer();
    EXPECT_EQ(format_flag<logging::ElapsedTimeFormatter>().substr(0, 8), "    0.00");
}

TEST(Flags, CloneGivesTheSameClass) {
    const logging::ElapsedTimeFormatter elapsed;
    const logging::SourceFileFormatter source;
    EXPECT_NE(dynamic_cast<logging::ElapsedTimeFormatter*>(elapsed.clone().get()), nullptr);
    EXPECT_NE(dynamic_cast<logging::SourceFileFormatter*>(source.clone().get()), nullptr);
}

// The cached root is process-wide and one-way: each case runs in a forked child.
TEST(RelativeToProjectRoot, CachedOnceFromTheFirstAbsolutePath) {
    test_support::TempDir tmp;
    tmp.mkdir("proj/.git");
    const auto src = tmp.mkdir("proj/src");
    const std::string proj = (tmp.path() / "proj").string();
    EXPECT_EXIT(
        {
            test_support::WorkingDirectory cwd(src);
            bool ok = logging::relative_to_project_root("src/x.py") == "src/x.py";
            ok = ok && logging::relative_to_project_root(nullptr).empty();
            ok =
                ok && logging::relative_to_project_root((proj + "/src/x.py").c_str()) == "src/x.py";
            ok = ok && logging::relative_to_project_root(proj.c_str()) == ".";
            // Moving elsewhere does not change the cached root.
            std::filesystem::current_path("/");
            ok = ok && logging::relative_to_project_root((proj + "\\a\\b.py").c_str()) == "a/b.py";
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(RelativeToProjectRoot, UnreadableWorkingDirectoryIsCachedAsNoRoot) {
    test_support::TempDir tmp;
    const auto gone = tmp.mkdir("gone");
    EXPECT_EXIT(
        {
            std::filesystem::current_path(gone);
            std::filesystem::remove(gone);
            bool ok = logging::relative_to_project_root("/a/b.py") == "/a/b.py";
            std::filesystem::current_path("/");
            ok = ok && logging::relative_to_project_root("/a/b.py") == "/a/b.py";
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// The elapsed column is made with integer digits; it must read exactly as
// "{:>9.3f}s" of the seconds as a double would.
TEST(ElapsedTime, IntegerDigitsReadAsTheFloatingPointFormat) {
    std::vector<long long> values = {0,         1,          999,          1000,
                                     2999,      59999,      99999999,     100000000,
                                     123456789, 4294967296, 999999999999, 123456789012345,
                                     -1,        -999,       -1500,        -100000000};
    for (long long ms = 0; ms < 2000000; ms += 7919) {
        values.push_back(ms);
    }
    for (const long long ms : values) {
        spdlog::memory_buf_t buffer;
        logging::append_elapsed(ms, buffer);
        EXPECT_EQ(std::string(buffer.data(), buffer.size()),
                  fmt::format("{:>9.3f}s", static_cast<double>(ms) / 1000.0))
            << ms;
    }
}
