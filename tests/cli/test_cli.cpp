// dorvane-cli as a user runs it, against dorvane-sim over a pty.

#include <sys/wait.h>
#include <utime.h>

#include <gtest/gtest.h>

#include <array>
#include <fstream>

#include "common/sim_process.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;
using test::SimProcess;
using test::TempDir;

struct CliRun {
    int status = -1;
    std::string out;  // stdout and stderr together
};

// Runs the CLI in English, UTC, with its own settings folder.
CliRun Cli(const TempDir& dir, const std::string& args) {
    const std::string cmd = "cd '" + dir.path().string() + "' && LANG=C LC_ALL=C TZ=UTC XDG_CONFIG_HOME='" +
                            (dir / "cfg").string() + "' '" + DORVANE_BINARY_DIR + "/bin/dorvane-cli' " + args + " 2>&1";
    CliRun r;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir_ / "dev");
        fs::create_directories(dir_ / "out");
        for (const auto& e : fs::directory_iterator(fs::path(DORVANE_SOURCE_DIR) / "sim/samples/data"))
            fs::copy_file(e.path(), dir_ / "dev" / e.path().filename());
        std::ofstream(dir_ / "dev" / "note.txt") << "hello\n";
        const struct utimbuf t = {1700000000, 1700000000};  // 2023-11-14 22:13:20 UTC
        ::utime((dir_ / "dev" / "note.txt").c_str(), &t);
        sim_ = std::make_unique<SimProcess>(dir_ / "dev", std::vector<std::string>{});
        ASSERT_TRUE(sim_->ok());
        port_ = "--port " + sim_->path() + " --timeout 1000 ";
    }
    TempDir dir_;
    std::unique_ptr<SimProcess> sim_;
    std::string port_;
};

TEST_F(CliTest, LsPrintsNameSizeAndLocalTime) {
    const CliRun r = Cli(dir_, port_ + "ls");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("note.txt\t6\t2023-11-14 22:13\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\xE6\xB5\x8B\xE8\xAF\x95\xE8\xBD\xA8\xE8\xBF\xB9.gpx\t"), std::string::npos)
        << "the GBK name in UTF-8: " << r.out;
    EXPECT_NE(r.out.find("N070101.gmt\t"), std::string::npos);
}

TEST_F(CliTest, GetCopiesAndReportsMissingNames) {
    CliRun r = Cli(dir_, port_ + "get note.txt size_1960.bin -C out");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(Slurp(dir_ / "out" / "note.txt"), "hello\n");
    EXPECT_EQ(Slurp(dir_ / "out" / "size_1960.bin"), Slurp(dir_ / "dev" / "size_1960.bin"));
    EXPECT_NE(r.out.find("out/note.txt"), std::string::npos) << r.out;
    r = Cli(dir_, port_ + "get nothing.txt -C out");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("nothing.txt"), std::string::npos) << r.out;
}

TEST_F(CliTest, MoveWithConversionWritesGpxAndBakAndDeletes) {
    const CliRun r = Cli(dir_, port_ + "mv T0602_few.gpx -C out --model 701");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(fs::exists(dir_ / "out" / "T0602_few.gpx"));
    EXPECT_TRUE(fs::exists(dir_ / "out" / "T0602_few.bak"));
    EXPECT_NE(Slurp(dir_ / "out" / "T0602_few.gpx").find("<gpx"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir_ / "dev" / "T0602_few.gpx"));
}

TEST_F(CliTest, RmPutAndTheirFailures) {
    CliRun r = Cli(dir_, port_ + "rm note.txt");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(fs::exists(dir_ / "dev" / "note.txt"));
    std::ofstream(dir_ / "up.txt") << "up";
    r = Cli(dir_, port_ + "put up.txt");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(Slurp(dir_ / "dev" / "up.txt"), "up");
    r = Cli(dir_, port_ + "put missing.txt");
    EXPECT_EQ(r.status, 1) << r.out;
    r = Cli(dir_, port_ + "put out");  // a folder
    EXPECT_EQ(r.status, 1) << r.out;
}

TEST_F(CliTest, NoHandheldAndBadUsage) {
    CliRun r = Cli(dir_, "--port /dev/nonexistent-port --timeout 200 ls");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("No"), std::string::npos) << r.out;
    r = Cli(dir_, "frobnicate");
    EXPECT_EQ(r.status, 2);
    r = Cli(dir_, "");
    EXPECT_EQ(r.status, 2);
}

TEST_F(CliTest, ConvertTellsTheKindByContent) {
    fs::copy_file(dir_ / "dev" / "T0602_few.gpx", dir_ / "T0602.bak");
    CliRun r = Cli(dir_, "convert T0602.bak dev/A0602_vertex.txt -C out");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(fs::exists(dir_ / "out" / "T0602.gpx"));
    EXPECT_TRUE(fs::exists(dir_ / "out" / "A0602_vertex.kml"));
    r = Cli(dir_, "convert dev/dollars.bin -C out");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_FALSE(fs::exists(dir_ / "out" / "dollars.kml"));
}

}  // namespace
}  // namespace dorvane
