#pragma once
// Qt's own texts (the message boxes' Yes, No, OK and Cancel, the editors'
// context menus) in the language of the interface: Qt's translation files
// (qtbase_zh_CN.qm from Debian's qt6-translations-l10n), loaded with a
// QTranslator when the language is applied. GUI thread only.

#include "i18n/string_table.h"

namespace dorvane {

/// Puts Qt's translation for `language` in place of the one installed before
/// (English needs none: Qt's texts are English). Returns false when the
/// translation file is missing; Qt's texts then stay English.
bool ApplyQtTranslations(Language language);

}  // namespace dorvane
