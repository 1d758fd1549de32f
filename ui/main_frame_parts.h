#pragma once
// What the main frame's source files share: its construction (main_frame.cpp),
// its commands (main_frame_commands.cpp) and its status bar and message boxes
// (main_frame_status.cpp). Private to those three files.

#include <QString>
#include <string>

namespace dorvane::frame_parts {

inline QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

/// The status bar's panes: the prompt, the selection count, the selected
/// bytes and two more.
inline constexpr int kStatusPanes = 5;
/// The profile key of the convert-on-download setting.
inline const QString kConvertKey = QStringLiteral("ConvertOnDownload");

}  // namespace dorvane::frame_parts
