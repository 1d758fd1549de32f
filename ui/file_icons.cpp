#include "ui/file_icons.h"

#include <QFileIconProvider>
#include <QMimeDatabase>
#include <string>
#include <unordered_map>

namespace dorvane {

namespace {

/// The icon of the extension after `dot` (none when dot <= 0), asked once per
/// extension in lower case.
QIcon Lookup(const QString& name, qsizetype dot) {
    static std::unordered_map<std::string, QIcon> cache;
    static const QIcon fallback = QFileIconProvider().icon(QFileIconProvider::File);
    const std::string ext = dot > 0 ? name.mid(dot + 1).toLower().toStdString() : std::string();
    auto it = cache.find(ext);
    if (it != cache.end()) return it->second;
    QIcon icon = fallback;
    if (!ext.empty()) {
        static QMimeDatabase mimes;
        const QMimeType type = mimes.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
        icon =
            QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), fallback));
    }
    cache.emplace(ext, icon);
    return icon;
}

}  // namespace

QIcon IconForFile(const QString& name) {
    // A folder's files mostly share a few extensions, often in runs: the
    // last extension asked, spelled exactly so, is answered without
    // building a key.
    static QString lastExt;
    static QIcon lastIcon;
    static bool haveLast = false;
    const qsizetype dot = name.lastIndexOf(u'.');
    const QStringView extView = dot > 0 ? QStringView(name).mid(dot + 1) : QStringView();
    if (haveLast && extView == lastExt) return lastIcon;
    lastExt = extView.toString();
    haveLast = true;
    lastIcon = Lookup(name, dot);
    return lastIcon;
}

}  // namespace dorvane
