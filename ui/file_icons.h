#pragma once
// The icon of a file's type, by the extension of its name, from the desktop's
// icon theme: the same picture in both panes. GUI thread only.

#include <QIcon>
#include <QString>

namespace dorvane {

/// The theme's icon of the type that the name's extension gives, asked once
/// per extension (large folders list quickly); the generic file icon when
/// the name has no extension or the theme has no icon for it. Nothing is
/// read from the disk: the name alone decides.
QIcon IconForFile(const QString& name);

}  // namespace dorvane
