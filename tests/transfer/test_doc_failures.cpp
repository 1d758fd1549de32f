// The document's failure paths against dorvane-sim: worker exceptions, stale
// failures, names the handheld cannot hold, files too large for the protocol.

#include <gtest/gtest.h>

#include <stdexcept>

#include "doc_rig.h"
#include "i18n/string_table.h"
#include "names/encoding.h"
#include "transfer/text_format.h"

namespace dorvane {
namespace {

using namespace test;

// The document's own link with a fault: once armed, every write throws, the
// way a driver or an allocation failing inside the worker would.
class ThrowingLink final : public IDevice {
public:
    ThrowingLink(CTransport& transport, IDevice& inner) : transport_(transport), inner_(inner) {
        transport_.SetLink(this);
    }
    ~ThrowingLink() override { transport_.SetLink(&inner_); }
    std::size_t Write(const std::uint8_t* bytes, std::size_t count) override {
        if (armed) throw std::runtime_error("link write failed");
        return inner_.Write(bytes, count);
    }
    void SetReceiveCallback(ReceiveCallback callback, void* user) override {
        inner_.SetReceiveCallback(callback, user);
    }
    void StopReader() override { inner_.StopReader(); }
    void StartReader() override { inner_.StartReader(); }
    int Reopen() override { return inner_.Reopen(); }
    void Close() override { inner_.Close(); }
    LinkError LastError() const override { return inner_.LastError(); }
    bool Lost() const override { return inner_.Lost(); }
    void SetLostCallback(LostCallback callback, void* user) override {
        inner_.SetLostCallback(callback, user);
    }
    bool armed = true;

private:
    CTransport& transport_;
    IDevice& inner_;
};

TEST(DocFailures, ExceptionDuringACopyClosesTheDialogWithTheError) {
    Rig rig({});
    ASSERT_TRUE(rig.doc->Connect());
    ThrowingLink link(rig.doc->Transport(), rig.doc->Serial());
    rig.doc->ClearSelection();
    ASSERT_TRUE(rig.doc->SelectByName("F1960.BIN"));
    EXPECT_EQ(rig.doc->CopyFromDevice(false), 1);
    EXPECT_EQ(rig.doc->LastError(), transport_error::kException);
    ASSERT_FALSE(rig.fe.closes.empty());
    EXPECT_EQ(rig.fe.closes.front(),
              std::make_pair(transport_error::kException, WaitCloseKind::kFailed))
        << "the first close decides how the dialog ends";
    EXPECT_TRUE(fs::is_empty(rig.pc));
}

TEST(DocFailures, ExceptionDuringAListingDisconnects) {
    Rig rig({});
    ASSERT_TRUE(rig.doc->Connect());
    ThrowingLink link(rig.doc->Transport(), rig.doc->Serial());
    EXPECT_FALSE(rig.doc->ListDevice()) << "the refresh broke off";
    EXPECT_FALSE(rig.doc->IsConnected());
}

// A failure of a job the current command did not ask for (here: a delete run
// after Connect, whose accepted set is empty) is ignored like its data.
TEST(DocFailures, StopCallbackHonoursTheAcceptedOperations) {
    Rig rig({"--error-on", "F1.BIN:5"});
    ASSERT_TRUE(rig.doc->Connect());
    CTransport& t = rig.doc->Transport();
    t.ClearJobs();
    t.AddJob(wire::cmd::kDelete, "F1.BIN", "");
    ASSERT_TRUE(t.Start());
    ASSERT_TRUE(t.Join(5000));
    EXPECT_TRUE(fs::exists(rig.device / "F1.BIN"));
    EXPECT_EQ(rig.doc->LastError(), 0);
    EXPECT_TRUE(rig.fe.deviceErrors.empty());
    EXPECT_TRUE(rig.doc->IsConnected());
}

TEST(DocFailures, UploadNamesGoOverWholeInGbkOrAreRefused) {
    struct Row {
        const char* what;
        std::string local;       // UTF-8 name on the computer
        std::string onHandheld;  // the name the handheld stores, in UTF-8
        bool sent;
    };
    const Row rows[] = {
        {"Chinese base name and extension", "\xE6\xB5\x8B\xE8\xAF\x95.\xE6\x95\xB0\xE6\x8D\xAE",
         "\xE6\xB5\x8B\xE8\xAF\x95.\xE6\x95\xB0\xE6\x8D\xAE", true},
        {"a trailing dot stays one dot", "README.", "README.", true},
        {"a name without extension", "README", "README", true},
        {"an emoji GBK cannot hold", "\xF0\x9F\x98\x80.txt", "", false},
    };
    Rig rig({});
    ASSERT_TRUE(rig.doc->Connect());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const Bytes content = Random(300, 7);
        WriteFile(rig.pc / row.local, content);
        rig.doc->CopyToDevice({(rig.pc / row.local).string()});
        if (row.sent) {
            EXPECT_EQ(rig.doc->LastError(), 0);
            ASSERT_EQ(rig.doc->Transport().JobCount(), 1u);
            const std::string gbk = Utf8ToGbk(row.onHandheld).value_or("?");
            EXPECT_EQ(rig.doc->Transport().Jobs()[0].deviceName, gbk);
            // The emulator keeps the handheld's bytes as its file names.
            EXPECT_EQ(ReadFile(rig.device / gbk), content);
        } else {
            EXPECT_EQ(rig.doc->LastError(), transport_error::kLocalReadFailed);
            EXPECT_EQ(rig.doc->Transport().JobCount(), 0u);
            EXPECT_EQ(rig.doc->LastLocalProblem(),
                      FormatText(Text(StringId::RES_CORE2_NAME_NOT_GBK), row.local));
        }
    }
}

TEST(DocFailures, FileTooLargeForTheProtocolHasItsOwnCodeAndText) {
    Rig rig({});
    ASSERT_TRUE(rig.doc->Connect());
    const fs::path big = rig.pc / "BIG.BIN";
    WriteFile(big, {});
    fs::resize_file(
        big, static_cast<std::uintmax_t>(wire::kMaxBlockCount) * wire::kBlockSize);  // 32768 blocks
    rig.doc->CopyToDevice({big.string()});
    EXPECT_EQ(rig.doc->LastError(), kErrorFileTooLarge);
    EXPECT_NE(rig.doc->LastError(), 48) << "48 is the handheld's refusal of a GMT file";
    EXPECT_EQ(DeviceErrorText(rig.doc->LastError()), Text(StringId::RES_CORE2_FILE_TOO_LARGE));
    EXPECT_EQ(DeviceErrorText(48), Text(StringId::RES_CMAINFRAME_ERROR_DONT_SUPPORT_DOWNLOAD_GMT));
    EXPECT_FALSE(fs::exists(rig.device / "BIG.BIN"));
}

}  // namespace
}  // namespace dorvane
