// The handheld's USB id kept by `dorvane-cli --usb-id` and read by the
// document that both programs build.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <optional>

#include "common/sim_process.h"
#include "recording_front_end.h"
#include "transfer/dorvane_doc.h"
#include "transfer/usb_setting.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;

// Sets or clears an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(UsbSetting, TheDocumentUsesTheRememberedIdUnlessTheEnvironmentSetsOne) {
    struct Row {
        const char* what;
        std::optional<std::string> file;         // content of the id file (nullopt: none)
        std::optional<std::string> environment;  // DORVANE_USB_ID
        std::uint16_t vendor;
        std::uint16_t product;
    };
    const Row rows[] = {
        {"remembered id", "1a2b:3c4d\n", std::nullopt, 0x1a2b, 0x3c4d},
        {"remembered id with CR LF", "00ff:0001\r\n", std::nullopt, 0x00ff, 0x0001},
        {"the environment wins", "1a2b:3c4d\n", "dead:beef", 0xdead, 0xbeef},
        {"a malformed environment value leaves the file's", "1a2b:3c4d\n", "nonsense", 0x1a2b,
         0x3c4d},
        {"a damaged file is ignored", "zz:1\n", std::nullopt, kUsbIdUnset, kUsbIdUnset},
        {"no file", std::nullopt, std::nullopt, kUsbIdUnset, kUsbIdUnset},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        test::TempDir dir;
        const fs::path settings = dir / "cfg" / kSettingsFileName;
        fs::create_directories(settings.parent_path());
        if (row.file) std::ofstream(UsbIdPathFor(settings)) << *row.file;
        ScopedEnv id(kUsbIdVariable, row.environment);
        ScopedEnv fifo(kUsbFifoVariable, std::nullopt);
        test::RecordingFrontEnd fe;
        CDorvaneDoc::Options o;
        o.settingsPath = settings;
        o.portList = [] { return std::vector<std::string>{"ttyS0"}; };
        CDorvaneDoc doc(fe, o);
        EXPECT_EQ(doc.Usb().Config().vendorId, row.vendor);
        EXPECT_EQ(doc.Usb().Config().productId, row.product);
    }
}

TEST(UsbSetting, SavedIdReadsBack) {
    test::TempDir dir;
    const fs::path file = dir / "new-folder" / kUsbIdFileName;
    ASSERT_TRUE(SaveUsbId(file, 0x0403, 0x6001));
    const auto id = LoadUsbId(file);
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(id->vendorId, 0x0403);
    EXPECT_EQ(id->productId, 0x6001);
    EXPECT_EQ(UsbIdText(0x0403, 0x6001), "0403:6001");
    EXPECT_FALSE(SaveUsbId(fs::path("/proc/no-such-place") / kUsbIdFileName, 1, 2));
}

}  // namespace
}  // namespace dorvane
