// A download that does not fit: a size limit (RLIMIT_FSIZE, EFBIG) and a
// full disk (a 64 KiB tmpfs, mounted in a private mount namespace when the
// machine allows it). The program must live through SIGXFSZ, name the folder
// and the cause, leave nothing partial, keep the handheld's file on a move,
// and download normally once there is room again.

#include "fault_rig.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;

using test::CliRun;
using test::Entries;
using test::RandomBytes;
using test::ReadBytes;
using test::WriteBytes;

constexpr std::size_t kBigFile = 30000;
// Below the file, above the settings file the command line writes at exit.
constexpr rlim_t kFileSizeLimit = 8192;

class DiskFull : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dev_);
        fs::create_directories(out_);
        WriteBytes(dev_ / "BIG.BIN", big_);
        sim_ = std::make_unique<test::SimProcess>(dev_, std::vector<std::string>{});
        ASSERT_TRUE(sim_->ok());
    }
    std::vector<std::string> Args(const std::string& command) const {
        return {"--port", sim_->path(), "--timeout", "1500",
                command,  "BIG.BIN",    "-C",        out_.string()};
    }

    test::TempDir dir_;
    fs::path dev_ = dir_ / "dev";
    fs::path out_ = dir_ / "out";
    test::Bytes big_ = RandomBytes(kBigFile, 3);
    std::unique_ptr<test::SimProcess> sim_;
};

TEST_F(DiskFull, FileSizeLimitGivesATextWithFolderAndCauseAndTheNextDownloadWorks) {
    struct Case {
        const char* command;
    };
    for (const Case c : {Case{"get"}, Case{"mv"}}) {
        SCOPED_TRACE(c.command);
        const CliRun r = test::RunCli(dir_.path(), Args(c.command), kFileSizeLimit);
        EXPECT_EQ(r.signal, 0) << "SIGXFSZ must not kill the program";
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_NE(r.out.find("Could not save into the folder " + out_.string() +
                             ": the file is larger than the largest file size allowed"),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(r.out.find("Deleted"), std::string::npos) << r.out;
        EXPECT_TRUE(Entries(out_).empty()) << "nothing partial, hidden or not";
        EXPECT_EQ(ReadBytes(dev_ / "BIG.BIN"), big_) << "the handheld keeps its file";
    }
    const CliRun r = test::RunCli(dir_.path(), Args("get"));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(ReadBytes(out_ / "BIG.BIN"), big_);
}

// The whole scenario runs inside `unshare -m`, so the tmpfs exists only there
// and goes with it; the script prints what the test checks.
TEST_F(DiskFull, FullTmpfsGivesATextKeepsTheHandheldFileAndWorksOnceThereIsRoom) {
    const CliRun probe = test::RunProgram(
        dir_.path(), {"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/sh", "-c",
                      "mount -t tmpfs -o size=64k tmpfs '" + out_.string() + "' && umount '" +
                          out_.string() + "'"});
    if (probe.status != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root or CAP_SYS_ADMIN): " << probe.out;

    const std::string cli =
        "'" + test::CliProgram() + "' --port '" + sim_->path() + "' --timeout 1500 ";
    const std::string out = "'" + out_.string() + "'";
    const std::string script =
        "mount -t tmpfs -o size=64k tmpfs " + out +
        " || exit 9\n"
        "dd if=/dev/zero of=" +
        out + "/filler bs=1024 count=40 2>/dev/null\n" + cli + "get BIG.BIN -C " + out +
        "; echo \"rc-get=$?\"\n" + cli + "mv BIG.BIN -C " + out +
        "; echo \"rc-mv=$?\"\n"
        "echo \"entries=$(ls -A " +
        out +
        " | tr '\\n' ' ')\"\n"
        "rm " +
        out + "/filler\n" + cli + "get BIG.BIN -C " + out +
        "; echo \"rc-room=$?\"\n"
        "cmp -s " +
        out + "/BIG.BIN '" + (dev_ / "BIG.BIN").string() + "' && echo same\n";
    const CliRun r = test::RunProgram(dir_.path(), {"/usr/bin/unshare", "-m", "--propagation",
                                                    "private", "/bin/sh", "-c", script});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Could not save into the folder " + out_.string() + ": the disk is full"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("rc-get=1"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("rc-mv=1"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("entries=filler \n"), std::string::npos) << "nothing partial: " << r.out;
    EXPECT_EQ(r.out.find("Deleted"), std::string::npos) << r.out;
    EXPECT_EQ(ReadBytes(dev_ / "BIG.BIN"), big_) << "the move kept the handheld's file";
    EXPECT_NE(r.out.find("rc-room=0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("same\n"), std::string::npos) << r.out;
    EXPECT_TRUE(Entries(out_).empty()) << "the tmpfs went with its namespace";
}

}  // namespace
}  // namespace dorvane
