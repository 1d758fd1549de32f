// The Book window over a book longer than a page: the jobs table reads the
// list from the store a page at a time as the user scrolls (Ctrl+End), a
// click on a heading asks the store for the list in that order, the village
// filter is the store's, "N of M jobs shown" counts the whole list, and
// Ctrl+A then assign or bill acts on every matching job, the pages never
// scrolled to included.
#include <QHeaderView>
#include <QLabel>
#include <QComboBox>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include "book/book_fixture.h"
#include "book/gpkg_store.h"
#include "book/job_pages.h"
#include "book/job_source.h"
#include "book/money.h"
#include "geo/field_file.h"
#include "gui_rig.h"
#include "ui/book_desk.h"
#include "ui/book_jobs_model.h"
#include "ui/book_service.h"
#include "ui/book_window.h"

namespace dorvane::test {
namespace {

/// Two whole pages and part of a third.
constexpr int kJobs = 2 * static_cast<int>(book::kJobPageRows) + 234;
/// Jobs 1..kEast are in the village East (all on the first page in id order).
constexpr int kEast = 100;
/// Wang's harvesting price, yuan a mu: assigning him prices the jobs.
constexpr book::Fen kWangPriceFen = 8000;

QString T(StringId id) {
    return QString::fromStdString(Text(id));
}

QString Shown(int n, int of) {
    return QString::fromStdString(FormatText(StringId::RES_BOOKWIN_SHOWN, n, of));
}

void Click(QWidget* w, QPoint at, Qt::KeyboardModifiers mods = {}) {
    QWidget* top = w->window();
    QTest::mouseClick(top->windowHandle(), Qt::LeftButton, mods, w->mapTo(top, at));
}

QPushButton* Button(QWidget* w, StringId text) {
    for (auto* b : w->findChildren<QPushButton*>())
        if (b->text() == T(text) && b->isVisible()) return b;
    return nullptr;
}

void ClickHeading(CBookWindow* w, BookJobColumn c) {
    QHeaderView* head = w->JobsView()->horizontalHeader();
    const int s = static_cast<int>(c);
    Click(head->viewport(), QPoint(head->sectionViewportPosition(s) + head->sectionSize(s) / 2, head->height() / 2));
}

QString Cell(CBookWindow* w, int row, BookJobColumn c) {
    return w->JobsModel()->data(w->JobsModel()->index(row, static_cast<int>(c)), Qt::DisplayRole).toString();
}

QString Label(int i) {
    return QStringLiteral("F%1").arg(i, 4, 10, QLatin1Char('0'));
}

/// Picks `text` in the combo box named `name` by typing it.
void Choose(CBookWindow* w, const char* name, const QString& text) {
    auto* c = w->findChild<QComboBox*>(QLatin1String(name));
    QVERIFY2(c, name);
    c->setFocus();
    QTest::keyClicks(c, text);
    QTRY_COMPARE_WITH_TIMEOUT(c->currentText(), text, kWaitMs);
}

/// The book at `path`: kJobs fields labelled F0000..., kEast of them in East,
/// and the customer Wang.
bool MakeBook(const std::string& path) {
    std::unique_ptr<book::BookStore> b;
    if (!book::OpenGpkgBook(path, {}, b).ok()) return false;
    std::vector<book::Measurement> ms;
    for (int i = 0; i < kJobs; ++i) {
        const AreaFile a = testing::SquareField(100.0f + 0.002f * static_cast<float>(i), 30.0f,
                                                0.0008f + 0.0001f * static_cast<float>(i % 5));
        const std::string bytes = WriteArea(a);
        const std::span<const std::uint8_t> raw(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        geo::FieldFile f;
        geo::ReadFieldBytes(raw, "F.txt", f);
        book::Measurement m = book::MeasurementOf(f, raw, "/season/F" + std::to_string(i) + ".txt");
        m.label = Label(i).toStdString();
        ms.push_back(std::move(m));
    }
    std::vector<book::AddOutcome> out;
    if (!b->AddJobs(ms, {}, out).ok() || static_cast<int>(out.size()) != kJobs) return false;
    book::JobTerms east;
    east.village = "East";
    std::vector<book::JobId> ids;
    for (int i = 1; i <= kEast; ++i) ids.push_back(i);
    if (!b->AssignJobs(ids, east).ok()) return false;
    book::Customer wang;
    wang.name = "Wang";
    wang.defaultPriceFen[static_cast<int>(book::WorkType::kHarvesting)] = kWangPriceFen;
    book::CustomerId id = 0;
    return b->AddCustomer(wang, id).ok();
}

CBookWindow* WaitForBook(Rig& rig) {
    CBookWindow* w = rig.frame->Book()->Window();
    if (!w || !QTest::qWaitFor([&] { return rig.frame->Book()->Idle(); }, kWaitMs)) return nullptr;
    return w;
}

}  // namespace

class TestBookPaging : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        UseScratchHome();
        qputenv("TZ", "UTC");
    }

    void PagesScrollSortFilterAndSelectAll() {
        ResetToDefaults();
        QTemporaryDir books;
        const QString path = books.filePath(QStringLiteral("book.gpkg"));
        QElapsedTimer made;
        made.start();
        QVERIFY(MakeBook(path.toStdString()));
        qInfo("book of %d jobs made in %lld ms", kJobs, static_cast<long long>(made.elapsed()));
        SetBookLocationForRun(path);
        Rig rig;
        rig.frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.frame.get()));
        rig.ComputerList()->setFocus();
        QTest::keyClick(rig.ComputerList(), Qt::Key_B, Qt::ControlModifier);
        CBookWindow* w = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((w = rig.frame->Book()->Window()) && w->isVisible(), kWaitMs);
        QVERIFY(QTest::qWaitForWindowActive(w));
        QVERIFY(WaitForBook(rig));
        auto* shown = w->findChild<QLabel*>(QStringLiteral("jobsShown"));
        QVERIFY(shown);

        // Opened on the first page; the count is the whole list's.
        const int page = static_cast<int>(book::kJobPageRows);
        QCOMPARE(w->JobsModel()->rowCount(), page);
        QCOMPARE(shown->text(), Shown(kJobs, kJobs));
        QCOMPARE(Cell(w, 0, BookJobColumn::kLabel), Label(0));

        // Ctrl+End at the bottom of what is read asks for the next page, until the end.
        QTableView* v = w->JobsView();
        const QModelIndex first = w->JobsModel()->index(0, static_cast<int>(BookJobColumn::kLabel));
        Click(v->viewport(), v->visualRect(first).center());
        for (const int rows : {2 * page, kJobs, kJobs}) {
            QTest::keyClick(v, Qt::Key_End, Qt::ControlModifier);
            QTRY_COMPARE_WITH_TIMEOUT(w->JobsModel()->rowCount(), rows, kWaitMs);
            QVERIFY(WaitForBook(rig));
        }
        QVERIFY(w->JobsModel()->Complete());
        for (int r = 0; r < kJobs; r += 97) QCOMPARE(Cell(w, r, BookJobColumn::kLabel), Label(r));
        QCOMPARE(shown->text(), Shown(kJobs, kJobs));

        // The village filter goes to the store.
        Choose(w, "villageFilter", QStringLiteral("East"));
        QVERIFY(WaitForBook(rig));
        QTRY_COMPARE_WITH_TIMEOUT(w->JobsModel()->rowCount(), kEast, kWaitMs);
        QCOMPARE(shown->text(), Shown(kEast, kJobs));
        auto* village = w->findChild<QComboBox*>(QStringLiteral("villageFilter"));
        village->setFocus();
        QTest::keyClick(village, Qt::Key_Home);  // "(any)" heads the list
        QTRY_COMPARE_WITH_TIMEOUT(village->currentText(), T(StringId::RES_BOOKWIN_ANY), kWaitMs);
        QVERIFY(WaitForBook(rig));
        // A new list from its first page, shown from its top.
        QTRY_COMPARE_WITH_TIMEOUT(shown->text(), Shown(kJobs, kJobs), kWaitMs);
        QCOMPARE(w->JobsModel()->rowCount(), page);
        QVERIFY(!w->JobsModel()->Complete());

        // A heading clicked over a list not read whole: the store's order,
        // a page of it; a second click the other way.
        struct Step {
            QString top, last;  ///< labels of the first row and of the page's last
        };
        const Step steps[] = {{Label(0), Label(page - 1)}, {Label(kJobs - 1), Label(kJobs - page)}};
        for (const Step& s : steps) {
            ClickHeading(w, BookJobColumn::kLabel);
            QVERIFY(WaitForBook(rig));
            QTRY_COMPARE_WITH_TIMEOUT(Cell(w, 0, BookJobColumn::kLabel), s.top, kWaitMs);
            QCOMPARE(w->JobsModel()->rowCount(), page);
            QCOMPARE(Cell(w, page - 1, BookJobColumn::kLabel), s.last);
            QVERIFY(!w->JobsModel()->Complete());
        }

        // Ctrl+A and assign: every matching job, not only the page read.
        v->setFocus();
        QTest::keyClick(v, Qt::Key_A, Qt::ControlModifier);
        Choose(w, "assignTo", QStringLiteral("Wang"));
        Click(Button(w, StringId::RES_BOOKWIN_ASSIGN), Button(w, StringId::RES_BOOKWIN_ASSIGN)->rect().center());
        QVERIFY(WaitForBook(rig));
        QCOMPARE(w->Status()->text(), QString::fromStdString(FormatText(StringId::RES_BOOK_ASSIGNED, kJobs)));
        QVERIFY(WaitForBook(rig));
        QVERIFY(!w->JobsModel()->Complete());

        // Ctrl+A and bill: one bill of every job.
        v->setFocus();
        QTest::keyClick(v, Qt::Key_A, Qt::ControlModifier);
        Click(Button(w, StringId::RES_BOOKWIN_BILL), Button(w, StringId::RES_BOOKWIN_BILL)->rect().center());
        QVERIFY(WaitForBook(rig));

        std::unique_ptr<book::BookStore> b;
        QVERIFY(book::OpenGpkgBook(path.toStdString(), {}, b).ok());
        book::JobFilter billed;
        billed.customer = "Wang";
        billed.status = book::JobStatus::kBilled;
        std::int64_t n = 0;
        QVERIFY(b->CountJobs(billed, n).ok());
        QCOMPARE(n, std::int64_t{kJobs});
        std::vector<book::Bill> bills;
        QVERIFY(b->ListBills("Wang", bills).ok());
        QCOMPARE(bills.size(), std::size_t{1});
        QCOMPARE(w->Status()->text(),
                 QString::fromStdString(FormatText(StringId::RES_BOOKWIN_BILLED, bills[0].number.c_str(),
                                                   book::FormatMoney(bills[0].totalFen).c_str())));
        w->close();
    }
};

}  // namespace dorvane::test

QTEST_MAIN(dorvane::test::TestBookPaging)
#include "test_book_paging.moc"
