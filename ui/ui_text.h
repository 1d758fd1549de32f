#pragma once
// The interface's texts as QStrings for the windows: the string table and the
// core library hold UTF-8 std::strings. GUI thread or any: pure functions.

#include <QString>

#include <string>

#include "i18n/string_table.h"

namespace dorvane::ui_text {

/// A core library's UTF-8 text as a QString.
inline QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

/// The text `id` in the language in use.
inline QString T(StringId id) {
    return Q(Text(id));
}

}  // namespace dorvane::ui_text
