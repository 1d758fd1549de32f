// The book on a disk that fills up: a small tmpfs mounted for the test (we
// run as root in CI; elsewhere the test is skipped). Files are added until a
// write fails; the failure names the book and the cause, and the book opens
// again, passes SQLite's integrity check and holds every job it said it
// added, whole, and none of the one that failed.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "book/gpkg_store.h"
#include "book/job_source.h"
#include "book_fixture.h"

namespace dorvane::book {
namespace {

namespace fs = std::filesystem;
using dorvane::testing::SquareField;
using dorvane::testing::TempFolder;
using dorvane::testing::WriteText;

/// The small disk: 256 KB, about an empty book (216 KB) and the WAL's
/// shared memory file (32 KB) - no job fits - and that much more than the
/// empty book, where some jobs fit before the disk is full.
constexpr std::uintmax_t kSmallDiskBytes = 256 * 1024;
/// Calls tried before the disk must be full (each job takes pages of its
/// layer, its indexes and its R-tree: the space runs out long before).
constexpr int kMaxFiles = 400;

// The tmpfs, unmounted when the test ends whatever happens.
class SmallDisk {
public:
    SmallDisk(const fs::path& at, std::uintmax_t bytes) : at_(at) {
        fs::create_directories(at_);
        const std::string options = "size=" + std::to_string(bytes);
        if (::mount("tmpfs", at_.c_str(), "tmpfs", 0, options.c_str()) == 0)
            mounted_ = true;
        else
            why_ = std::strerror(errno);
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool Mounted() const { return mounted_; }
    const std::string& Why() const { return why_; }

private:
    fs::path at_;
    bool mounted_ = false;
    std::string why_;
};

TEST(BookDisk, AFullDiskLeavesEveryJobWholeOrAbsent) {
    TempFolder dir;
    // The book is made elsewhere and copied onto the small disk.
    const fs::path made = dir / "made.gpkg";
    {
        std::unique_ptr<BookStore> fresh;
        ASSERT_TRUE(OpenGpkgBook(made, {}, fresh).ok());
    }
    fs::create_directories(dir / "files");
    struct Case {
        const char* name;
        std::uintmax_t bytes;
        bool someFit;
    };
    const Case cases[] = {{"256 KB", kSmallDiskBytes, false},
                          {"the book and 256 KB", fs::file_size(made) + kSmallDiskBytes, true}};
    int file = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmallDisk disk(dir / c.name, c.bytes);
        if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << disk.Why();
        const fs::path path = dir / c.name / "book.gpkg";
        fs::copy_file(made, path);
        std::map<JobId, std::string> added;  // job -> the bytes it was added with
        BookStatus failure;
        {
            std::unique_ptr<BookStore> book;
            const BookStatus opened = OpenGpkgBook(path, {}, book);
            ASSERT_TRUE(opened.ok()) << opened.message;
            for (int i = 0; i < kMaxFiles && failure.ok(); ++i, ++file) {
                // Two files a call: a call that fails leaves both out.
                std::vector<Measurement> ms;
                std::vector<std::string> bytes;
                for (int k = 0; k < 2; ++k) {
                    const fs::path f = dir / "files" / ("F" + std::to_string(file) + "_" + std::to_string(k) + ".txt");
                    bytes.push_back(WriteArea(
                        SquareField(100.0f + 0.01f * static_cast<float>(file), 30.0f + 0.01f * static_cast<float>(k), 0.001f)));
                    WriteText(f, bytes.back());
                    ms.emplace_back();
                    ASSERT_TRUE(ReadMeasurement(f, ms.back()).ok());
                }
                std::vector<AddOutcome> outcomes;
                failure = book->AddJobs(ms, {}, outcomes);
                if (!failure.ok()) break;
                ASSERT_EQ(outcomes.size(), 2u);
                for (int k = 0; k < 2; ++k) {
                    ASSERT_TRUE(outcomes[k].added);
                    added[outcomes[k].id] = bytes[k];
                }
            }
        }
        ASSERT_FALSE(failure.ok()) << "the disk never filled";
        EXPECT_EQ(failure.error, BookError::kDiskFull) << failure.message;
        EXPECT_NE(failure.message.find(path.string()), std::string::npos) << failure.message;
        EXPECT_EQ(!added.empty(), c.someFit) << added.size();

        std::unique_ptr<BookStore> again;
        const BookStatus reopened = OpenGpkgBook(path, {}, again);
        ASSERT_TRUE(reopened.ok()) << reopened.message;
        std::string report;
        ASSERT_TRUE(again->CheckIntegrity(report).ok());
        EXPECT_EQ(report, "ok");
        std::vector<Job> jobs;
        ASSERT_TRUE(again->ListJobs({}, jobs).ok());
        ASSERT_EQ(jobs.size(), added.size());
        for (const Job& j : jobs) {
            SCOPED_TRACE(j.id);
            ASSERT_TRUE(added.count(j.id));
            std::vector<std::uint8_t> bytes;
            std::string source;
            ASSERT_TRUE(again->GetJobSource(j.id, bytes, source).ok());
            EXPECT_EQ(std::string(bytes.begin(), bytes.end()), added[j.id]);
            EXPECT_GT(j.wgs84Area_m2, 0);
        }
    }
}

}  // namespace
}  // namespace dorvane::book
