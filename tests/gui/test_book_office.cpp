// The office book on a PostgreSQL server, chosen through "Office book..." and
// driven by the same clicks as the desktop's own book.

#include "book_window_rig.h"
#include "book/pg_server.h"

namespace dorvane::test {
namespace {
using namespace book_rig;
}  // namespace

class TestBookOffice : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        UseScratchHome();
        qputenv("TZ", "UTC");
    }
    void init() {
        FreshBook(books_);
        SetAddDownloadsToBook(true);
    }

    void OfficeBookThroughClicks() {
        testing::PgServer server;
        std::string error;
        QVERIFY2(server.Start(error), error.c_str());
        const std::string uri = server.NewBook();
        QVERIFY(!uri.empty());
        const std::string db = uri.substr(uri.find("@/") + 2, uri.find('?') - uri.find("@/") - 2);
        Rig rig;
        WriteFields(rig.computer.path(), {"G1", "G2"});
        rig.frame->ComputerPane()->Refresh();
        rig.frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.frame.get()));
        // The Book window on the desktop's own book first (Ctrl+B).
        rig.ComputerList()->setFocus();
        QTest::keyClick(rig.ComputerList(), Qt::Key_B, Qt::ControlModifier);
        CBookWindow* w = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((w = rig.frame->Book()->Window()) && w->isVisible(), kWaitMs);
        QVERIFY(WaitForBook(rig));
        const QString own = w->Location();
        // "Office book...": the address typed into its dialog. One with a
        // password is refused (nothing is saved), then the right one.
        struct Typed {
            std::string address;
            bool taken;
        };
        const std::string withPassword = "postgresql://dorvane:secret@/" + uri.substr(uri.find("@/") + 2);
        const Typed typed[] = {{"/home/u/book.gpkg", false}, {withPassword, false}, {uri, true}};
        for (const Typed& t : typed) {
            bool answered = false;
            QTimer::singleShot(50, [&] {
                auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
                if (!dialog) return;
                auto* edit = dialog->findChild<QLineEdit*>();
                edit->setFocus();
                QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
                QTest::keyClicks(edit, QString::fromStdString(t.address));
                QTest::keyClick(edit, Qt::Key_Return);
                answered = true;
            });
            ClickCentre(Button(w, StringId::RES_BOOKWIN_OFFICE_BOOK));
            QTRY_VERIFY_WITH_TIMEOUT(answered, kWaitMs);
            QVERIFY(WaitForBook(rig));
            QCOMPARE(w->Location(), t.taken ? QString::fromStdString(uri) : own);
            if (!t.taken) QVERIFY2(!w->Status()->styleSheet().isEmpty(), qPrintable(w->Status()->text()));
        }
        QCOMPARE(w->Status()->text().contains(QStringLiteral("secret")), false);
        // Kept as the desktop's book, without a password (this run's --book aside).
        SetBookLocationForRun(QString());
        QCOMPARE(BookLocation(), QString::fromStdString(uri));
        rig.frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.frame.get()));
        AddFromComputerPane(rig, {"G1.txt", "G2.txt"});
        QVERIFY(WaitForBook(rig));
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QCOMPARE(w->Location(), QString::fromStdString(uri));
        QTRY_COMPARE_WITH_TIMEOUT(w->JobsModel()->rowCount(), 2, kWaitMs);
        QCOMPARE(QString::fromStdString(server.Query(db, "SELECT COUNT(*) FROM jobs")), QStringLiteral("2"));

        ClickTab(w, 1);
        TypeInto(w, "customerName", QStringLiteral("Zhang"));
        TypeInto(w, "customerVillage", QStringLiteral("North"));
        TypeInto(w, "customerPrice0", QStringLiteral("60"));
        ClickCentre(Button(w, StringId::RES_BOOKWIN_ADD_CUSTOMER));
        QVERIFY(WaitForBook(rig));
        QCOMPARE(w->CustomersTable()->rowCount(), 1);

        ClickTab(w, 0);
        w->JobsView()->setFocus();
        QTest::keyClick(w->JobsView(), Qt::Key_A, Qt::ControlModifier);
        Choose(w, "assignTo", QStringLiteral("Zhang"));
        ClickCentre(Button(w, StringId::RES_BOOKWIN_ASSIGN));
        QVERIFY(WaitForBook(rig));
        QCOMPARE(w->Status()->text(), QString::fromStdString(FormatText(StringId::RES_BOOK_ASSIGNED, 2)));
        w->JobsView()->setFocus();
        QTest::keyClick(w->JobsView(), Qt::Key_A, Qt::ControlModifier);
        ClickCentre(Button(w, StringId::RES_BOOKWIN_BILL));
        QVERIFY(WaitForBook(rig));
        const std::string number = book::BillNumber(QDate::currentDate().year(), 1);
        QVERIFY2(w->Status()->text().contains(QString::fromStdString(number)), qPrintable(w->Status()->text()));
        QCOMPARE(JobColumn(w, BookJobColumn::kBill),
                 (QStringList{QString::fromStdString(number), QString::fromStdString(number)}));
        QCOMPARE(QString::fromStdString(server.Query(db, "SELECT number || '|' || (SELECT COUNT(*) FROM jobs WHERE "
                                                         "bill_id = invoices.fid) FROM invoices")),
                 QString::fromStdString(number + "|2"));
        w->close();
    }

private:
    std::unique_ptr<QTemporaryDir> books_;
};

}  // namespace dorvane::test

QTEST_MAIN(dorvane::test::TestBookOffice)
#include "test_book_office.moc"
