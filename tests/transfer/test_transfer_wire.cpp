// The document and its worker against dorvane-sim, as the handheld on the
// wire drives them: what the progress dialog is handed per block, how the
// port search sets the retry limit and which hints it posts, how a run starts
// listening, and what a downloaded area file of the converting model becomes.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>

#include "common/zone_guard.h"
#include "convert/area_file.h"
#include "convert/download.h"
#include "convert/kml_writer.h"
#include "doc_rig.h"
#include "protocol/frame.h"

namespace dorvane {
namespace {

using namespace test;
using Clock = std::chrono::steady_clock;
using namespace wire;

// ---- Progress --------------------------------------------------------------

// Every block that arrives hands the dialog the file's total size, its name
// as the user reads it, and the blocks received so far of the file's block
// count (size / 1960 + 1).
TEST(WireProgress, EachBlockHandsTheDialogTotalNameAndBlocksDone) {
    struct Row {
        std::string deviceName;
        std::size_t size;
        std::string shownName;
        std::uint32_t blocks;
    };
    const Row rows[] = {
        {"F0.BIN", 0, "F0.BIN", 1},
        {"F1960.BIN", 1960, "F1960.BIN", 2},
        {"F3921.BIN", 3921, "F3921.BIN", 3},
        {kGbkName, 100, kUtf8Name, 1},
        {"F70000.BIN", 70000, "F70000.BIN", 36},
    };
    Rig rig({});
    ASSERT_TRUE(rig.doc->Connect());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.shownName);
        rig.fe.progress.clear();
        rig.doc->ClearSelection();
        ASSERT_TRUE(rig.doc->SelectByName(row.deviceName));
        ASSERT_EQ(rig.doc->CopyFromDevice(false), 1);
        ASSERT_EQ(rig.doc->LastError(), 0);
        ASSERT_EQ(rig.fe.progress.size(), row.blocks);
        for (std::uint32_t i = 0; i < row.blocks; ++i) {
            const ProgressInfo& p = rig.fe.progress[i];
            EXPECT_EQ(p.totalSize, row.size) << i;
            EXPECT_EQ(p.name, row.shownName) << i;
            EXPECT_EQ(p.reserved, 0u) << i;
            EXPECT_DOUBLE_EQ(p.fraction, static_cast<double>(i + 1) / row.blocks) << i;
        }
    }
}

// ---- Port search -------------------------------------------------------------

/// Records, with every hint, the retry limit the worker had at that moment.
class SearchFrontEnd : public RecordingFrontEnd {
public:
    CDorvaneDoc* doc = nullptr;
    std::vector<int> retriesAtHint;
    void RelayToPanes(std::uint32_t h) override {
        RecordingFrontEnd::RelayToPanes(h);
        std::lock_guard lock(m_);
        retriesAtHint.push_back(doc ? doc->Transport().GetRetries() : -1);
    }

private:
    std::mutex m_;
};

std::size_t CountLines(const fs::path& file, const std::string& prefix) {
    std::ifstream in(file);
    std::size_t n = 0;
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0) ++n;
    return n;
}

TEST(WirePortSearch, RetryLimitIsOneDuringTheSearchAndThreeAfterItWithHintsInOrder) {
    constexpr std::uint32_t kBusy = hint::kShowBusy;
    constexpr std::uint32_t kListed = hint::kHideBusy | hint::kDeviceList;
    constexpr std::uint32_t kEnd = hint::kHideBusy | hint::kLinkState | hint::kDeviceList;
    struct Row {
        const char* what;
        std::vector<std::string> simArgs;
        bool portOpens;
        bool connects;
        std::vector<std::uint32_t> hints;
        std::size_t handshakes;  ///< 255 frames the handheld saw
        std::size_t listings;    ///< 113 frames the handheld saw
    };
    const Row rows[] = {
        {"answers at once on the remembered port", {}, true, true, {kBusy, kListed, kEnd}, 1, 1},
        // Tried before the loop and again when the loop reaches it; each try
        // sends its unanswered handshake twice (retry limit 1), never four times.
        {"silent handheld",
         {"--silent-after", "0"},
         true,
         false,
         {kBusy, kListed, kBusy, kListed, kEnd},
         4,
         0},
        {"no port opens", {}, false, false, {kEnd}, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        fs::create_directories(dir / "handheld");
        WriteFile(dir / "handheld" / "A.TXT", Bytes(10, 'a'));
        std::vector<std::string> args = row.simArgs;
        args.insert(args.end(), {"--trace", (dir / "trace.txt").string()});
        SimProcess sim(dir / "handheld", args);
        ASSERT_TRUE(sim.ok());
        SearchFrontEnd fe;
        CDorvaneDoc::Options o;
        o.persistSettings = false;
        const std::string port = row.portOpens ? sim.path() : (dir / "no-such-port").string();
        o.portList = [port] { return std::vector<std::string>{port}; };
        o.listingTimeoutMs = kTimeoutMs;
        CDorvaneDoc doc(fe, o);
        fe.doc = &doc;
        ASSERT_EQ(doc.Transport().GetRetries(), CTransport::kDefaultRetries);
        EXPECT_EQ(doc.Connect(), row.connects);
        EXPECT_EQ(fe.hints, row.hints);
        EXPECT_EQ(fe.retriesAtHint, std::vector<int>(row.hints.size(), 1));
        EXPECT_EQ(doc.Transport().GetRetries(), CTransport::kDefaultRetries);
        sim.Stop();  // the trace is complete once the emulator has ended
        EXPECT_EQ(CountLines(dir / "trace.txt", "in  cmd=255 "), row.handshakes);
        EXPECT_EQ(CountLines(dir / "trace.txt", "in  cmd=113 "), row.listings);
    }
}

// ---- Run start -----------------------------------------------------------------

/// The document's serial link with every call of the worker recorded, and the
/// bytes it delivers to the worker kept.
class WatchedLink final : public IDevice {
public:
    struct Event {
        std::string what;
        Clock::time_point at;
    };
    WatchedLink(CTransport& transport, CSerial& inner) : transport_(transport), inner_(inner) {
        transport_.SetLink(this);
    }
    ~WatchedLink() override { transport_.SetLink(&inner_); }

    std::size_t Write(const std::uint8_t* bytes, std::size_t count) override {
        Add("write " + std::to_string(count > 8 ? bytes[8] : 0));
        return inner_.Write(bytes, count);
    }
    void SetReceiveCallback(ReceiveCallback callback, void* user) override {
        Add(callback ? "listen" : "deaf");
        {
            std::lock_guard lock(m_);
            callback_ = callback;
            user_ = user;
        }
        if (callback)
            inner_.SetReceiveCallback(&WatchedLink::Relay, this);
        else
            inner_.SetReceiveCallback(nullptr, nullptr);
    }
    void StopReader() override {
        Add("stop reader");
        inner_.StopReader();
    }
    void StartReader() override {
        Add("start reader");
        inner_.StartReader();
    }
    int Reopen() override {
        Add("reopen");
        return inner_.Reopen();
    }
    void Close() override { inner_.Close(); }
    LinkError LastError() const override { return inner_.LastError(); }
    bool Lost() const override { return inner_.Lost(); }
    void SetLostCallback(LostCallback callback, void* user) override {
        inner_.SetLostCallback(callback, user);
    }

    std::vector<Event> Events() {
        std::lock_guard lock(m_);
        return events_;
    }
    Bytes Delivered() {
        std::lock_guard lock(m_);
        return delivered_;
    }

private:
    void Add(std::string what) {
        std::lock_guard lock(m_);
        events_.push_back({std::move(what), Clock::now()});
    }
    static int Relay(void* self, const std::uint8_t* bytes, std::size_t count) {
        auto* w = static_cast<WatchedLink*>(self);
        ReceiveCallback cb = nullptr;
        void* user = nullptr;
        {
            std::lock_guard lock(w->m_);
            w->delivered_.insert(w->delivered_.end(), bytes, bytes + count);
            cb = w->callback_;
            user = w->user_;
        }
        return cb ? cb(user, bytes, count) : 0;
    }

    CTransport& transport_;
    CSerial& inner_;
    std::mutex m_;
    std::vector<Event> events_;
    Bytes delivered_;
    ReceiveCallback callback_ = nullptr;
    void* user_ = nullptr;
};

std::vector<std::uint8_t> FrameCommands(Bytes stream) {
    std::vector<std::uint8_t> out;
    std::vector<std::uint8_t> frame;
    std::size_t fill = stream.size();
    CFrameDecoder dec;
    while (CutFrame(stream.data(), fill, frame) == CutResult::kFrame) {
        DecodedFrame f;
        if (dec.Decode(frame, f) == FrameError::kNone) out.push_back(f.command);
    }
    return out;
}

// A run opens the port afresh (which flushes what was waiting on the line:
// see test_link_lines), starts its reader, waits 100 ms, only then takes
// bytes, and only then greets the handheld, so the first answer it can hear
// is the one to its own handshake.
TEST(WireRunStart, ReaderFirstThenAPauseThenListeningThenTheHandshake) {
    Rig rig({});
    ASSERT_TRUE(rig.doc->Connect());
    WatchedLink link(rig.doc->Transport(), rig.doc->Serial());
    ASSERT_TRUE(rig.doc->ListDevice());
    const std::vector<std::uint8_t> heard = FrameCommands(link.Delivered());
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.front(), cmd::kAck) << "the handshake's answer comes first";
    const auto events = link.Events();
    std::vector<std::string> order;
    for (const auto& e : events) order.push_back(e.what);
    ASSERT_GE(order.size(), 5u);
    const std::vector<std::string> start(order.begin(), order.begin() + 5);
    EXPECT_EQ(start, (std::vector<std::string>{"reopen", "start reader", "listen",
                                               "write " + std::to_string(cmd::kHandshake),
                                               "write " + std::to_string(cmd::kList)}));
    const auto settle = events[2].at - events[1].at;
    EXPECT_GE(settle, std::chrono::milliseconds(100));
    EXPECT_LT(settle, std::chrono::milliseconds(1000));
}

// ---- Downloaded area files (converting model) -----------------------------------

using test::ZoneGuard;

std::map<std::string, std::string> Entries(const std::string& kml) {
    static const std::regex re("<Data name=\"([^\"]*)\">\r?\n\t\t\t\t<value>([^<]*)</value>");
    std::map<std::string, std::string> out;
    for (auto it = std::sregex_iterator(kml.begin(), kml.end(), re); it != std::sregex_iterator();
         ++it)
        out[(*it)[1]] = (*it)[2];
    return out;
}

AreaPoint At(float lon, float lat) {
    AreaPoint p;
    p.longitude = lon;
    p.latitude = lat;
    return p;
}

std::string Fixed(const char* format, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

// Metres along the equator between two longitudes, by the handheld's own
// figures: 3437.74677078 nautical miles of 1852 m per radian.
double EquatorMetres(float lon1, float lon2) {
    const double radians = std::fabs(static_cast<double>(lon2) - lon1) * 0.01745329252;
    return radians * 3437.74677078 * 1852.0;
}

Bytes AsBytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

TEST(WireAreaDownload, TwoPointFieldsAndCollectionTimeZero) {
    ZoneGuard utc("UTC");
    constexpr float kLon = 0.0009f;  // about 100 m east of the first point
    const double length = EquatorMetres(0.0f, kLon);
    const std::string lengthText = Fixed("%.2f m", length);
    struct Row {
        std::string name;
        AreaMethod method;
        std::optional<float> width;
        std::map<std::string, std::string> expected;
    };
    const std::string perimeter(kml_label::kPerimeter), lengthLabel(kml_label::kLength),
        area(kml_label::kArea), collected(kml_label::kCollectionTime),
        widthLabel(kml_label::kWidth);
    const Row rows[] = {
        {"VERTEX2.TXT", AreaMethod::kVertex, std::nullopt,
         {{perimeter, lengthText}, {area, "0.000 sq.m."}, {collected, "1970-1-1 0:0"}}},
        {"TRACK2.TXT", AreaMethod::kTrack, std::nullopt,
         {{perimeter, lengthText}, {area, "0.000 sq.m."}, {collected, "1970-1-1 0:0"}}},
        {"HARV2.TXT", AreaMethod::kHarvesting, 2.5f,
         {{lengthLabel, lengthText},
          {area, Fixed("%.3f sq.m.", length * 2.5)},
          {widthLabel, "2.5"}}},
        {"HARV2NW.TXT", AreaMethod::kHarvesting, std::nullopt,
         {{lengthLabel, lengthText}, {area, "0.000 sq.m."}, {collected, "1970-1-1 0:0"}}},
    };
    std::map<std::string, Bytes> files;
    for (const Row& row : rows) {
        AreaFile a;
        a.header.method = static_cast<std::int16_t>(row.method);
        a.header.collectionTime = 0;
        a.header.SetFileName(row.name);
        if (row.width) a.work = AreaWorkRecord{*row.width, 1, 2, 0};
        a.points = {At(0.0f, 0.0f), At(kLon, 0.0f)};
        files[row.name] = AsBytes(WriteArea(a));
    }
    Rig rig({}, false, files);
    rig.doc->SetModelCode(kConvertingModelCode);
    ASSERT_TRUE(rig.doc->Connect());
    rig.SelectAll();
    ASSERT_EQ(rig.doc->CopyFromDevice(false), 1);
    ASSERT_EQ(rig.doc->LastError(), 0);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::ifstream in(rig.pc / row.name, std::ios::binary);
        ASSERT_TRUE(in) << "no KML written";
        std::stringstream kml;
        kml << in.rdbuf();
        ASSERT_NE(kml.str().find("<kml"), std::string::npos);
        const auto entries = Entries(kml.str());
        for (const auto& [label, value] : row.expected) {
            ASSERT_TRUE(entries.count(label)) << label;
            EXPECT_EQ(entries.at(label), value) << label;
        }
        EXPECT_TRUE(fs::exists(rig.pc / RawCopyName(row.name)));
    }
}

TEST(WireAreaDownload, AHeaderLineLongerThan100BytesFailsTheFile) {
    AreaFile a;
    a.header.method = static_cast<std::int16_t>(AreaMethod::kVertex);
    a.header.SetFileName("LONG");
    a.points = {At(0.0f, 0.0f), At(0.001f, 0.0f), At(0.001f, 0.001f)};
    const std::string line = AreaRecordLine(EncodeAreaHeader(a.header));  // 59 bytes
    const std::string rest = WriteArea(a).substr(line.size());
    // Padding after the Base64 text is not decoded: only the line's length differs.
    auto padded = [&](std::size_t lineBytes) {
        const std::string pad(lineBytes - line.size(), '=');
        return AsBytes(line.substr(0, line.size() - 2) + pad + "\r\n" + rest);
    };
    struct Row {
        std::string name;
        std::size_t headerLine;
        bool converted;
    };
    const Row rows[] = {{"AT100.TXT", 100, true}, {"AT101.TXT", 101, false}, {"AT160.TXT", 160, false}};
    std::map<std::string, Bytes> files;
    for (const Row& row : rows) files[row.name] = padded(row.headerLine);
    Rig rig({}, false, files);
    rig.doc->SetModelCode(kConvertingModelCode);
    ASSERT_TRUE(rig.doc->Connect());
    rig.SelectAll();
    ASSERT_EQ(rig.doc->CopyFromDevice(false), 1);
    EXPECT_EQ(rig.doc->LastError(), 0);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(fs::exists(rig.pc / row.name), row.converted);
        // The bytes as received are kept either way.
        ASSERT_TRUE(fs::exists(rig.pc / RawCopyName(row.name)));
        EXPECT_EQ(ReadFile(rig.pc / RawCopyName(row.name)), files[row.name]);
    }
}

}  // namespace
}  // namespace dorvane
