// The document core against dorvane-sim over a pty and over the FIFO folder.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <random>

#include "doc_rig.h"
#include "i18n/string_table.h"
#include "names/encoding.h"
#include "recording_front_end.h"
#include "transfer/dorvane_doc.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;
using namespace test;

class DocOverLink : public ::testing::TestWithParam<bool> {};

TEST_P(DocOverLink, ConnectListsEveryFileWithGbkNamesShownInUtf8) {
    Rig rig({}, GetParam());
    ASSERT_TRUE(rig.sim->ok());
    ASSERT_TRUE(rig.doc->Connect());
    const auto files = rig.doc->DeviceFiles();
    EXPECT_EQ(files.size(), SampleFiles().size());
    bool gbk = false, gmt = false;
    for (const auto& e : files) {
        if (e.name == kGbkName) {
            gbk = true;
            EXPECT_EQ(GbkToUtf8Lossy(e.name), kUtf8Name);
            EXPECT_EQ(e.size, 100u);
        }
        gmt = gmt || e.name == "N070101.gmt";
    }
    EXPECT_TRUE(gbk);
    EXPECT_TRUE(gmt) << "the .gmt entries are listed; hiding them is the pane's rule";
}

TEST_P(DocOverLink, GetOfEveryFileIsByteIdentical) {
    Rig rig({}, GetParam());
    ASSERT_TRUE(rig.doc->Connect());
    rig.SelectAll(true);
    EXPECT_EQ(rig.doc->CopyFromDevice(false), 1);
    EXPECT_EQ(rig.doc->LastError(), 0);
    for (const auto& [name, bytes] : SampleFiles()) {
        const fs::path local = rig.pc / GbkToUtf8Lossy(name);
        ASSERT_TRUE(fs::exists(local)) << local;
        EXPECT_EQ(ReadFile(local), bytes) << name;
    }
    EXPECT_TRUE(rig.doc->NoneSelected());
    ASSERT_FALSE(rig.fe.closes.empty());
    EXPECT_EQ(rig.fe.closes.front().second, WaitCloseKind::kFinished);
}

TEST_P(DocOverLink, GetOfEveryShippedSampleIsByteIdentical) {
    std::map<std::string, Bytes> samples;
    for (const auto& e : fs::directory_iterator(fs::path(DORVANE_SOURCE_DIR) / "sim/samples/data"))
        samples[e.path().filename().string()] = ReadFile(e.path());
    ASSERT_GE(samples.size(), 10u);
    Rig rig({}, GetParam(), samples);
    ASSERT_TRUE(rig.doc->Connect());
    rig.SelectAll(true);
    rig.doc->CopyFromDevice(false);
    EXPECT_EQ(rig.doc->LastError(), 0);
    for (const auto& [name, bytes] : samples)
        EXPECT_EQ(ReadFile(rig.pc / GbkToUtf8Lossy(name)), bytes) << name;
}

INSTANTIATE_TEST_SUITE_P(PtyAndFifo, DocOverLink, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Usb" : "Serial"; });

TEST(DocE2E, MoveOfThreeFilesAlternatesFetchAndDelete) {
    Rig rig({});
    ASSERT_TRUE(rig.doc->Connect());
    rig.doc->ClearSelection();
    for (const char* n : {"F1.BIN", "F1960.BIN", "DOLLARS.BIN"})
        ASSERT_TRUE(rig.doc->SelectByName(n));
    EXPECT_EQ(rig.doc->CopyFromDevice(true), 1);
    const auto& jobs = rig.doc->Transport().Jobs();
    ASSERT_EQ(jobs.size(), 6u);
    for (std::size_t i = 0; i < jobs.size(); ++i) EXPECT_EQ(jobs[i].code, i % 2 ? 115 : 55);
    for (const char* n : {"F1.BIN", "F1960.BIN", "DOLLARS.BIN"}) {
        EXPECT_EQ(ReadFile(rig.pc / n), SampleFiles()[n]);
        EXPECT_FALSE(fs::exists(rig.device / n)) << n;
        EXPECT_FALSE(rig.doc->SelectByName(n)) << "gone from the list";
    }
}

TEST(DocE2E, MoveKeepsTheFileOnTheHandheldWhenTheLocalCopyFails) {
    Rig rig({});
    ASSERT_TRUE(rig.doc->Connect());
    rig.doc->SetComputerFolder((rig.dir / "no-such-folder").string());
    rig.doc->ClearSelection();
    ASSERT_TRUE(rig.doc->SelectByName("F1.BIN"));
    rig.doc->CopyFromDevice(true);
    EXPECT_EQ(rig.doc->LastError(), transport_error::kLocalWriteFailed);
    EXPECT_TRUE(fs::exists(rig.device / "F1.BIN"));
}

TEST(DocE2E, CopyStoresIntoTheFolderItStartedWith) {
    // The computer pane may go to another folder while the dialog shows (a
    // relist, a drive change): the files go where the user dropped them.
    Rig rig({});
    ASSERT_TRUE(rig.doc->Connect());
    const fs::path elsewhere = rig.dir / "elsewhere";
    fs::create_directories(elsewhere);
    rig.fe.whileDialogRuns = [&] { rig.doc->SetComputerFolder(elsewhere.string()); };
    rig.doc->ClearSelection();
    for (const char* n : {"F1.BIN", "F70000.BIN"}) ASSERT_TRUE(rig.doc->SelectByName(n));
    EXPECT_EQ(rig.doc->CopyFromDevice(false), 1);
    for (const char* n : {"F1.BIN", "F70000.BIN"}) {
        EXPECT_EQ(ReadFile(rig.pc / n), SampleFiles()[n]) << n;
        EXPECT_FALSE(fs::exists(elsewhere / n)) << n;
    }
}

TEST(DocE2E, DeleteWhereTheSecondFails) {
    Rig rig({"--error-on", "F1.BIN:5"});
    ASSERT_TRUE(rig.doc->Connect());
    rig.doc->ClearSelection();
    rig.doc->SelectByName("F0.BIN");
    rig.doc->SelectByName("F1.BIN");
    rig.doc->DeleteSelected();
    EXPECT_FALSE(fs::exists(rig.device / "F0.BIN"));
    EXPECT_TRUE(fs::exists(rig.device / "F1.BIN"));
    EXPECT_EQ(rig.fe.deviceErrors, std::vector<int>{5});
    EXPECT_FALSE(rig.doc->IsSelected("F1.BIN"));
    EXPECT_TRUE(rig.doc->SelectByName("F1.BIN")) << "still listed";
    EXPECT_FALSE(rig.doc->SelectByName("F0.BIN"));
    EXPECT_EQ(DeviceErrorText(5), Text(StringId::RES_GLOBAL_STRING_RES_ERR_MSG_WPTISFULL));
}

TEST(DocE2E, PutOfAFileAMissingFileAndAFolder) {
    Rig rig({});
    ASSERT_TRUE(rig.doc->Connect());
    const Bytes content = Random(4500, 3);
    WriteFile(rig.pc / "up.txt", content);
    rig.doc->CopyToDevice(
        {(rig.pc / "up.txt").string(), (rig.pc / "missing.txt").string(), rig.pc.string()});
    EXPECT_EQ(rig.doc->Transport().JobCount(), 1u);
    EXPECT_EQ(rig.doc->Transport().Jobs()[0].deviceName, "up.txt");
    EXPECT_EQ(ReadFile(rig.device / "up.txt"), content);
    EXPECT_EQ(rig.doc->LastError(), 0);
    // Only paths that name no file: a worker with an empty queue, and no dialog.
    rig.doc->CopyToDevice({(rig.pc / "missing.txt").string()});
    EXPECT_EQ(rig.doc->Transport().JobCount(), 0u);
    EXPECT_EQ(rig.fe.dialogsRun, 1);
}

TEST(DocE2E, GmtUploadRefusedShowsTheText) {
    Rig rig({"--refuse-gmt"});
    ASSERT_TRUE(rig.doc->Connect());
    WriteFile(rig.pc / "X070101.gmt", Bytes(10, 1));
    rig.doc->CopyToDevice({(rig.pc / "X070101.gmt").string()});
    EXPECT_EQ(rig.doc->LastError(), 48);
    EXPECT_EQ(DeviceErrorText(48), Text(StringId::RES_CMAINFRAME_ERROR_DONT_SUPPORT_DOWNLOAD_GMT));
    EXPECT_FALSE(fs::exists(rig.device / "X070101.gmt"));
}

TEST(DocE2E, SilentHandheldTimesOutWithinFourTimeoutsAndLeavesNoFile) {
    Rig rig({"--silent-after", "3"});  // answers the handshake and the listing, then nothing
    ASSERT_TRUE(rig.doc->Connect());
    rig.doc->ClearSelection();
    rig.doc->SelectByName("F70000.BIN");
    const auto t0 = std::chrono::steady_clock::now();
    rig.doc->CopyFromDevice(false);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    EXPECT_EQ(rig.doc->LastError(), transport_error::kTimeout);
    EXPECT_LE(ms, 4 * kTimeoutMs + 1500);
    EXPECT_TRUE(fs::is_empty(rig.pc));
}

TEST(DocE2E, ListingThatNeverComesEndsByTheListingWait) {
    Rig rig({"--delay-ms", "5000"});
    rig.doc = nullptr;
    CDorvaneDoc::Options o;
    o.persistSettings = false;
    const std::string port = rig.sim->path();
    o.portList = [port] { return std::vector<std::string>{port}; };
    o.listingTimeoutMs = 10000;
    o.listingWaitMs = 700;
    CDorvaneDoc doc(rig.fe, o);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(doc.Connect());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(4));
    ASSERT_FALSE(rig.fe.shownErrors.empty());
    EXPECT_NE(rig.fe.shownErrors.back().find(Text(StringId::RES_CDORVANEDOC_MESSAGE02)),
              std::string::npos);
}

TEST(DocE2E, CancelStopsTheTransferAndLeavesNoPartialFile) {
    std::map<std::string, Bytes> files = {{"BIG.BIN", Random(300000, 8)}};
    Rig rig({"--baud", "460800"}, false, files);
    ASSERT_TRUE(rig.doc->Connect());
    rig.doc->ClearSelection();
    rig.doc->SelectByName("BIG.BIN");
    rig.fe.cancelAt = 0.2;
    rig.doc->CopyFromDevice(false);
    EXPECT_EQ(rig.doc->LastError(), doc_error::kCancelled);
    EXPECT_TRUE(fs::is_empty(rig.pc));
    EXPECT_FALSE(rig.doc->Transport().IsRunning());
}

// At a real line rate a block frame arrives over many reads; that must not
// look like a stream that never forms a frame.
TEST(DocE2E, ThrottledTo115200BaudTransfersWithoutTrippingTheNoFrameRule) {
    std::map<std::string, Bytes> files = {{"LINE.BIN", Random(25000, 9)}};
    Rig rig({"--baud", "115200"}, false, files);
    ASSERT_TRUE(rig.doc->Connect());
    rig.doc->ClearSelection();
    rig.doc->SelectByName("LINE.BIN");
    rig.doc->CopyFromDevice(false);
    EXPECT_EQ(rig.doc->LastError(), 0);
    EXPECT_EQ(ReadFile(rig.pc / "LINE.BIN"), files["LINE.BIN"]);
}

// Under injected faults every received file is byte-identical or the
// transfer was reported failed; never a corrupt or partial file on disk.
TEST(DocE2E, FaultsNeverLeaveACorruptOrPartialFile) {
    for (const char* seed : {"11", "12", "13"}) {
        Rig rig({"--seed", seed, "--drop", "0.04", "--corrupt", "0.04", "--duplicate", "0.03",
                 "--garbage", "0.04"});
        // The listing itself may be hit: try a few times.
        bool connected = false;
        for (int i = 0; i < 5 && !connected; ++i) connected = rig.doc->Connect();
        ASSERT_TRUE(connected) << seed;
        rig.SelectAll();
        rig.doc->CopyFromDevice(false);
        const auto sources = SampleFiles();
        int identical = 0;
        for (const auto& entry : fs::directory_iterator(rig.pc)) {
            const std::string local = entry.path().filename().string();
            const auto src = std::find_if(sources.begin(), sources.end(), [&](const auto& kv) {
                return GbkToUtf8Lossy(kv.first) == local;
            });
            ASSERT_NE(src, sources.end()) << "unexpected file " << local;
            EXPECT_EQ(ReadFile(entry.path()), src->second) << "seed " << seed << " " << local;
            ++identical;
        }
        const bool allCopied = identical == static_cast<int>(sources.size()) - 2;
        EXPECT_TRUE(allCopied || rig.doc->LastError() != 0)
            << "a missing file is reported, seed " << seed;
    }
}

// A pty nobody answers.
class SilentPty {
public:
    SilentPty() {
        fd_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (fd_ >= 0 && grantpt(fd_) == 0 && unlockpt(fd_) == 0) path_ = ptsname(fd_);
    }
    ~SilentPty() {
        if (fd_ >= 0) ::close(fd_);
    }
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

TEST(DocE2E, SearchTriesTheRememberedPortTwiceThenEveryPort) {
    TempDir dir;
    fs::create_directories(dir / "dev");
    WriteFile(dir / "dev" / "A.TXT", Bytes(10, 1));
    SilentPty silentA, silentB;
    SimProcess sim(dir / "dev", {});
    ASSERT_TRUE(sim.ok());
    const std::vector<std::string> ports = {silentA.path(), sim.path(), silentB.path()};
    // Remember the silent port A.
    const fs::path cfg = dir / "Dorvane.cfg";
    ASSERT_TRUE(SaveSettingsFile(cfg, {silentA.path(), 115200, "", LinkType::kSerial}));
    RecordingFrontEnd fe;
    CDorvaneDoc::Options o;
    o.settingsPath = cfg;
    o.portList = [ports] { return ports; };
    o.listingTimeoutMs = 200;
    {
        CDorvaneDoc doc(fe, o);
        ASSERT_TRUE(doc.Connect());
        EXPECT_EQ(doc.Settings().portName, sim.path());
    }
    ASSERT_EQ(fe.statusMessages.size(), 3u);
    EXPECT_NE(fe.statusMessages[0].find(silentA.path()), std::string::npos);
    EXPECT_NE(fe.statusMessages[1].find(silentA.path()), std::string::npos);
    EXPECT_NE(fe.statusMessages[2].find(sim.path()), std::string::npos);
    // The port that answered is remembered.
    EXPECT_EQ(LoadSettingsFile(cfg, ports).portName, sim.path());
}

}  // namespace
}  // namespace dorvane
