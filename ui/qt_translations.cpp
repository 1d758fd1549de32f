#include "ui/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>

namespace dorvane {

namespace {
/// Qt's base translations for the Chinese interface, in Qt's translation folder.
const char* const kChineseQtBase = "qtbase_zh_CN";
}  // namespace

bool ApplyQtTranslations(Language language) {
    static std::unique_ptr<QTranslator> installed;
    if (installed) {
        QCoreApplication::removeTranslator(installed.get());
        installed.reset();
    }
    if (language != Language::Chinese) return true;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QString::fromLatin1(kChineseQtBase),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    QCoreApplication::installTranslator(translator.get());
    installed = std::move(translator);
    return true;
}

}  // namespace dorvane
