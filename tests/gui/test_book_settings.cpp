// The Book window's bill settings through clicks: "Bill settings..." shows
// the payee of bill.conf and the book's area basis, OK writes both (read back
// from the file and from the book by another store), a value bill.conf cannot
// hold keeps the dialog open with the field named and writes nothing, and a
// bill.conf that cannot be read is refused rather than shown as defaults that
// would replace it.

#include <QDialogButtonBox>
#include <QInputMethodEvent>
#include <fstream>
#include <sstream>

#include "book/bill_settings.h"
#include "book/open_book.h"
#include "book_window_rig.h"
#include "ui/bill_settings_dialog.h"

namespace dorvane::test {
namespace {

using namespace book_rig;

std::string FileText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

/// Clicks "Bill settings..." and returns the dialog once the worker has read
/// what it shows (null when none opened).
CBillSettingsDialog* OpenSettings(Rig& rig, CBookWindow* w) {
    ClickCentre(Button(w, StringId::RES_BOOKWIN_BILL_SETTINGS));
    if (!WaitForBook(rig)) return nullptr;
    CBillSettingsDialog* dlg = nullptr;
    (void)QTest::qWaitFor([&] {
        dlg = w->findChild<CBillSettingsDialog*>();
        return dlg && dlg->isVisible();
    }, 500);
    return dlg && dlg->isVisible() ? dlg : nullptr;
}

void ClickOk(CBillSettingsDialog* dlg) {
    ClickCentre(dlg->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok));
}

void TypeIn(CBillSettingsDialog* dlg, const char* name, const QString& text) {
    auto* e = dlg->findChild<QLineEdit*>(QLatin1String(name));
    QVERIFY2(e, name);
    Click(e, e->rect().center());
    QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(e, Qt::Key_Delete);
    // Chinese arrives as an input method commits it; key clicks carry Latin-1 only.
    QInputMethodEvent ime;
    ime.setCommitString(text);
    QApplication::sendEvent(e, &ime);
}

book::AreaBasis BookBasis(const QString& book) {
    std::unique_ptr<book::BookStore> store;
    book::AreaBasis basis = book::AreaBasis::kWgs84;
    if (!book::OpenBook(book.toStdString(), {}, store).ok() || !store->GetAreaBasis(basis).ok()) return basis;
    return basis;
}

}  // namespace

class TestBookSettings : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { UseScratchHome(); }
    void init() {
        book_ = FreshBook(books_);
        std::filesystem::remove(book::DefaultBillSettingsPath());
    }

    void ThePayeeAndBasisChosenAreWrittenAndShownAgain() {
        Rig rig;
        CBookWindow* w = rig.frame->Book()->Show();
        QVERIFY(WaitForBook(rig));
        CBillSettingsDialog* dlg = OpenSettings(rig, w);
        QVERIFY(dlg);
        // No bill.conf yet: the defaults.
        QCOMPARE(dlg->findChild<QLineEdit*>(QStringLiteral("currency"))->text(), QString::fromUtf8(book::kDefaultCurrency));
        QCOMPARE(dlg->findChild<QLineEdit*>(QStringLiteral("sellerName"))->text(), QString());
        TypeIn(dlg, "sellerName", QStringLiteral("Zhang Harvesting"));
        TypeIn(dlg, "sellerPhone", QStringLiteral("139 0000 0000"));
        auto* basis = dlg->findChild<QComboBox*>(QStringLiteral("billBasis"));
        basis->setFocus();
        QTest::keyClick(basis, Qt::Key_End);
        QCOMPARE(basis->currentIndex(), static_cast<int>(book::AreaBasis::kHandheld));
        ClickOk(dlg);
        QVERIFY(WaitForBook(rig));
        QCOMPARE(w->Status()->text(), T(StringId::RES_BOOKWIN_SETTINGS_SAVED));

        const std::string text = FileText(book::DefaultBillSettingsPath());
        QVERIFY2(text.find("seller-name=Zhang Harvesting\n") != std::string::npos, text.c_str());
        QVERIFY2(text.find("seller-phone=139 0000 0000\n") != std::string::npos, text.c_str());
        QCOMPARE(BookBasis(book_), book::AreaBasis::kHandheld);

        dlg = OpenSettings(rig, w);
        QVERIFY(dlg);
        QCOMPARE(dlg->findChild<QLineEdit*>(QStringLiteral("sellerName"))->text(), QStringLiteral("Zhang Harvesting"));
        QCOMPARE(dlg->findChild<QComboBox*>(QStringLiteral("billBasis"))->currentIndex(),
                 static_cast<int>(book::AreaBasis::kHandheld));
        QTest::keyClick(dlg, Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!w->findChild<CBillSettingsDialog*>(), kWaitMs);
    }

    // 70 Chinese characters are 210 bytes: more than bill.conf keeps.
    void AValueTooLongIsRefusedInTheDialogAndNothingIsWritten() {
        Rig rig;
        CBookWindow* w = rig.frame->Book()->Show();
        QVERIFY(WaitForBook(rig));
        CBillSettingsDialog* dlg = OpenSettings(rig, w);
        QVERIFY(dlg);
        TypeIn(dlg, "sellerAddress", QString(70, QChar(0x957F)));
        ClickOk(dlg);
        QVERIFY(dlg->isVisible());
        QVERIFY(dlg->Problem()->isVisible());
        QVERIFY2(dlg->Problem()->text().startsWith(T(StringId::RES_BILL_ADDRESS)), qPrintable(dlg->Problem()->text()));
        QVERIFY2(dlg->Problem()->text().contains(QString::fromStdString(FormatText(
                     StringId::RES_BOOKWIN_SETTING_TOO_LONG, static_cast<int>(book::kMaxBillSettingBytes)))),
                 qPrintable(dlg->Problem()->text()));
        QVERIFY(!std::filesystem::exists(book::DefaultBillSettingsPath()));
        QTest::keyClick(dlg, Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!w->findChild<CBillSettingsDialog*>(), kWaitMs);
        QVERIFY(!std::filesystem::exists(book::DefaultBillSettingsPath()));
    }

    void ABillConfThatCannotBeReadIsRefusedAndKept() {
        const std::filesystem::path conf = book::DefaultBillSettingsPath();
        std::filesystem::create_directories(conf.parent_path());
        const std::string broken = "seller-name=Li\nthis line is no setting\n";
        std::ofstream(conf, std::ios::binary) << broken;
        Rig rig;
        CBookWindow* w = rig.frame->Book()->Show();
        QVERIFY(WaitForBook(rig));
        QVERIFY(!OpenSettings(rig, w));
        QVERIFY2(w->Status()->text().contains(QString::fromStdString(conf.string())), qPrintable(w->Status()->text()));
        QCOMPARE(FileText(conf), broken);
    }

private:
    std::unique_ptr<QTemporaryDir> books_;
    QString book_;
};

}  // namespace dorvane::test

QTEST_MAIN(dorvane::test::TestBookSettings)
#include "test_book_settings.moc"
