#pragma once
// The user's profile (column widths, the convert setting, the computer
// folder): QSettings under the organisation "Quenmark Plotwise", the name the
// handheld tools have always used. Stored in the XDG config folder.

#include <QSettings>

namespace dorvane {

inline QSettings ProfileSettings() {
    return QSettings(QStringLiteral("Quenmark Plotwise"), QStringLiteral("Dorvane"));
}

}  // namespace dorvane
