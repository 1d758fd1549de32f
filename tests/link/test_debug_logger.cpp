#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "link/debug_logger.h"
#include "link_test_util.h"

namespace dorvane {
namespace {

std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::size_t Count(const std::string& text, std::string_view what) {
    std::size_t count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

TEST(DebugLogger, OpenStreamEndsWithClosingLineExactlyOnce) {
    struct Case {
        const char* description;
        bool closeExplicitly;
    };
    for (const Case c :
         {Case{"closed at destruction", false}, Case{"Close, then destruction", true}}) {
        test::TempDir dir;
        const auto file = dir.path() / "sub" / "link.log";
        {
            CDebugLogger logger;
            ASSERT_TRUE(logger.Open(file)) << c.description;
            logger.Write("sent 19 bytes");
            if (c.closeExplicitly) logger.Close();
            logger.Write("second line");
        }
        const std::string body =
            c.closeExplicitly ? "sent 19 bytes\n" : "sent 19 bytes\nsecond line\n";
        const std::string text = ReadFile(file);
        EXPECT_EQ(text, body + std::string(kEndLogLine)) << c.description;
        EXPECT_EQ(Count(text, kEndLogLine), 1u) << c.description;
    }
}

TEST(DebugLogger, NeverOpenedCreatesNoFile) {
    test::TempDir dir;
    ::setenv("XDG_STATE_HOME", dir.path().c_str(), 1);
    {
        CDebugLogger logger;
        logger.Write("dropped");
        EXPECT_FALSE(logger.IsOpen());
    }
    ::unsetenv("XDG_STATE_HOME");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(DebugLogger, DefaultFolderIsUserStateNotProgramFolder) {
    test::TempDir dir;
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    ::setenv("XDG_STATE_HOME", (dir.path() / "state").c_str(), 1);
    EXPECT_EQ(CDebugLogger::DefaultLogFolder(), dir.path() / "state" / "dorvane");
    ::unsetenv("XDG_STATE_HOME");
    ::setenv("HOME", dir.path().c_str(), 1);
    EXPECT_EQ(CDebugLogger::DefaultLogFolder(), dir.path() / ".local" / "state" / "dorvane");
    if (oldHome) ::setenv("HOME", savedHome.c_str(), 1);
}

}  // namespace
}  // namespace dorvane
