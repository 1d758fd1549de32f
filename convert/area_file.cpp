#include "convert/area_file.h"

#include <algorithm>
#include <cstring>

#include "convert/le_bytes.h"
#include "protocol/fcs16.h"

namespace dorvane {
namespace {

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kBase64Pad = '=';
constexpr int kNotBase64 = -1;
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::size_t kFcsBytes = 2;

// Field offsets of the records.
constexpr std::size_t kHdrAreaPrice = 4;
constexpr std::size_t kHdrLengthPrice = 8;
constexpr std::size_t kHdrTime = 12;
constexpr std::size_t kHdrName = 16;
constexpr std::size_t kHdrMethod = 36;
constexpr std::size_t kWorkStart = 4;
constexpr std::size_t kWorkFinish = 8;
constexpr std::size_t kWorkReserved = 12;
constexpr std::size_t kPointLat = 4;
constexpr std::size_t kPointAlt = 8;
constexpr std::size_t kPointReserved = 12;
constexpr std::size_t kPointFlag = 24;

constexpr std::array<int, 256> MakeDecodeTable() {
    std::array<int, 256> t{};
    for (int& v : t) v = kNotBase64;
    for (std::size_t i = 0; i < kBase64Alphabet.size(); ++i)
        t[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<int>(i);
    return t;
}
constexpr std::array<int, 256> kDecode = MakeDecodeTable();

// One "$ ... CR LF" line found from `pos` on.
struct RecordLine {
    std::string_view text;  // between "$" and CR LF
    std::size_t lineBytes;  // "$" to CR LF inclusive
};

std::optional<RecordLine> NextRecord(std::string_view all, std::size_t& pos) {
    const std::size_t dollar = all.find(kAreaRecordStart, pos);
    if (dollar == std::string_view::npos) return std::nullopt;
    const std::size_t end = all.find(kLineEnd, dollar + 1);
    if (end == std::string_view::npos) return std::nullopt;
    pos = end + kLineEnd.size();
    return RecordLine{all.substr(dollar + 1, end - dollar - 1), pos - dollar};
}

AreaHeader DecodeHeader(const std::uint8_t* p) {
    AreaHeader h;
    h.reserved = le::U32(p);
    h.areaUnitPrice = le::F32(p + kHdrAreaPrice);
    h.lengthUnitPrice = le::F32(p + kHdrLengthPrice);
    h.collectionTime = le::I32(p + kHdrTime);
    std::memcpy(h.fileName.data(), p + kHdrName, kAreaFileNameField);
    h.method = le::I16(p + kHdrMethod);
    return h;
}

AreaWorkRecord DecodeWork(const std::uint8_t* p) {
    AreaWorkRecord w;
    w.width = le::F32(p);
    w.startTime = le::I32(p + kWorkStart);
    w.finishTime = le::I32(p + kWorkFinish);
    w.reserved = le::U16(p + kWorkReserved);
    return w;
}

AreaPoint DecodePoint(const std::uint8_t* p) {
    AreaPoint a;
    a.longitude = le::F32(p);
    a.latitude = le::F32(p + kPointLat);
    a.altitude = le::F32(p + kPointAlt);
    std::memcpy(a.reserved.data(), p + kPointReserved, a.reserved.size());
    a.flag = le::I16(p + kPointFlag);
    return a;
}

template <std::size_t N>
void SealRecord(std::array<std::uint8_t, N>& r) {
    const std::uint16_t fcs = Fcs16(std::span<const std::uint8_t>(r.data(), N - kFcsBytes));
    le::PutU16(r.data() + N - kFcsBytes, fcs);
}

bool Valid(std::span<const std::uint8_t> decoded, std::size_t recordSize) {
    return decoded.size() >= recordSize && AreaRecordValid(decoded.first(recordSize));
}

}  // namespace

std::string AreaHeader::FileNameGbk() const {
    const auto* nul = std::find(fileName.begin(), fileName.end(), '\0');
    return std::string(fileName.begin(), nul);
}

void AreaHeader::SetFileName(std::string_view gbk) {
    fileName.fill('\0');
    std::memcpy(fileName.data(), gbk.data(), std::min(gbk.size(), kAreaFileNameField - 1));
}

bool AreaRecordValid(std::span<const std::uint8_t> record) {
    return FcsUpdate(kFcsInit, record) == kFcsGood;
}

std::optional<std::size_t> Base64Decode(std::string_view text, std::span<std::uint8_t> out) {
    std::size_t n = 0;
    std::uint32_t acc = 0;
    int k = 0;  // characters in the current group
    for (char ch : text) {
        if (ch == kBase64Pad) break;
        const int v = kDecode[static_cast<unsigned char>(ch)];
        if (v == kNotBase64) break;
        acc = (acc << 6) | static_cast<std::uint32_t>(v);
        if (++k == 4) {
            if (n + 3 > out.size()) return std::nullopt;
            out[n++] = static_cast<std::uint8_t>(acc >> 16);
            out[n++] = static_cast<std::uint8_t>(acc >> 8);
            out[n++] = static_cast<std::uint8_t>(acc);
            acc = 0;
            k = 0;
        }
    }
    if (k >= 2) {
        // k characters carry 6k bits of which the top 8(k-1) are data.
        acc <<= 6 * (4 - k);
        const std::size_t extra = static_cast<std::size_t>(k - 1);
        if (n + extra > out.size()) return std::nullopt;
        out[n++] = static_cast<std::uint8_t>(acc >> 16);
        if (k == 3) out[n++] = static_cast<std::uint8_t>(acc >> 8);
    }
    return n;
}

std::string Base64Encode(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        for (int s = 18; s >= 0; s -= 6) out.push_back(kBase64Alphabet[(v >> s) & 0x3F]);
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t v = static_cast<std::uint32_t>(bytes[i]) << 16;
        if (rest == 2) v |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
        out.push_back(kBase64Alphabet[(v >> 18) & 0x3F]);
        out.push_back(kBase64Alphabet[(v >> 12) & 0x3F]);
        out.push_back(rest == 2 ? kBase64Alphabet[(v >> 6) & 0x3F] : kBase64Pad);
        out.push_back(kBase64Pad);
    }
    return out;
}

AreaReadResult ReadArea(std::span<const std::uint8_t> bytes, AreaFile& area) {
    AreaReadResult r;
    area.points.clear();
    area.work.reset();
    const std::string_view all(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::size_t pos = 0;
    std::array<std::uint8_t, kAreaScratchBytes> scratch{};

    auto decode = [&](const RecordLine& line) -> std::optional<std::span<const std::uint8_t>> {
        if (line.lineBytes > kAreaMaxLineBytes) return std::nullopt;
        const auto n = Base64Decode(line.text, scratch);
        if (!n) return std::nullopt;
        return std::span<const std::uint8_t>(scratch.data(), *n);
    };

    const auto first = NextRecord(all, pos);
    if (!first) {
        r.error = AreaReadError::kNoRecord;
        return r;
    }
    const auto head = decode(*first);
    if (!head || head->size() < kAreaHeaderSize) {
        r.error = AreaReadError::kNotArea;
        return r;
    }
    if (!AreaRecordValid(head->first(kAreaHeaderSize))) {
        r.error = AreaReadError::kDamagedHeader;
        return r;
    }
    area.header = DecodeHeader(head->data());

    // The second record is the work record when its first 16 bytes validate.
    std::optional<RecordLine> line = NextRecord(all, pos);
    if (line) {
        const auto rec = decode(*line);
        if (rec && Valid(*rec, kAreaWorkSize)) {
            area.work = DecodeWork(rec->data());
            line = NextRecord(all, pos);
        } else if (rec && Valid(*rec, kAreaPointSize)) {
            // A valid point: not consumed here, the loop below takes it.
        } else {
            ++r.droppedRecords;
            ++r.damagedRecords;
            line = NextRecord(all, pos);
        }
    }

    for (; line; line = NextRecord(all, pos)) {
        const auto rec = decode(*line);
        if (!rec || !Valid(*rec, kAreaPointSize)) {
            ++r.droppedRecords;
            ++r.damagedRecords;
            continue;
        }
        AreaPoint p = DecodePoint(rec->data());
        if (p.flag == kAreaPointExcluded) {
            ++r.droppedRecords;
            continue;
        }
        area.points.push_back(p);
    }
    return r;
}

std::array<std::uint8_t, kAreaHeaderSize> EncodeAreaHeader(const AreaHeader& h) {
    std::array<std::uint8_t, kAreaHeaderSize> r{};
    le::PutU32(r.data(), h.reserved);
    le::PutF32(r.data() + kHdrAreaPrice, h.areaUnitPrice);
    le::PutF32(r.data() + kHdrLengthPrice, h.lengthUnitPrice);
    le::PutI32(r.data() + kHdrTime, h.collectionTime);
    std::memcpy(r.data() + kHdrName, h.fileName.data(), kAreaFileNameField);
    le::PutI16(r.data() + kHdrMethod, h.method);
    SealRecord(r);
    return r;
}

std::array<std::uint8_t, kAreaWorkSize> EncodeAreaWork(const AreaWorkRecord& w) {
    std::array<std::uint8_t, kAreaWorkSize> r{};
    le::PutF32(r.data(), w.width);
    le::PutI32(r.data() + kWorkStart, w.startTime);
    le::PutI32(r.data() + kWorkFinish, w.finishTime);
    le::PutU16(r.data() + kWorkReserved, w.reserved);
    SealRecord(r);
    return r;
}

std::array<std::uint8_t, kAreaPointSize> EncodeAreaPoint(const AreaPoint& p) {
    std::array<std::uint8_t, kAreaPointSize> r{};
    le::PutF32(r.data(), p.longitude);
    le::PutF32(r.data() + kPointLat, p.latitude);
    le::PutF32(r.data() + kPointAlt, p.altitude);
    std::memcpy(r.data() + kPointReserved, p.reserved.data(), p.reserved.size());
    le::PutI16(r.data() + kPointFlag, p.flag);
    SealRecord(r);
    return r;
}

std::string AreaRecordLine(std::span<const std::uint8_t> record) {
    std::string line(1, kAreaRecordStart);
    line += Base64Encode(record);
    line += kLineEnd;
    return line;
}

std::string WriteArea(const AreaFile& area) {
    std::string out = AreaRecordLine(EncodeAreaHeader(area.header));
    if (area.work) out += AreaRecordLine(EncodeAreaWork(*area.work));
    for (const AreaPoint& p : area.points) out += AreaRecordLine(EncodeAreaPoint(p));
    return out;
}

}  // namespace dorvane
