// The Book window as a user drives it: files added from the computer pane's
// context menu, Ctrl+B, the filters typed and chosen, rows picked with the
// mouse (Ctrl for more), assign, price, bill, payment and the season figures
// by clicks on the buttons; files dropped on the window, the ledger's "Add
// all to book", and downloads entering the book as they are stored.

#include "book_window_rig.h"
#include "map/overview_map.h"


namespace dorvane::test {
namespace {

using namespace book_rig;

}  // namespace

class TestBookWindow : public QObject {
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

    void SeasonThroughClicksAndKeys() {
        Rig rig;
        const QString dir = rig.computer.path();
        WriteFields(dir, {"F1", "F2", "F3", "F4"});
        rig.frame->ComputerPane()->Refresh();
        rig.frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.frame.get()));

        // "Add to book" from the computer pane opens the window with the jobs.
        AddFromComputerPane(rig, {"F1.txt", "F2.txt", "F3.txt"});
        CBookWindow* w = WaitForBook(rig);
        QVERIFY(w);
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QCOMPARE(w->Location(), books_->filePath(QStringLiteral("book.gpkg")));
        QTRY_COMPARE_WITH_TIMEOUT(w->JobsModel()->rowCount(), 3, kWaitMs);
        QCOMPARE(w->Status()->text(), QString::fromStdString(FormatText(StringId::RES_BOOK_ADD_SUMMARY, 3, 0, 0)));
        // Again with F4: F3 is in the book already and stays one job.
        w->close();
        rig.frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.frame.get()));
        AddFromComputerPane(rig, {"F3.txt", "F4.txt"});
        QVERIFY(WaitForBook(rig));
        QCOMPARE(w->JobsModel()->rowCount(), 4);
        QCOMPARE(w->Status()->text(), QString::fromStdString(FormatText(StringId::RES_BOOK_ADD_SUMMARY, 1, 1, 0)));

        // Closed, then opened again by its accelerator.
        w->close();
        QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), kWaitMs);
        rig.frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.frame.get()));
        rig.ComputerList()->setFocus();
        QTest::keyClick(rig.ComputerList(), Qt::Key_B, Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(w->isVisible(), kWaitMs);
        QVERIFY(QTest::qWaitForWindowActive(w));
        QVERIFY(WaitForBook(rig));

        // Two customers, Wang with 80 yuan a mu for harvesting.
        ClickTab(w, 1);
        for (const auto& [name, village, price] : {std::tuple{"Wang", "East", "80"}, std::tuple{"Li", "West", ""}}) {
            TypeInto(w, "customerName", QString::fromUtf8(name));
            TypeInto(w, "customerVillage", QString::fromUtf8(village));
            TypeInto(w, "customerPrice0", QString::fromUtf8(price));
            ClickCentre(Button(w, StringId::RES_BOOKWIN_ADD_CUSTOMER));
            QVERIFY(WaitForBook(rig));
        }
        QCOMPARE(w->CustomersTable()->rowCount(), 2);
        // A customer's name is required; a second "Wang" is refused; nothing changes.
        TypeInto(w, "customerName", QString());
        ClickCentre(Button(w, StringId::RES_BOOKWIN_ADD_CUSTOMER));
        QCOMPARE(w->Status()->text(), T(StringId::RES_BOOKWIN_BAD_NAME));
        TypeInto(w, "customerName", QStringLiteral("Wang"));
        ClickCentre(Button(w, StringId::RES_BOOKWIN_ADD_CUSTOMER));
        QVERIFY(WaitForBook(rig));
        QVERIFY2(w->Status()->text().contains(QStringLiteral("Wang")), qPrintable(w->Status()->text()));
        QCOMPARE(w->CustomersTable()->rowCount(), 2);

        // The search field: only F1.
        ClickTab(w, 0);
        TypeInto(w, "bookSearch", QStringLiteral("F1"));
        QVERIFY(WaitForBook(rig));
        QCOMPARE(JobColumn(w, BookJobColumn::kLabel), QStringList{"F1"});
        TypeInto(w, "bookSearch", QString());
        QVERIFY(WaitForBook(rig));
        QCOMPARE(w->JobsModel()->rowCount(), 4);

        // A click on the area heading sorts by area, a second the other way.
        QHeaderView* head = w->JobsView()->horizontalHeader();
        const int area = static_cast<int>(BookJobColumn::kAreaMu);
        const QPoint at(head->sectionViewportPosition(area) + head->sectionSize(area) / 2, head->height() / 2);
        Click(head->viewport(), at);
        QCOMPARE(JobColumn(w, BookJobColumn::kLabel), (QStringList{"F1", "F2", "F3", "F4"}));
        Click(head->viewport(), at);
        QCOMPARE(JobColumn(w, BookJobColumn::kLabel), (QStringList{"F4", "F3", "F2", "F1"}));

        // F1 and F3 picked with the mouse and assigned to Wang: his harvesting price.
        ClickJob(w, "F1");
        ClickJob(w, "F3", Qt::ControlModifier);
        Choose(w, "assignTo", QStringLiteral("Wang"));
        ClickCentre(Button(w, StringId::RES_BOOKWIN_ASSIGN));
        QVERIFY(WaitForBook(rig));
        QCOMPARE(w->Status()->text(), QString::fromStdString(FormatText(StringId::RES_BOOK_ASSIGNED, 2)));
        // The list read anew, F1 and F3 stay picked for the next step (a bill).
        QStringList picked;
        for (const QModelIndex& i : w->JobsView()->selectionModel()->selectedRows())
            picked << JobColumn(w, BookJobColumn::kLabel).at(i.row());
        picked.sort();
        QCOMPARE(picked, (QStringList{"F1", "F3"}));

        // The customer filter: Wang's two jobs, each 80.00 a mu.
        Choose(w, "customerFilter", QStringLiteral("Wang"));
        QVERIFY(WaitForBook(rig));
        QStringList labels = JobColumn(w, BookJobColumn::kLabel);
        labels.sort();
        QCOMPARE(labels, (QStringList{"F1", "F3"}));
        const QString perMu = QStringLiteral("80.00 ") + T(StringId::RES_BOOKWIN_UNIT_MU);
        QCOMPARE(JobColumn(w, BookJobColumn::kPrice), (QStringList{perMu, perMu}));
        // A price that is no money is refused and changes nothing.
        ClickJob(w, "F1");
        TypeInto(w, "jobPrice", QStringLiteral("8o"));
        ClickCentre(Button(w, StringId::RES_BOOKWIN_SET_PRICE));
        QVERIFY(w->Status()->text().contains(QStringLiteral("8o")));
        // F3 at 95.50 a mu.
        ClickJob(w, "F3");
        TypeInto(w, "jobPrice", QStringLiteral("95.5"));
        ClickCentre(Button(w, StringId::RES_BOOKWIN_SET_PRICE));
        QVERIFY(WaitForBook(rig));
        QCOMPARE(JobColumn(w, BookJobColumn::kPrice).at(JobColumn(w, BookJobColumn::kLabel).indexOf("F3")),
                 QStringLiteral("95.50 ") + T(StringId::RES_BOOKWIN_UNIT_MU));

        // Both billed: the total is the sum of the rows' amounts.
        book::Fen total = 0;
        for (const QString& a : JobColumn(w, BookJobColumn::kAmount)) total += *book::ParseMoney(a.toStdString());
        QVERIFY(total > 0);
        w->JobsView()->setFocus();
        QTest::keyClick(w->JobsView(), Qt::Key_A, Qt::ControlModifier);
        ClickCentre(Button(w, StringId::RES_BOOKWIN_BILL));
        QVERIFY(WaitForBook(rig));
        const std::string number = book::BillNumber(QDate::currentDate().year(), 1);
        QCOMPARE(w->Status()->text(), QString::fromStdString(FormatText(StringId::RES_BOOKWIN_BILLED, number.c_str(),
                                                                        book::FormatMoney(total).c_str())));
        QCOMPARE(JobColumn(w, BookJobColumn::kBill), (QStringList{QString::fromStdString(number), QString::fromStdString(number)}));

        // Jobs of two customers cannot go on one bill.
        // Home picks the first choice, "(any)".
        auto* customers = w->findChild<QComboBox*>(QStringLiteral("customerFilter"));
        customers->setFocus();
        QTest::keyClick(customers, Qt::Key_Home);
        QCOMPARE(customers->currentText(), T(StringId::RES_BOOKWIN_ANY));
        QVERIFY(WaitForBook(rig));
        ClickJob(w, "F2");
        ClickJob(w, "F1", Qt::ControlModifier);
        ClickCentre(Button(w, StringId::RES_BOOKWIN_BILL));
        QCOMPARE(w->Status()->text(), T(StringId::RES_BOOKWIN_ONE_CUSTOMER));

        // A payment of 10 yuan against the bill.
        ClickTab(w, 2);
        QTableWidget* bills = w->BillsTable();
        QCOMPARE(bills->rowCount(), 1);
        QCOMPARE(bills->item(0, 6)->text(), T(StringId::RES_BOOKWIN_STATUS_BILLED));
        Click(bills->viewport(), bills->visualItemRect(bills->item(0, 0)).center());
        TypeInto(w, "payAmount", QStringLiteral("10"));
        ClickCentre(Button(w, StringId::RES_BOOKWIN_PAY));
        QVERIFY(WaitForBook(rig));
        QCOMPARE(bills->item(0, 4)->text(), QStringLiteral("10.00"));
        QCOMPARE(bills->item(0, 6)->text(), T(StringId::RES_BOOKWIN_STATUS_PART_PAID));
        QCOMPARE(bills->item(0, 5)->text(), QString::fromStdString(book::FormatMoney(total - 1000)));
        // More than is outstanding is refused; the figures stay.
        Click(bills->viewport(), bills->visualItemRect(bills->item(0, 0)).center());
        TypeInto(w, "payAmount", QString::fromStdString(book::FormatMoney(total)));
        ClickCentre(Button(w, StringId::RES_BOOKWIN_PAY));
        QVERIFY(WaitForBook(rig));
        QCOMPARE(w->Status()->styleSheet().isEmpty(), false);
        // The rule that refused, in the user's language, with the book's own detail.
        QVERIFY2(w->Status()->text().contains(T(StringId::RES_BOOK_ERR_INVALID)), qPrintable(w->Status()->text()));
        QVERIFY2(w->Status()->text().contains(QStringLiteral("outstanding")), qPrintable(w->Status()->text()));
        QCOMPARE(bills->item(0, 4)->text(), QStringLiteral("10.00"));

        // The season: Wang 2 jobs billed and 10 paid; 4 jobs overall.
        ClickTab(w, 3);
        QTableWidget* season = w->SeasonTable();
        QTRY_COMPARE_WITH_TIMEOUT(season->rowCount(), 3, kWaitMs);  // unassigned, Wang, all
        int wang = -1;
        for (int r = 0; r < season->rowCount(); ++r)
            if (season->item(r, 0)->text() == QStringLiteral("Wang")) wang = r;
        QVERIFY(wang >= 0);
        QCOMPARE(season->item(wang, 1)->text(), QStringLiteral("2"));
        QCOMPARE(season->item(wang, 3)->text(), QString::fromStdString(book::FormatMoney(total)));
        QCOMPARE(season->item(wang, 4)->text(), QStringLiteral("10.00"));
        QCOMPARE(season->item(wang, 5)->text(), QString::fromStdString(book::FormatMoney(total - 1000)));
        QCOMPARE(season->item(season->rowCount() - 1, 1)->text(), QStringLiteral("4"));

        // A job picked shows in the field view.
        ClickTab(w, 0);
        ClickJob(w, "F2");
        QTRY_VERIFY_WITH_TIMEOUT(rig.frame->FieldView()->Shown().endsWith(QStringLiteral("/F2.txt")), kWaitMs);

        // The language switch reaches the window: tabs, headings, choices and
        // the enum texts of the rows. A picture of each language for a look.
        QTest::qWait(100);
        QVERIFY(w->grab().save(QStringLiteral(DORVANE_BINARY_DIR "/book-window-zh.png")));
        QVERIFY(rig.frame->SwitchLanguage(1));
        QCOMPARE(w->Tabs()->tabText(0), T(StringId::RES_BOOKWIN_TAB_JOBS));
        QCOMPARE(w->Tabs()->tabText(0), QStringLiteral("Jobs"));
        QCOMPARE(w->JobsModel()->headerData(static_cast<int>(BookJobColumn::kAreaMu), Qt::Horizontal,
                                            Qt::DisplayRole),
                 QVariant(QStringLiteral("Area (mu)")));
        QVERIFY(JobColumn(w, BookJobColumn::kStatus).contains(QStringLiteral("billed")));
        QCOMPARE(w->findChild<QComboBox*>(QStringLiteral("customerFilter"))->itemText(0), QStringLiteral("(any)"));
        QTest::qWait(100);  // the layouts take the new texts' sizes
        QVERIFY(w->grab().save(QStringLiteral(DORVANE_BINARY_DIR "/book-window-en.png")));
    }

    // A bill is voided from the jobs it holds: its jobs are unbilled again.
    // The office book on a real PostgreSQL + PostGIS server (started for
    // this case), chosen with "Office book..." (an address with a password is
    // refused): the same window through the same clicks, files added from
    // the computer pane, a customer, assign and bill, all in the server.
    void VoidGivesTheJobsBack() {
        Rig rig;
        WriteFields(rig.computer.path(), {"V1", "V2"});
        rig.frame->ComputerPane()->Refresh();
        rig.frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.frame.get()));
        AddFromComputerPane(rig, {"V1.txt", "V2.txt"});
        CBookWindow* w = WaitForBook(rig);
        QVERIFY(w);
        ClickTab(w, 1);
        TypeInto(w, "customerName", QStringLiteral("Zhao"));
        TypeInto(w, "customerPrice0", QStringLiteral("60"));
        ClickCentre(Button(w, StringId::RES_BOOKWIN_ADD_CUSTOMER));
        QVERIFY(WaitForBook(rig));
        ClickTab(w, 0);
        w->JobsView()->setFocus();
        QTest::keyClick(w->JobsView(), Qt::Key_A, Qt::ControlModifier);
        Choose(w, "assignTo", QStringLiteral("Zhao"));
        ClickCentre(Button(w, StringId::RES_BOOKWIN_ASSIGN));
        QVERIFY(WaitForBook(rig));
        QTest::keyClick(w->JobsView(), Qt::Key_A, Qt::ControlModifier);
        ClickCentre(Button(w, StringId::RES_BOOKWIN_BILL));
        QVERIFY(WaitForBook(rig));
        const QString billed = JobStatusText(book::JobStatus::kBilled);
        QCOMPARE(JobColumn(w, BookJobColumn::kStatus), (QStringList{billed, billed}));

        // "No" keeps the bill; "Yes" voids it.
        const QString number = QString::fromStdString(book::BillNumber(QDate::currentDate().year(), 1));
        for (auto [answer, status] : {std::pair{QMessageBox::No, book::JobStatus::kBilled},
                                      std::pair{QMessageBox::Yes, book::JobStatus::kMeasured}}) {
            rig.answer = answer;
            rig.messages.clear();
            ClickJob(w, "V1");
            ClickCentre(Button(w, StringId::RES_BOOKWIN_VOID));
            QVERIFY(WaitForBook(rig));
            QCOMPARE(rig.messages,
                     QStringList{QString::fromStdString(FormatText(StringId::RES_BOOKWIN_VOID_ASK, number.toUtf8().constData()))});
            const QString s = JobStatusText(status);
            QCOMPARE(JobColumn(w, BookJobColumn::kStatus), (QStringList{s, s}));
        }
        ClickTab(w, 2);
        QCOMPARE(w->BillsTable()->item(0, 6)->text(), JobStatusText(book::JobStatus::kVoid));
    }

    // A job voided from the jobs tab: asked first, never billed, out of the season.
    void VoidJobLeavesItUnbilledAndOutOfTheSeason() {
        Rig rig;
        WriteFields(rig.computer.path(), {"W1", "W2", "W3"});
        rig.frame->ComputerPane()->Refresh();
        rig.frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.frame.get()));
        AddFromComputerPane(rig, {"W1.txt", "W2.txt", "W3.txt"});
        CBookWindow* w = WaitForBook(rig);
        QVERIFY(w);
        ClickTab(w, 1);
        TypeInto(w, "customerName", QStringLiteral("Sun"));
        TypeInto(w, "customerPrice0", QStringLiteral("60"));
        ClickCentre(Button(w, StringId::RES_BOOKWIN_ADD_CUSTOMER));
        QVERIFY(WaitForBook(rig));
        ClickTab(w, 0);
        w->JobsView()->setFocus();
        QTest::keyClick(w->JobsView(), Qt::Key_A, Qt::ControlModifier);
        Choose(w, "assignTo", QStringLiteral("Sun"));
        ClickCentre(Button(w, StringId::RES_BOOKWIN_ASSIGN));
        QVERIFY(WaitForBook(rig));

        const QString measured = JobStatusText(book::JobStatus::kMeasured);
        const QString voided = JobStatusText(book::JobStatus::kVoid);
        const QString billed = JobStatusText(book::JobStatus::kBilled);
        struct Step {
            QMessageBox::StandardButton answer;
            QStringList statuses;  ///< W1, W2, W3 afterwards
        };
        const Step steps[] = {{QMessageBox::No, {measured, measured, measured}},
                              {QMessageBox::Yes, {voided, measured, measured}}};
        for (const Step& step : steps) {
            rig.answer = step.answer;
            rig.messages.clear();
            ClickJob(w, "W1");
            ClickCentre(Button(w, StringId::RES_BOOKWIN_VOID_JOB));
            QVERIFY(WaitForBook(rig));
            QCOMPARE(rig.messages, QStringList{QString::fromStdString(FormatText(StringId::RES_BOOKWIN_VOID_JOB_ASK, 1))});
            QCOMPARE(JobColumn(w, BookJobColumn::kStatus), step.statuses);
        }
        QCOMPARE(w->Status()->text(), QString::fromStdString(FormatText(StringId::RES_BOOK_JOBS_VOIDED, 1)));

        // Billing all three is refused for the void one; W2 and W3 bill.
        QTest::keyClick(w->JobsView(), Qt::Key_A, Qt::ControlModifier);
        ClickCentre(Button(w, StringId::RES_BOOKWIN_BILL));
        QVERIFY(WaitForBook(rig));
        QVERIFY2(w->Status()->text().contains(QStringLiteral("void")), qPrintable(w->Status()->text()));
        QCOMPARE(JobColumn(w, BookJobColumn::kStatus), (QStringList{voided, measured, measured}));
        ClickJob(w, "W2");
        ClickJob(w, "W3", Qt::ControlModifier);
        ClickCentre(Button(w, StringId::RES_BOOKWIN_BILL));
        QVERIFY(WaitForBook(rig));
        QCOMPARE(JobColumn(w, BookJobColumn::kStatus), (QStringList{voided, billed, billed}));
        // A billed job is not voided: its bill is.
        rig.answer = QMessageBox::Yes;
        ClickJob(w, "W2");
        ClickCentre(Button(w, StringId::RES_BOOKWIN_VOID_JOB));
        QVERIFY(WaitForBook(rig));
        QVERIFY2(w->Status()->text().contains(QStringLiteral("void the bill first")), qPrintable(w->Status()->text()));
        QCOMPARE(JobColumn(w, BookJobColumn::kStatus), (QStringList{voided, billed, billed}));

        ClickTab(w, 3);
        QTableWidget* season = w->SeasonTable();
        QTRY_COMPARE_WITH_TIMEOUT(season->rowCount(), 2, kWaitMs);  // Sun, all
        QCOMPARE(season->item(0, 0)->text(), QStringLiteral("Sun"));
        QCOMPARE(season->item(0, 1)->text(), QStringLiteral("2"));
        QCOMPARE(season->item(1, 1)->text(), QStringLiteral("2"));
    }

    // "Back up the book...": the copy chosen is written while the book is
    // open; cancelling the chooser writes nothing, an existing file is kept.
    void BackUpTheBook() {
        Rig rig;
        WriteFields(rig.computer.path(), {"B1", "B2"});
        rig.frame->ComputerPane()->Refresh();
        rig.frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.frame.get()));
        AddFromComputerPane(rig, {"B1.txt", "B2.txt"});
        CBookWindow* w = WaitForBook(rig);
        QVERIFY(w);
        const QString copy = books_->filePath(QStringLiteral("copy.gpkg"));
        struct Step {
            QString chosen;
            bool refused;
        };
        const Step steps[] = {{QString(), false}, {copy, false}, {copy, true}};
        QStringList suggested, titles;
        for (const Step& step : steps) {
            w->SetSaveFileChooser([&](const QString& title, const QString& path) {
                titles << title;
                suggested << path;
                return step.chosen;
            });
            w->Status()->clear();
            ClickCentre(Button(w, StringId::RES_BOOKWIN_BACKUP));
            QVERIFY(WaitForBook(rig));
            QCOMPARE(QFileInfo::exists(copy), !step.chosen.isEmpty());
            if (step.chosen.isEmpty()) continue;
            if (step.refused)
                QVERIFY2(w->Status()->text().contains(QStringLiteral("exists already")), qPrintable(w->Status()->text()));
            else
                QCOMPARE(w->Status()->text(),
                         QString::fromStdString(FormatText(StringId::RES_BOOK_BACKED_UP, copy.toUtf8().constData())));
        }
        // Suggested beside the book, by the day.
        QCOMPARE(suggested.size(), 3);
        QCOMPARE(titles, QStringList(3, T(StringId::RES_BOOKWIN_BACKUP)));
        QCOMPARE(QFileInfo(suggested[0]).dir().absolutePath(), QDir(books_->path()).absolutePath());
        QVERIFY2(QFileInfo(suggested[0]).fileName().startsWith(QStringLiteral("book-")), qPrintable(suggested[0]));
        std::unique_ptr<book::BookStore> opened;
        QVERIFY(book::OpenGpkgBook(copy.toStdString(), {}, opened).ok());
        std::vector<book::Job> jobs;
        QVERIFY(opened->ListJobs({}, jobs).ok());
        QCOMPARE(jobs.size(), std::size_t{2});
        QCOMPARE(QString::fromStdString(jobs[1].label), QStringLiteral("B2"));
    }

    // The bills tab: "Open PDF" writes the selected bill and hands it to the
    // desktop; "Print..." paints it on the printer the dialog sets up (here a
    // PDF file, as a printer to file would).
    void BillPdfAndPrintThroughClicks() {
        Rig rig;
        WriteFields(rig.computer.path(), {"P1", "P2"});
        rig.frame->ComputerPane()->Refresh();
        rig.frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.frame.get()));
        AddFromComputerPane(rig, {"P1.txt", "P2.txt"});
        CBookWindow* w = WaitForBook(rig);
        QVERIFY(w);
        ClickTab(w, 1);
        TypeInto(w, "customerName", QStringLiteral("Qian"));
        TypeInto(w, "customerPrice0", QStringLiteral("70"));
        ClickCentre(Button(w, StringId::RES_BOOKWIN_ADD_CUSTOMER));
        QVERIFY(WaitForBook(rig));
        ClickTab(w, 0);
        w->JobsView()->setFocus();
        QTest::keyClick(w->JobsView(), Qt::Key_A, Qt::ControlModifier);
        Choose(w, "assignTo", QStringLiteral("Qian"));
        ClickCentre(Button(w, StringId::RES_BOOKWIN_ASSIGN));
        QVERIFY(WaitForBook(rig));
        QTest::keyClick(w->JobsView(), Qt::Key_A, Qt::ControlModifier);
        ClickCentre(Button(w, StringId::RES_BOOKWIN_BILL));
        QVERIFY(WaitForBook(rig));
        const QString number = QString::fromStdString(book::BillNumber(QDate::currentDate().year(), 1));

        QTemporaryDir out;
        w->SetBillFolder(out.path());
        QList<QUrl> opened;
        w->SetOpenUrl([&](const QUrl& u) { opened << u; });
        ClickTab(w, 2);
        QTableWidget* bills = w->BillsTable();
        QTRY_COMPARE_WITH_TIMEOUT(bills->rowCount(), 1, kWaitMs);
        // Nothing selected: nothing written.
        bills->clearSelection();
        ClickCentre(Button(w, StringId::RES_BOOKWIN_OPEN_PDF));
        QVERIFY(WaitForBook(rig));
        QCOMPARE(w->Status()->text(), T(StringId::RES_BOOKWIN_NO_BILL));
        QVERIFY(opened.isEmpty());

        auto words = [](const QString& pdf) {
            QProcess p;
            p.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
            return p.waitForFinished(kWaitMs) ? QString::fromUtf8(p.readAllStandardOutput()) : QString();
        };
        Click(bills->viewport(), bills->visualItemRect(bills->item(0, 0)).center());
        ClickCentre(Button(w, StringId::RES_BOOKWIN_OPEN_PDF));
        QVERIFY(WaitForBook(rig));
        const QString pdf = QDir(out.path()).filePath(QStringLiteral("bill-") + number + QStringLiteral(".pdf"));
        QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(pdf)});
        QCOMPARE(w->Status()->text(), QString::fromStdString(FormatText(StringId::RES_BOOKWIN_PDF_WRITTEN,
                                                                         number.toUtf8().constData(),
                                                                         pdf.toUtf8().constData())));
        const QString text = words(pdf);
        for (const QString& word : {number, QStringLiteral("Qian"), QStringLiteral("P1"), QStringLiteral("P2")})
            QVERIFY2(text.contains(word), qPrintable(word + QStringLiteral(" not in: ") + text));
        {
            // Without the pages of maps the first page still starts with the
            // fields' map: their colour on the page (pdftoppm at 40 dpi).
            const QString png = QDir(out.path()).filePath(QStringLiteral("page"));
            QProcess raster;
            raster.start(QStringLiteral("pdftoppm"), {QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"),
                                                      QStringLiteral("1"), QStringLiteral("-r"), QStringLiteral("40"),
                                                      QStringLiteral("-png"), QStringLiteral("-singlefile"), pdf, png});
            QVERIFY(raster.waitForFinished(kWaitMs) && raster.exitCode() == 0);
            const QImage page(png + QStringLiteral(".png"));
            QVERIFY(!page.isNull());
            const QColor fill = map::CategoryColour(0);
            QVERIFY(fill.green() > fill.red() + 40);  // the first category's colour: green above red and blue
            int green = 0;
            for (int y = 0; y < page.height(); ++y)
                for (int x = 0; x < page.width(); ++x) {
                    const QColor c = page.pixelColor(x, y);
                    if (c.green() > c.red() + 40 && c.green() > c.blue() + 10) ++green;
                }
            QVERIFY2(green > 30, qPrintable(QString::number(green)));
        }

        struct Step {
            bool accept;
            bool printed;
        };
        const QString printed = QDir(out.path()).filePath(QStringLiteral("printed.pdf"));
        for (const Step& step : {Step{false, false}, Step{true, true}}) {
            int asked = 0;
            w->SetPrinterChooser([&](QPrinter& printer) {
                ++asked;
                printer.setOutputFormat(QPrinter::PdfFormat);
                printer.setOutputFileName(printed);
                return step.accept;
            });
            ClickCentre(Button(w, StringId::RES_BOOKWIN_PRINT));
            QVERIFY(WaitForBook(rig));
            QCOMPARE(asked, 1);
            QCOMPARE(QFileInfo::exists(printed), step.printed);
        }
        QCOMPARE(w->Status()->text(),
                 QString::fromStdString(FormatText(StringId::RES_BOOKWIN_PRINTED, number.toUtf8().constData())));
        const QString paper = words(printed);
        for (const QString& word : {number, QStringLiteral("Qian"), QStringLiteral("P2")})
            QVERIFY2(paper.contains(word), qPrintable(word + QStringLiteral(" not in: ") + paper));

        // "With field maps": the PDF gets its page of maps, drawn with progress.
        SaveTileSettings(TileSettingsFor(QStringLiteral("none")));
        auto* maps = w->findChild<QCheckBox*>(QStringLiteral("billPictures"));
        QVERIFY(maps);
        QCOMPARE(maps->text(), T(StringId::RES_BOOKWIN_WITH_MAPS));
        ClickCentre(maps);
        QVERIFY(maps->isChecked());
        opened.clear();
        ClickCentre(Button(w, StringId::RES_BOOKWIN_OPEN_PDF));
        QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, kWaitMs);
        QVERIFY(WaitForBook(rig));
        const QString withMaps = words(pdf);
        QVERIFY2(withMaps.contains(T(StringId::RES_BILL_PICTURES)), qPrintable(withMaps));
        QVERIFY(withMaps.contains(QStringLiteral("Qian")));

        // Cancel while the first map waits for a tile server that never
        // answers: no PDF, nothing opened, and the window says so.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        SaveTileSettings(TileSettingsFor(QStringLiteral("http://127.0.0.1:%1/{z}/{x}/{y}.png").arg(silent.serverPort())));
        QVERIFY(QFile::remove(pdf));
        opened.clear();
        int cancels = 0;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            auto* cancel = w->findChild<QPushButton*>(QStringLiteral("progressCancel"));
            if (!cancel || !cancel->isVisible() || cancels > 0) return;
            ++cancels;
            ClickCentre(cancel);
        });
        poll.start(50);
        ClickCentre(Button(w, StringId::RES_BOOKWIN_OPEN_PDF));
        const QString stopped =
            QString::fromStdString(FormatText(StringId::RES_BOOKWIN_PDF_CANCELLED, number.toUtf8().constData()));
        QTRY_COMPARE_WITH_TIMEOUT(w->Status()->text(), stopped, 4 * kWaitMs);
        poll.stop();
        QCOMPARE(cancels, 1);
        QVERIFY(opened.isEmpty());
        QVERIFY(!QFileInfo::exists(pdf));
        QVERIFY(QDir(out.path()).entryList({QStringLiteral("*.tmp*"), QStringLiteral(".*pdf*")}, QDir::Files).isEmpty());
        SaveTileSettings(TileSettingsFor(QStringLiteral("none")));
    }

    // Files dropped on the window and the ledger's "Add all to book".
    void DropAndLedger() {
        Rig rig;
        const QString dir = rig.computer.path();
        WriteFields(dir, {"D1", "D2", "D3"});
        WriteFile(dir + "/notes.txt", 40);
        CBookWindow* w = rig.frame->Book()->Show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QVERIFY(WaitForBook(rig));
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(dir + "/D1.txt"), QUrl::fromLocalFile(dir + "/notes.txt")});
        const QPoint at = w->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w, &drop);
        QVERIFY(WaitForBook(rig));
        QCOMPARE(JobColumn(w, BookJobColumn::kLabel), QStringList{"D1"});
        // The file that is no field says why on the status line.
        QCOMPARE(w->Status()->text(), QString::fromStdString(FormatText(StringId::RES_BOOK_ADD_SUMMARY, 1, 0, 1)));
        QVERIFY(w->Status()->toolTip().contains(QStringLiteral("notes.txt")));

        // The ledger of the folder, then "Add all to book": D1 is there already.
        rig.frame->ComputerPane()->ListFolder(dir);
        rig.frame->SetActivePane(rig.frame->ComputerPane());
        rig.frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.frame.get()));
        rig.frame->RunCommand(cmd::kLedger);
        CLedgerWindow* ledger = rig.frame->Ledger();
        QVERIFY(ledger);
        QTRY_VERIFY_WITH_TIMEOUT(!ledger->Loading(), kWaitMs);
        QVERIFY(QTest::qWaitForWindowExposed(ledger));
        ClickCentre(Button(ledger, StringId::RES_BOOKWIN_ADD_ALL));
        QVERIFY(WaitForBook(rig));
        QStringList labels = JobColumn(w, BookJobColumn::kLabel);
        labels.sort();
        QCOMPARE(labels, (QStringList{"D1", "D2", "D3"}));
        QCOMPARE(w->Status()->text(), QString::fromStdString(FormatText(StringId::RES_BOOK_ADD_SUMMARY, 2, 1, 0)));
    }

    // Downloads enter the book as they are stored (converted or not), unless
    // the setting is off.
    void DownloadsEnterTheBook_data() {
        QTest::addColumn<bool>("addDownloads");
        QTest::addColumn<bool>("convert");
        QTest::addColumn<QStringList>("labels");
        QTest::addColumn<QString>("suffix");
        // The converted KML keeps the handheld's name; its job is read from
        // the ".bak" beside it, and the two are one job.
        QTest::newRow("as received") << true << false << QStringList{"N1", "N2"} << ".txt";
        QTest::newRow("converted to KML") << true << true << QStringList{"N1", "N2"} << ".txt";
        QTest::newRow("setting off") << false << false << QStringList{} << "";
    }
    void DownloadsEnterTheBook() {
        QFETCH(bool, addDownloads);
        QFETCH(bool, convert);
        QFETCH(QStringList, labels);
        QFETCH(QString, suffix);
        // Two files: the status counts the whole copy, not only its last file.
        Rig rig({}, [](const QString& device) { WriteFields(device, {"N1", "N2"}); });
        rig.frame->SetConvertOnDownload(convert);
        if (rig.frame->Action(cmd::kBookDownloads)->isChecked() != addDownloads)
            rig.frame->Action(cmd::kBookDownloads)->trigger();
        QCOMPARE(AddDownloadsToBook(), addDownloads);
        QVERIFY(rig.Connect());
        QTRY_COMPARE_WITH_TIMEOUT(rig.DeviceList()->RowCount(), 2, kWaitMs);
        rig.ActivateDevice();
        rig.DeviceList()->Row(0).SetSelected(true);
        rig.DeviceList()->Row(1).SetSelected(true);
        rig.frame->RunCommand(cmd::kCopy);
        for (const char* n : {"N2", "N1"})
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(rig.computer.filePath(QLatin1String(n) + QStringLiteral(".txt"))) ||
                                         QFileInfo::exists(rig.computer.filePath(QLatin1String(n) + QStringLiteral(".kml"))),
                                     kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(rig.frame->Book()->Idle(), kWaitMs);
        // The status bar tells what became of the download.
        if (addDownloads)
            QTRY_COMPARE_WITH_TIMEOUT(rig.frame->StatusText(status_pane::kMessage),
                                      QString::fromStdString(FormatText(
                                          StringId::RES_BOOKWIN_DOWNLOADS_ADDED,
                                          FormatText(StringId::RES_BOOK_ADD_SUMMARY, 2, 0, 0).c_str())),
                                      kWaitMs);
        CBookWindow* w = rig.frame->Book()->Show();
        QVERIFY(WaitForBook(rig));
        QStringList shown = JobColumn(w, BookJobColumn::kLabel);
        shown.sort();
        QCOMPARE(shown, labels);
        if (!labels.isEmpty()) {
            for (const QString& file : JobColumn(w, BookJobColumn::kFile))
                QVERIFY2(file.endsWith(suffix), qPrintable(file));
            QCOMPARE(QFileInfo::exists(rig.computer.filePath(QStringLiteral("N1.bak"))), convert);
            SetAddDownloadsToBook(true);
        }
        rig.frame->SetConvertOnDownload(false);
    }

private:
    std::unique_ptr<QTemporaryDir> books_;
};

}  // namespace dorvane::test

QTEST_MAIN(dorvane::test::TestBookWindow)
#include "test_book_window.moc"
