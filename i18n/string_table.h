#pragma once
// The process-wide string table: every user-visible text that changes with
// the language, keyed by the names the language files use.
//
//   #include "i18n/string_table.h"
//   Text(StringId::RES_GLOBAL_STRING_RES_ERR_MSG_TIMEOUT)   // "连接超时!" by default
//   FindStringId("RES_CTRANSWAIT_CANCEL")                   // key name -> id, at run time
//
// The table starts with the compiled-in Chinese defaults (string_keys.def).
// LoadLanguage() replaces every entry from a language file: an entry whose key
// the file lacks (or leaves empty) keeps its compiled-in default, so a file
// written for an older program never blanks a text added since. A missing or
// empty file changes nothing. All texts are UTF-8.
//
// Threads: the table is written only by LoadLanguage, LoadLanguageFile,
// ApplyIni and ResetToDefaults, which the user-interface thread (or the
// single thread of the command-line program) calls. Reading is safe from any
// thread as long as no load runs at the same time. A reference returned by
// Text() stays valid for the whole run; its content changes on each load.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dorvane {

class CIni;

/// One id per key; the enumerator's name is the key's name, so a misspelt key
/// does not compile.
enum class StringId : std::size_t {
#define DORVANE_TEXT(section, key, text) key,
#include "i18n/string_keys.def"
#undef DORVANE_TEXT
};

/// Number of keys in the table.
inline constexpr std::size_t kStringCount = 0
#define DORVANE_TEXT(section, key, text) +1
#include "i18n/string_keys.def"
#undef DORVANE_TEXT
    ;

/// The user-interface languages. The value is the language index of the
/// language switch (0 Chinese, 1 English).
enum class Language : int { Chinese = 0, English = 1 };

/// Current text of `id` (UTF-8, never empty).
const std::string& Text(StringId id);
/// Key name of `id`, e.g. "RES_CTRANSWAIT_CANCEL".
std::string_view KeyName(StringId id);
/// Language-file section of `id`, e.g. "DORVANE_CTRANSWAIT".
std::string_view SectionName(StringId id);
/// The compiled-in Chinese default of `id`.
std::string_view DefaultText(StringId id);
/// The id of a key name, or nullopt for a name not in the table.
std::optional<StringId> FindStringId(std::string_view key);
/// Every id, in loading order.
const std::vector<StringId>& AllStringIds();

/// The computer pane's column specification: RES_CRIGHTFORMVIEW_MESSAGE01_1
/// to _4 joined with ";" ("heading,width;..."), rebuilt on every load.
const std::string& ComputerPaneColumns();
/// The device pane's column specification: RES_CLEFTFORMVIEW_MESSAGE01_1 to
/// _3 joined with ";".
const std::string& DevicePaneColumns();
/// The one text without a key, never replaced: "非法的地图!" (illegal map).
const std::string& IllegalMapText();

/// The language whose file was last applied; Chinese before any load.
Language CurrentLanguage();
/// CurrentLanguage() as the language index (0 Chinese, 1 English).
int CurrentLanguageIndex();

/// The argument list a printf format expects, one letter per argument in
/// order ("*" for a width or precision taken from the arguments), with the
/// length modifiers: "%s %d" -> "sd", "%.2f" -> "f", "%ld" -> "ld". Returns
/// nullopt for a format printf cannot use safely (a lone "%" at the end, an
/// unknown conversion, or "%n").
std::optional<std::string> PrintfSignature(std::string_view format);

/// Formats Text(id) with printf rules and the arguments that the key's
/// comment (string_keys.def) names; arguments are C types (const char* for %s,
/// int for %d, double for %f). Safe with any language file: a loaded text whose
/// PrintfSignature differs from its default's is never installed (see
/// ApplyIni).
std::string FormatText(StringId id, ...);

/// A text that counts: Text(one) when `count` is 1 (a text without the
/// number, such as "1 item selected"), FormatText(many, count) otherwise
/// (`many` takes one %d).
std::string CountText(StringId many, StringId one, int count);

/// Puts back every compiled-in default and the language Chinese.
void ResetToDefaults();

/// Sets every entry from `ini` (entries it lacks or leaves empty get their
/// compiled-in default), rebuilds the composite column texts and makes
/// `language` current. A value whose printf arguments differ from the
/// default's (say "%s" where "%d" is passed, or any "%" in a text that takes
/// no arguments) would make the program read the wrong arguments, so such an
/// entry gets its compiled-in default too. Use LoadLanguage unless the reader
/// is already loaded.
void ApplyIni(const CIni& ini, Language language);

/// File name of a language: "code_ch.ini" or "code_en.ini".
std::string_view LanguageFileName(Language language);

/// Folder of the running program (from /proc/self/exe), or nullopt when it
/// cannot be read.
std::optional<std::filesystem::path> ExecutableDir();

/// Where the language file may be, in the order they are tried: the
/// Language folder beside the executable, then the one of the install tree
/// the executable is in (<bin>/../share/dorvane/Language, whatever prefix it
/// was installed under), then the configured data folder (DORVANE_DATADIR).
std::vector<std::filesystem::path> LanguageFileCandidates(Language language);

/// True when some candidate exists and is not a folder (the menu greys the
/// language item otherwise).
bool LanguageFileAvailable(Language language);

/// Loads one language file and, when it exists and is not empty, applies it
/// (ApplyIni) and returns true. Otherwise returns false and changes nothing.
/// Blocking file I/O; never throws.
bool LoadLanguageFile(const std::filesystem::path& path, Language language);

/// Loads the language through LanguageFileCandidates: the first candidate
/// that loads is applied. Returns false, changing nothing, when none loads.
/// The caller (main frame) then re-applies its menu texts and tells the panes.
bool LoadLanguage(Language language);

}  // namespace dorvane
