#pragma once
// CIni: the reader of the language files (Language/code_ch.ini, code_en.ini).
//
// The format and its quirks are those of the Windows program's files, which
// must keep working unchanged:
//  - A section starts with "[" as the first byte of the text or the first
//    byte after a LF; its name runs to the next "]", CR, LF or end of text.
//  - An entry line is key "=" value. The key runs from the line start to the
//    first CR, ";" or "=" (not LF: in a LF-only file a line without "=" runs
//    into the next line and swallows that line's key); trailing blanks and
//    control characters are removed. A line starting with ";" has an empty key
//    and never matches. Keys longer than kMaxKeyBytes never match.
//  - The value runs from after "=" to the first CR, LF, "]" or end of text,
//    at most kMaxValueBytes bytes; leading and trailing spaces are kept.
//  - Section names and keys compare exactly (case-sensitive).
//  - The lookup of a key starts on the line after its section's header and
//    does not stop at the next section: a key that its own section lacks is
//    taken from the first later line that carries it.
//
// The file may be UTF-8 (a leading BOM is dropped) or GBK, the encoding of
// the Windows program's files; it is decoded to UTF-8 once at load, so every
// value comes back as UTF-8. Decoding first also means that a GBK character
// whose second byte is 0x5D ("]") or 0x3B (";") cannot end a value or key.
//
// Not thread-safe: one instance is used by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dorvane {

class CIni {
public:
    /// Longest key that can match, in bytes (the Windows program's key buffer
    /// held 63 characters and a terminator).
    static constexpr std::size_t kMaxKeyBytes = 63;
    /// Longest value, in bytes of UTF-8 (a 1024-byte buffer with its
    /// terminator); a longer value is cut at a character boundary.
    static constexpr std::size_t kMaxValueBytes = 1023;
    /// Language files are a few kilobytes; anything beyond this is not one
    /// and is refused rather than read into memory.
    static constexpr std::uintmax_t kMaxFileBytes = 4u * 1024u * 1024u;

    CIni() = default;

    /// Reads the whole file. Returns true when the file could be read and is
    /// not empty (and not over kMaxFileBytes); on false the reader is empty
    /// as after Reset(). Blocking file I/O; never throws on I/O errors.
    bool Load(const std::filesystem::path& path);

    /// Takes the file's bytes directly (tests, fuzzing). Returns false and
    /// stays empty when `bytes` is empty.
    bool LoadBytes(std::string_view bytes);

    /// Forgets the loaded text.
    void Reset();

    /// True after a successful Load/LoadBytes.
    bool IsLoaded() const { return !text_.empty(); }

    /// The value of `key` looked up from `section` (see the rules above), or
    /// nullopt when the section or the key is not found.
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;

    /// As Find, with a missing section or key giving the empty text.
    std::string Lookup(std::string_view section, std::string_view key) const;

    /// The decoded (UTF-8) text of the loaded file.
    const std::string& Text() const { return text_; }

private:
    void IndexSections();

    std::string text_;                   // the whole file, decoded to UTF-8
    std::vector<std::size_t> sections_;  // offsets of each section's "["
};

}  // namespace dorvane
