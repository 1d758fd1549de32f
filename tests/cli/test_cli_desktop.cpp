// dorvane-cli as scripts and first-time users meet it: --help and --version,
// `ls --json`, and the checklist when no handheld answers, in both languages.

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <utime.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>

#include "common/sim_process.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;
using test::SimProcess;
using test::TempDir;

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Runs the CLI with the locale `lang`, UTC, its own settings folder; stdout
// and stderr apart.
CliRun Cli(const TempDir& dir, const std::string& lang, const std::string& args) {
    const std::string cmd = "cd '" + dir.path().string() + "' && LANG=" + lang + " LC_ALL=" + lang +
                            " TZ=UTC XDG_CONFIG_HOME='" + (dir / "cfg").string() + "' '" +
                            DORVANE_BINARY_DIR + "/bin/dorvane-cli' " + args + " >'" +
                            (dir / "stdout").string() + "' 2>'" + (dir / "stderr").string() + "'";
    CliRun r;
    const int st = std::system(cmd.c_str());
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.out = Slurp(dir / "stdout");
    r.err = Slurp(dir / "stderr");
    return r;
}

std::string GroupOf(const fs::path& p) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) return {};
    const group* g = ::getgrgid(st.st_gid);
    return g ? g->gr_name : std::to_string(st.st_gid);
}

struct LanguageCase {
    const char* lang;
    const char* about;     // a phrase of the --help text
    const char* heading;   // the checklist's heading
    const char* items[4];  // one phrase of each item, in the order they must come
};

const LanguageCase kLanguages[] = {
    {"C",
     "Copies files between",
     "Please check, in this order:",
     {"1. The cable is plugged in", "2. Your account is a member of the group",
      "3. ModemManager is not holding", "4. For the USB link: the USB id setting"}},
    {"zh_CN.UTF-8",
     "在GPS测亩仪与电脑之间复制文件",
     "请依次检查：",
     {"1. 数据线两端都已插好", "2. 您的账户属于拥有串口的用户组", "3. ModemManager 没有占用串口",
      "4. 使用USB连接时，USB标识设置"}},
};

TEST(CliDesktop, HelpAndVersionPrintOnStdoutInTheUsersLanguage) {
    for (const auto& c : kLanguages) {
        TempDir dir;
        for (const char* args : {"--help", "-h", "ls --help"}) {
            const CliRun r = Cli(dir, c.lang, args);
            EXPECT_EQ(r.status, 0) << c.lang << " " << args << ": " << r.err;
            EXPECT_NE(r.out.find(c.about), std::string::npos)
                << c.lang << " " << args << ": " << r.out;
            for (const char* option :
                 {"--port", "--usb", "--timeout", "--no-search", "--json", "-C DIR", "--version"})
                EXPECT_NE(r.out.find(option), std::string::npos) << option;
            EXPECT_EQ(r.err, "");
        }
        const CliRun v = Cli(dir, c.lang, "--version");
        EXPECT_EQ(v.status, 0);
        EXPECT_EQ(v.out, std::string("dorvane-cli ") + DORVANE_VERSION + "\n");
        EXPECT_FALSE(fs::exists(dir / "cfg" / "dorvane" / "Dorvane.cfg"))
            << "--help must not touch the settings";
    }
}

TEST(CliDesktop, NoHandheldSaysWhatToCheckInOrderNamingThePortsGroup) {
    for (const auto& c : kLanguages) {
        TempDir dir;
        // A port that exists but is no terminal: the open fails at once, and
        // its owner is the group the advice must name.
        std::ofstream(dir / "port") << "";
        // A group an account may join (root's is never advised; see
        // test_cli_args): dialout where it exists and the file is ours to give.
        if (const group* dialout = ::getgrnam("dialout"))
            (void)!::chown((dir / "port").c_str(), static_cast<uid_t>(-1), dialout->gr_gid);
        const std::string group = GroupOf(dir / "port");
        ASSERT_FALSE(group.empty());
        const CliRun r =
            Cli(dir, c.lang, "--port '" + (dir / "port").string() + "' --timeout 200 ls");
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(r.out, "");
        std::size_t at = r.err.find(c.heading);
        ASSERT_NE(at, std::string::npos) << c.lang << ": " << r.err;
        for (const char* item : c.items) {
            const std::size_t next = r.err.find(item, at);
            ASSERT_NE(next, std::string::npos)
                << c.lang << ": '" << item << "' missing or out of order in\n"
                << r.err;
            at = next;
        }
        EXPECT_NE(r.err.find("sudo usermod -aG " + group + " $USER"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("systemctl stop ModemManager"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("dorvane-cli --usb-id VVVV:PPPP"), std::string::npos) << r.err;
    }
}

TEST(CliDesktop, TheUsbIdInUseIsNamed) {
    TempDir dir;
    const CliRun r = Cli(dir, "C", "--usb '" + (dir / "nowhere").string() + "' --timeout 200 ls");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Now set: not set"), std::string::npos) << r.err;
    const CliRun set = Cli(dir, "C", "--timeout 200 --port '" + (dir / "none").string() + "' ls");
    EXPECT_NE(set.err.find("group \"dialout\""), std::string::npos)
        << "no port node: the usual group\n"
        << set.err;
}

class CliJson : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir_ / "dev");
        for (const auto& e :
             fs::directory_iterator(fs::path(DORVANE_SOURCE_DIR) / "sim/samples/data"))
            fs::copy_file(e.path(), dir_ / "dev" / e.path().filename());
        struct Fixed {
            const char* name;
            std::size_t size;
            long seconds;
        };
        for (const Fixed& f : {Fixed{"note.txt", 6, 1700000000L},  // 2023-11-14 22:13:20 UTC
                               Fixed{"leap.bin", 0, 951782400L},   // 2000-02-29 00:00:00 UTC
                               Fixed{"old.bin", 1, 0L}}) {         // the epoch
            std::ofstream(dir_ / "dev" / f.name) << std::string(f.size, 'x');
            const struct utimbuf t = {f.seconds, f.seconds};
            ::utime((dir_ / "dev" / f.name).c_str(), &t);
        }
        sim_ = std::make_unique<SimProcess>(dir_ / "dev", std::vector<std::string>{});
        ASSERT_TRUE(sim_->ok());
    }
    TempDir dir_;
    std::unique_ptr<SimProcess> sim_;
};

TEST_F(CliJson, LsJsonIsAnArrayOfNameSizeIsoTimeAndSeconds) {
    const CliRun r = Cli(dir_, "C", "--port " + sim_->path() + " --timeout 1000 ls --json");
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json list = nlohmann::json::parse(r.out);
    ASSERT_TRUE(list.is_array());
    std::size_t files = 0;
    for (const auto& e : fs::directory_iterator(dir_ / "dev")) files += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(list.size(), files);
    struct Want {
        const char* name;
        std::uint64_t size;
        const char* time;
        std::int64_t seconds;
    };
    const Want wants[] = {{"note.txt", 6, "2023-11-14T22:13:20Z", 1700000000},
                          {"leap.bin", 0, "2000-02-29T00:00:00Z", 951782400},
                          {"old.bin", 1, "1970-01-01T00:00:00Z", 0},
                          // the handheld's GBK name, in UTF-8
                          {"\xE6\xB5\x8B\xE8\xAF\x95\xE8\xBD\xA8\xE8\xBF\xB9.gpx", 0, nullptr, 0}};
    for (const Want& w : wants) {
        const auto it = std::find_if(list.begin(), list.end(),
                                     [&](const auto& e) { return e.at("name") == w.name; });
        ASSERT_NE(it, list.end()) << w.name << " not in " << r.out;
        ASSERT_EQ(it->size(), 4u) << it->dump();
        EXPECT_TRUE(it->at("size").is_number_unsigned());
        EXPECT_TRUE(it->at("seconds").is_number_integer());
        if (!w.time) continue;
        EXPECT_EQ(it->at("size").get<std::uint64_t>(), w.size) << w.name;
        EXPECT_EQ(it->at("time").get<std::string>(), w.time) << w.name;
        EXPECT_EQ(it->at("seconds").get<std::int64_t>(), w.seconds) << w.name;
    }
}

TEST_F(CliJson, JsonGoesWithLsOnlyAndAFailureLeavesStdoutEmpty) {
    EXPECT_EQ(Cli(dir_, "C", "--port " + sim_->path() + " get note.txt --json").status, 2);
    const CliRun r = Cli(dir_, "C", "--port /dev/nonexistent-port --timeout 200 ls --json");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "") << "a script reading stdout must not get half a listing";
}

}  // namespace
}  // namespace dorvane
