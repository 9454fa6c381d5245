// The upward search for the project root.
#include <gtest/gtest.h>
#include <unistd.h>

#include "logging/project_root.hpp"
#include "support.hpp"

using test_support::TempDir;
using test_support::WorkingDirectory;

namespace {

std::optional<std::string> root_from(const std::filesystem::path& dir) {
    WorkingDirectory cwd(dir);
    return logging::find_project_root();
}

}  // namespace

TEST(ProjectRoot, MarkerKindsAndPositions) {
    struct Case {
        const char* name;
        std::function<void(const TempDir&)> build;
        const char* start;     // relative to the temp dir
        const char* expected;  // relative to the temp dir
    };
    const Case cases[] = {
        {"git directory above", [](const TempDir& t) { t.mkdir("proj/.git"); }, "proj/src/robot",
         "proj"},
        {"project file in the working directory",
         [](const TempDir& t) { t.touch("proj/src/vantrel.project.yml"); }, "proj/src", "proj/src"},
        {"nearest marker wins over a git root",
         [](const TempDir& t) {
             t.mkdir("proj/.git");
             t.mkdir("proj/inner/.vantrel");
         },
         "proj/inner/deep", "proj/inner"},
        {"git as a regular file", [](const TempDir& t) { t.touch("wt/.git"); }, "wt/a", "wt"},
        {".vantrel as a file", [](const TempDir& t) { t.touch("p/.vantrel"); }, "p/x/y", "p"},
        {"symbolic link to an existing directory",
         [](const TempDir& t) {
             t.mkdir("target");
             std::filesystem::create_directory_symlink(t.path() / "target", t.path() / "p/.git");
         },
         "p/q", "p"},
        {"dangling symbolic link does not count",
         [](const TempDir& t) {
             t.mkdir("outer/.git");
             t.mkdir("outer/p/q");
             std::filesystem::create_symlink(t.path() / "missing", t.path() / "outer/p/.vantrel");
         },
         "outer/p/q", "outer"},
    };
    for (const auto& c : cases) {
        TempDir tmp;
        tmp.mkdir(c.start);
        c.build(tmp);
        const auto root = root_from(tmp.path() / c.start);
        ASSERT_TRUE(root.has_value()) << c.name;
        EXPECT_EQ(*root, (tmp.path() / c.expected).string()) << c.name;
    }
}

TEST(ProjectRoot, NoMarkerGivesTheWorkingDirectory) {
    TempDir tmp;
    const auto dir = tmp.mkdir("a/b");
    // A marker anywhere above the temp dir (the test machine's own) would win;
    // only check the fallback when there is none.
    const auto root = root_from(dir);
    ASSERT_TRUE(root.has_value());
    bool marker_above = false;
    for (auto p = dir;; p = p.parent_path()) {
        for (const char* m : {".git", "vantrel.project.yml", ".vantrel"}) {
            marker_above = marker_above || std::filesystem::exists(p / m);
        }
        if (p == p.root_path())
            break;
    }
    if (!marker_above) {
        EXPECT_EQ(*root, dir.string());
    }
}

TEST(ProjectRoot, RemovedWorkingDirectoryGivesNoValue) {
    TempDir tmp;
    const auto dir = tmp.mkdir("gone");
    WorkingDirectory cwd(dir);
    std::filesystem::remove(dir);
    EXPECT_FALSE(logging::find_project_root().has_value());
}

TEST(ProjectRoot, FileSystemRootIsSearchedAndEndsTheWalk) {
    const auto root = root_from("/");
    ASSERT_TRUE(root.has_value());
    EXPECT_EQ(*root, "/");
}
