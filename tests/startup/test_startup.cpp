#include <gtest/gtest.h>
#include <langinfo.h>
#include <locale.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "app/startup/startup.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;

// A fresh folder per test: ctest runs the cases of this program in parallel.
class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "dorvane-startup-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

void WriteFile(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary);
    out << bytes;
}

// ---- language ----

struct LanguageCase {
    const char* what;
    const char* command_line;
    const char* locale;
    Language expected;
};

class ChooseLanguageTest : public ::testing::TestWithParam<LanguageCase> {};

TEST_P(ChooseLanguageTest, Chooses) {
    const LanguageCase& c = GetParam();
    EXPECT_EQ(ChooseLanguage(c.command_line, c.locale), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChooseLanguageTest,
    ::testing::Values(
        LanguageCase{"both options: Chinese wins", "dorvane -Code_Eng -Code_Chi", "en_US.UTF-8",
                     Language::Chinese},
        LanguageCase{"both options, other order", "dorvane -Code_Chi -Code_Eng", "en_US",
                     Language::Chinese},
        LanguageCase{"English option over a Chinese locale", "dorvane -Code_Eng", "zh_CN.UTF-8",
                     Language::English},
        LanguageCase{"Chinese option over an English locale", "dorvane -Code_Chi", "en_GB.UTF-8",
                     Language::Chinese},
        LanguageCase{"option at the very start is not recognised", "-Code_Eng", "zh_CN",
                     Language::Chinese},
        LanguageCase{"option inside a longer word still matches", "dorvane -Code_Chinese", "C",
                     Language::Chinese},
        LanguageCase{"options are case-sensitive", "dorvane -code_chi", "en_US", Language::English},
        LanguageCase{"zh_CN chooses Chinese", "dorvane", "zh_CN", Language::Chinese},
        LanguageCase{"zh_CN with codeset", "dorvane", "zh_CN.UTF-8", Language::Chinese},
        LanguageCase{"zh_CN with GBK codeset", "dorvane", "zh_CN.GBK", Language::Chinese},
        LanguageCase{"zh_CN with modifier", "dorvane", "zh_CN@pinyin", Language::Chinese},
        LanguageCase{"zh_TW chooses English", "dorvane", "zh_TW.UTF-8", Language::English},
        LanguageCase{"zh_HK chooses English", "dorvane", "zh_HK", Language::English},
        LanguageCase{"bare zh chooses English", "dorvane", "zh", Language::English},
        LanguageCase{"zh_CNX is not zh_CN", "dorvane", "zh_CNX", Language::English},
        LanguageCase{"C locale", "dorvane", "C", Language::English},
        LanguageCase{"empty locale", "dorvane", "", Language::English},
        LanguageCase{"de_DE", "dorvane", "de_DE.UTF-8", Language::English}),
    [](const ::testing::TestParamInfo<LanguageCase>& param) {
        return "case" + std::to_string(param.index);
    });

TEST(CommandLine, JoinsArgumentsWithSpaces) {
    const char* argv[] = {"/usr/bin/dorvane", "-Code_Eng", "file name"};
    const std::string line = JoinCommandLine(3, argv);
    EXPECT_EQ(line, "/usr/bin/dorvane -Code_Eng file name");
    EXPECT_EQ(ChooseLanguage(line, "zh_CN"), Language::English);
    const char* only[] = {"-Code_Eng"};
    EXPECT_EQ(JoinCommandLine(1, only), "-Code_Eng");
    EXPECT_EQ(JoinCommandLine(0, nullptr), "");
}

TEST(UserLocale, FollowsPosixPrecedence) {
    const char* saved[3];
    const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::string copies[3];
    for (int i = 0; i < 3; ++i) {
        saved[i] = std::getenv(names[i]);
        if (saved[i]) copies[i] = saved[i];
    }
    ::setenv("LC_ALL", "", 1);
    ::setenv("LC_MESSAGES", "zh_TW.UTF-8", 1);
    ::setenv("LANG", "zh_CN.UTF-8", 1);
    EXPECT_EQ(UserLocaleName(), "zh_TW.UTF-8");
    ::setenv("LC_ALL", "zh_CN.GBK", 1);
    EXPECT_EQ(UserLocaleName(), "zh_CN.GBK");
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    ::unsetenv("LANG");
    EXPECT_EQ(UserLocaleName(), "C");
    for (int i = 0; i < 3; ++i) {
        if (saved[i])
            ::setenv(names[i], copies[i].c_str(), 1);
        else
            ::unsetenv(names[i]);
    }
}

// A user locale whose numbers use a decimal comma, built for the test from
// the locale sources of the "locales" package into a private LOCPATH, so the
// test does not depend on the locales installed on the machine.
constexpr const char* kCommaLocaleSource = "de_DE";
constexpr const char* kCommaLocaleName = "de_DE.UTF-8";

TEST(UserLocale, NumbersKeepTheDecimalPoint) {
    TempDir dir;
    const std::string build = std::string("localedef -i ") + kCommaLocaleSource + " -f UTF-8 '" +
                              (dir.path() / kCommaLocaleName).string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(build.c_str()), 0)
        << "localedef could not build " << kCommaLocaleName << " (the locales package is missing?)";
    const char* names[] = {"LOCPATH", "LC_ALL"};
    std::optional<std::string> saved[2];
    for (int i = 0; i < 2; ++i)
        if (const char* v = std::getenv(names[i])) saved[i] = v;
    ::setenv("LOCPATH", dir.path().c_str(), 1);
    ::setenv("LC_ALL", kCommaLocaleName, 1);

    // The locale really has a decimal comma: without the fix the number
    // below would read "1,50".
    locale_t comma = ::newlocale(LC_NUMERIC_MASK, kCommaLocaleName, static_cast<locale_t>(nullptr));
    ASSERT_NE(comma, static_cast<locale_t>(nullptr));
    EXPECT_STREQ(::nl_langinfo_l(RADIXCHAR, comma), ",");
    ::freelocale(comma);

    EXPECT_TRUE(ApplyUserLocale());
    EXPECT_STREQ(std::setlocale(LC_MONETARY, nullptr), kCommaLocaleName)
        << "the user's locale is in force";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", 1.5);
    EXPECT_STREQ(buf, "1.50");

    for (int i = 0; i < 2; ++i) {
        if (saved[i])
            ::setenv(names[i], saved[i]->c_str(), 1);
        else
            ::unsetenv(names[i]);
    }
    std::setlocale(LC_ALL, "C");
}

// ---- edition ----

struct EditionCase {
    const char* what;
    std::optional<std::string> content;  // nullopt: no file
    std::string expected;
    bool deleted;
};

class EditionTest : public ::testing::TestWithParam<EditionCase> {};

TEST_P(EditionTest, ReadsFirstLine) {
    const EditionCase& c = GetParam();
    TempDir dir;
    const fs::path file = dir.path() / "Edition.ini";
    if (c.content) WriteFile(file, *c.content);
    const Edition e = ReadEdition(dir.path());
    EXPECT_EQ(e.text, c.expected) << c.what;
    EXPECT_EQ(e.from_file, c.expected != "Dorvane 1.0.0.0") << c.what;
    EXPECT_EQ(e.deleted, c.deleted) << c.what;
    EXPECT_EQ(fs::exists(file), c.content.has_value() && !c.deleted) << c.what;
}

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

const std::string k129 = Repeat("v", 129);

INSTANTIATE_TEST_SUITE_P(
    Cases, EditionTest,
    ::testing::Values(
        EditionCase{"2.1 Pro", "2.1 Pro\n", "Dorvane 2.1 Pro", false},
        EditionCase{"CR LF line end", "2.1 Pro\r\nsecond line\r\n", "Dorvane 2.1 Pro", false},
        EditionCase{"no line end", "3.0", "Dorvane 3.0", false},
        EditionCase{"128 characters", Repeat("v", 128) + "\n", "Dorvane " + Repeat("v", 128),
                    false},
        EditionCase{"129 characters: default and deleted", k129 + "\n", "Dorvane 1.0.0.0", true},
        EditionCase{"empty first line", "\n2.0\n", "Dorvane 1.0.0.0", true},
        EditionCase{"empty file", "", "Dorvane 1.0.0.0", true},
        EditionCase{"no file", std::nullopt, "Dorvane 1.0.0.0", false},
        EditionCase{"GBK line", "\xD6\xD0\xCE\xC4\xB0\xE6\n", "Dorvane 中文版", false},
        EditionCase{"128 Chinese characters count as 128", Repeat("版", 128),
                    "Dorvane " + Repeat("版", 128), false},
        EditionCase{"129 Chinese characters", Repeat("版", 129), "Dorvane 1.0.0.0", true}),
    [](const ::testing::TestParamInfo<EditionCase>& param) {
        return "case" + std::to_string(param.index);
    });

TEST(Edition, VeryLongLineIsRefusedWithoutReadingItAll) {
    TempDir dir;
    WriteFile(dir.path() / "Edition.ini", std::string(1 << 20, 'x'));
    const Edition e = ReadEdition(dir.path());
    EXPECT_EQ(e.text, "Dorvane 1.0.0.0");
    EXPECT_TRUE(e.deleted);
}

// The program deletes an unusable Edition.ini only in a folder it owns and
// may write (its own build or install folder), never in a system folder.
TEST(Edition, FileInAFolderOfSomeoneElseIsKept) {
    TempDir dir;
    const fs::path file = dir.path() / "Edition.ini";
    WriteFile(file, k129);
    constexpr uid_t kNobody = 65534;
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(dir.path().c_str(), kNobody, kNobody), 0);  // root writes anywhere
    } else {
        fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
    }
    const Edition e = ReadEdition(dir.path());
    EXPECT_EQ(e.text, "Dorvane 1.0.0.0");
    EXPECT_FALSE(e.deleted);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(dir.path().c_str(), 0, 0), 0);
    }
    fs::permissions(dir.path(), fs::perms::owner_all);
    EXPECT_TRUE(fs::exists(file));
}

TEST(Edition, AFolderNamedEditionIniIsNotDeleted) {
    TempDir dir;
    fs::create_directory(dir.path() / "Edition.ini");
    const Edition e = ReadEdition(dir.path());
    EXPECT_EQ(e.text, "Dorvane 1.0.0.0");
    EXPECT_FALSE(e.deleted);
    EXPECT_TRUE(fs::is_directory(dir.path() / "Edition.ini"));
}

// ---- single instance ----

TEST(SingleInstance, SecondInstanceIsTurnedAway) {
    TempDir dir;
    CSingleInstance first = CSingleInstance::AcquireIn(dir.path());
    ASSERT_EQ(first.status(), CSingleInstance::Status::Acquired);
    EXPECT_EQ(first.path().filename(), "47A166DA-BF64-4D9B-A14D-43647637E4A0.lock");

    // Another process: as a second copy of the program would be.
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        CSingleInstance second = CSingleInstance::AcquireIn(dir.path());
        ::_exit(second.status() == CSingleInstance::Status::AlreadyRunning && !second.ShouldRun()
                    ? 0
                    : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    // Within the same process too (separate open file descriptions).
    EXPECT_EQ(CSingleInstance::AcquireIn(dir.path()).status(),
              CSingleInstance::Status::AlreadyRunning);
}

TEST(SingleInstance, ReleasedWhenTheObjectGoes) {
    TempDir dir;
    {
        CSingleInstance first = CSingleInstance::AcquireIn(dir.path());
        ASSERT_EQ(first.status(), CSingleInstance::Status::Acquired);
        CSingleInstance moved = std::move(first);  // the move keeps the lock
        EXPECT_EQ(CSingleInstance::AcquireIn(dir.path()).status(),
                  CSingleInstance::Status::AlreadyRunning);
    }
    EXPECT_EQ(CSingleInstance::AcquireIn(dir.path()).status(), CSingleInstance::Status::Acquired);
}

TEST(SingleInstance, StaleLockOfACrashedCopyDoesNotBlock) {
    TempDir dir;
    // A copy that takes the lock and dies without cleaning up.
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        CSingleInstance crashed = CSingleInstance::AcquireIn(dir.path());
        if (crashed.status() != CSingleInstance::Status::Acquired) ::_exit(1);
        ::abort();  // no destructor runs
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_TRUE(fs::exists(dir.path() / "47A166DA-BF64-4D9B-A14D-43647637E4A0.lock"));
    EXPECT_EQ(CSingleInstance::AcquireIn(dir.path()).status(), CSingleInstance::Status::Acquired);
}

TEST(SingleInstance, UnusableFolderIsAnErrorButTheProgramRuns) {
    CSingleInstance r = CSingleInstance::AcquireIn("/nonexistent/dorvane");
    EXPECT_EQ(r.status(), CSingleInstance::Status::Error);
    EXPECT_NE(r.error(), 0);
    EXPECT_TRUE(r.ShouldRun());
}

TEST(SingleInstance, RuntimeDirFollowsXdg) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string copy = saved ? saved : "";
    TempDir dir;
    ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    EXPECT_EQ(RuntimeDir(), dir.path());
    {
        CSingleInstance lock = CSingleInstance::Acquire();
        EXPECT_EQ(lock.status(), CSingleInstance::Status::Acquired);
        EXPECT_EQ(lock.path().parent_path(), dir.path());
    }
    ::setenv("XDG_RUNTIME_DIR", "relative/dir", 1);
    EXPECT_EQ(RuntimeDir(), fs::path("/tmp/dorvane-" + std::to_string(::geteuid())));
    if (saved)
        ::setenv("XDG_RUNTIME_DIR", copy.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
}  // namespace dorvane
