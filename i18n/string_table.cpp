#include "i18n/string_table.h"

#include <unistd.h>

#include <array>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <system_error>
#include <unordered_map>

#include "i18n/ini_reader.h"

#ifndef DORVANE_DATADIR
#error "DORVANE_DATADIR must name the installed data folder"
#endif

namespace dorvane {

namespace {

struct Entry {
    std::string_view section;
    std::string_view key;
    std::string_view text;
};

constexpr std::array<Entry, kStringCount> kEntries = {{
#define DORVANE_TEXT(section, key, text) {#section, #key, text},
#include "i18n/string_keys.def"
#undef DORVANE_TEXT
}};

constexpr std::string_view kLanguageFolder = "Language";
constexpr std::string_view kChineseFile = "code_ch.ini";
constexpr std::string_view kEnglishFile = "code_en.ini";
constexpr std::string_view kProcSelfExe = "/proc/self/exe";
// The data folder of an installed program relative to its bin/ folder
// ("<prefix>/bin/dorvane" -> "<prefix>/share/dorvane"), so that a tree
// installed under another prefix than the configured one finds its files.
constexpr std::string_view kDataDirFromBin = "../share/dorvane";
// printf format parts: flags, length modifiers and the conversions that the
// texts may use ("n" is not among them: it writes through an argument).
constexpr std::string_view kPrintfFlags = "-+ #0'";
constexpr std::string_view kPrintfLengths = "hlLqjzt";
constexpr std::string_view kPrintfConversions = "diouxXeEfFgGaAcsp";
// The column specifications join their parts with this separator.
constexpr char kColumnSeparator = ';';

constexpr StringId kComputerColumns[] = {
    StringId::RES_CRIGHTFORMVIEW_MESSAGE01_1, StringId::RES_CRIGHTFORMVIEW_MESSAGE01_2,
    StringId::RES_CRIGHTFORMVIEW_MESSAGE01_3, StringId::RES_CRIGHTFORMVIEW_MESSAGE01_4};
constexpr StringId kDeviceColumns[] = {StringId::RES_CLEFTFORMVIEW_MESSAGE01_1,
                                       StringId::RES_CLEFTFORMVIEW_MESSAGE01_2,
                                       StringId::RES_CLEFTFORMVIEW_MESSAGE01_3};

struct Table {
    std::array<std::string, kStringCount> texts;
    std::string computer_columns;
    std::string device_columns;
    const std::string illegal_map{"非法的地图!"};
    Language language = Language::Chinese;

    Table() { Reset(); }

    void Reset() {
        for (std::size_t i = 0; i < kStringCount; ++i) texts[i] = std::string(kEntries[i].text);
        language = Language::Chinese;
        RebuildColumns();
    }

    template <std::size_t N>
    std::string Join(const StringId (&ids)[N]) const {
        std::string out;
        for (std::size_t i = 0; i < N; ++i) {
            if (i > 0) out += kColumnSeparator;
            out += texts[static_cast<std::size_t>(ids[i])];
        }
        return out;
    }

    void RebuildColumns() {
        computer_columns = Join(kComputerColumns);
        device_columns = Join(kDeviceColumns);
    }
};

Table& TheTable() {
    static Table table;
    return table;
}

std::size_t Index(StringId id) {
    return static_cast<std::size_t>(id);
}

}  // namespace

const std::string& Text(StringId id) {
    return TheTable().texts[Index(id)];
}
std::string_view KeyName(StringId id) {
    return kEntries[Index(id)].key;
}
std::string_view SectionName(StringId id) {
    return kEntries[Index(id)].section;
}
std::string_view DefaultText(StringId id) {
    return kEntries[Index(id)].text;
}

std::optional<StringId> FindStringId(std::string_view key) {
    static const std::unordered_map<std::string_view, StringId> by_key = [] {
        std::unordered_map<std::string_view, StringId> m;
        for (std::size_t i = 0; i < kStringCount; ++i) m.emplace(kEntries[i].key, StringId(i));
        return m;
    }();
    auto it = by_key.find(key);
    if (it == by_key.end()) return std::nullopt;
    return it->second;
}

const std::vector<StringId>& AllStringIds() {
    static const std::vector<StringId> ids = [] {
        std::vector<StringId> v;
        v.reserve(kStringCount);
        for (std::size_t i = 0; i < kStringCount; ++i) v.push_back(StringId(i));
        return v;
    }();
    return ids;
}

const std::string& ComputerPaneColumns() {
    return TheTable().computer_columns;
}
const std::string& DevicePaneColumns() {
    return TheTable().device_columns;
}
const std::string& IllegalMapText() {
    return TheTable().illegal_map;
}

Language CurrentLanguage() {
    return TheTable().language;
}
int CurrentLanguageIndex() {
    return static_cast<int>(TheTable().language);
}

void ResetToDefaults() {
    TheTable().Reset();
}

std::optional<std::string> PrintfSignature(std::string_view format) {
    std::string sig;
    const std::size_t n = format.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (format[i] != '%') continue;
        if (++i >= n) return std::nullopt;
        if (format[i] == '%') continue;
        while (i < n && std::string_view(kPrintfFlags).find(format[i]) != std::string_view::npos)
            ++i;
        if (i < n && format[i] == '*') {
            sig += '*';
            ++i;
        }
        while (i < n && format[i] >= '0' && format[i] <= '9') ++i;
        if (i < n && format[i] == '.') {
            ++i;
            if (i < n && format[i] == '*') {
                sig += '*';
                ++i;
            }
            while (i < n && format[i] >= '0' && format[i] <= '9') ++i;
        }
        while (i < n && std::string_view(kPrintfLengths).find(format[i]) != std::string_view::npos)
            sig += format[i++];
        if (i >= n ||
            std::string_view(kPrintfConversions).find(format[i]) == std::string_view::npos)
            return std::nullopt;
        sig += format[i];
    }
    return sig;
}

std::string FormatText(StringId id, ...) {
    const std::string& format = Text(id);
    std::va_list args;
    va_start(args, id);
    std::va_list again;
    va_copy(again, args);
    const int len = std::vsnprintf(nullptr, 0, format.c_str(), args);
    va_end(args);
    std::string out;
    if (len > 0) {
        out.resize(static_cast<std::size_t>(len) + 1);
        std::vsnprintf(out.data(), out.size(), format.c_str(), again);
        out.resize(static_cast<std::size_t>(len));
    }
    va_end(again);
    return out;
}

std::string CountText(StringId many, StringId one, int count) {
    if (count == 1) return Text(one);
    return FormatText(many, count);
}

void ApplyIni(const CIni& ini, Language language) {
    Table& table = TheTable();
    for (std::size_t i = 0; i < kStringCount; ++i) {
        std::string value = ini.Lookup(kEntries[i].section, kEntries[i].key);
        // A file written for an older program lacks the keys added since: a
        // blank question box or button helps nobody, the built-in text does.
        // A loaded text must take the same arguments as the default.
        if (value.empty() || PrintfSignature(value) != PrintfSignature(kEntries[i].text)) {
            value = std::string(kEntries[i].text);
        }
        table.texts[i] = std::move(value);
    }
    table.RebuildColumns();
    table.language = language;
}

std::string_view LanguageFileName(Language language) {
    return language == Language::Chinese ? kChineseFile : kEnglishFile;
}

std::optional<std::filesystem::path> ExecutableDir() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(std::string(kProcSelfExe).c_str(), buf, sizeof buf - 1);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf - 1) return std::nullopt;
    return std::filesystem::path(std::string(buf, static_cast<std::size_t>(n))).parent_path();
}

std::vector<std::filesystem::path> LanguageFileCandidates(Language language) {
    std::vector<std::filesystem::path> out;
    const std::filesystem::path rel =
        std::filesystem::path(kLanguageFolder) / LanguageFileName(language);
    if (auto dir = ExecutableDir()) {
        out.push_back(*dir / rel);
        out.push_back((*dir / kDataDirFromBin / rel).lexically_normal());
    }
    out.push_back(std::filesystem::path(DORVANE_DATADIR) / rel);
    return out;
}

bool LanguageFileAvailable(Language language) {
    for (const auto& p : LanguageFileCandidates(language)) {
        std::error_code ec;
        if (std::filesystem::exists(p, ec) && !std::filesystem::is_directory(p, ec)) return true;
    }
    return false;
}

bool LoadLanguageFile(const std::filesystem::path& path, Language language) {
    CIni ini;
    if (!ini.Load(path)) return false;
    ApplyIni(ini, language);
    return true;
}

bool LoadLanguage(Language language) {
    for (const auto& p : LanguageFileCandidates(language)) {
        if (LoadLanguageFile(p, language)) return true;
    }
    return false;
}

}  // namespace dorvane
