#include "ui/file_icons.h"

#include <QFileIconProvider>
#include <QMimeDatabase>
#include <string>
#include <unordered_map>

namespace dorvane {

QIcon IconForFile(const QString& name) {
    static std::unordered_map<std::string, QIcon> cache;
    static const QIcon fallback = QFileIconProvider().icon(QFileIconProvider::File);
    const qsizetype dot = name.lastIndexOf(u'.');
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

}  // namespace dorvane
