// The Book window's overlaps through clicks: the Overlaps tab lists the pairs
// of fields that share ground, a click on a pair selects both jobs, and a
// bill of a field measured twice asks "measured twice? bill both?" (No keeps
// the jobs unbilled, Yes bills both) while a pair of neighbours is billed
// without a question. A shape's job shows its file in the field view, and a
// file of many fields dropped on the window is a job per field.

#include <QTableWidget>
#include <fstream>

#include "book/job_shapes.h"
#include "book/open_book.h"
#include "book_window_rig.h"
#include "ui/field_view.h"

namespace dorvane::test {
namespace {

using namespace book_rig;

/// A square of `side` degrees at lon, lat as a GeoJSON feature named `name`.
std::string Square(const char* name, double lon, double lat, double side) {
    return QString::asprintf(R"({"type":"Feature","properties":{"name":"%s"},"geometry":{"type":"Polygon",)"
                             R"("coordinates":[[[%.7f,%.7f],[%.7f,%.7f],[%.7f,%.7f],[%.7f,%.7f],[%.7f,%.7f]]]}})",
                             name, lon, lat, lon + side, lat, lon + side, lat + side, lon, lat + side, lon, lat)
        .toStdString();
}

/// P2 is P1 walked again 5 % of a side to the east (95 % shared: measured
/// twice?); Q2 overlaps its neighbour Q1 by 30 %; R overlaps nothing.
constexpr double kSide = 0.001;

QStringList SelectedLabels(CBookWindow* w) {
    QStringList out;
    for (const QModelIndex& i : w->JobsView()->selectionModel()->selectedRows())
        out << w->JobsModel()->data(w->JobsModel()->index(i.row(), static_cast<int>(BookJobColumn::kLabel)), Qt::DisplayRole)
                   .toString();
    out.sort();
    return out;
}

void ClickPair(CBookWindow* w, int row) {
    QTableWidget* t = w->OverlapsTable();
    QVERIFY(t->item(row, 0));
    Click(t->viewport(), t->visualItemRect(t->item(row, 0)).center());
}

}  // namespace

class TestBookOverlaps : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        UseScratchHome();
        qputenv("TZ", "UTC");
    }
    void init() {
        const QString book = FreshBook(books_);
        // The village's fields go in before the window opens, priced for Zhao.
        const std::filesystem::path file = books_->filePath(QStringLiteral("village.geojson")).toStdString();
        std::ofstream(file, std::ios::binary) << (R"({"type":"FeatureCollection","features":[)" +
                                         Square("P1", 100.0, 30.0, kSide) + "," +
                                         Square("P2", 100.0 + 0.05 * kSide, 30.0, kSide) + "," +
                                         Square("Q1", 100.01, 30.0, kSide) + "," +
                                         Square("Q2", 100.01 + 0.7 * kSide, 30.0, kSide) + "," +
                                         Square("R", 100.02, 30.0, kSide) + "]}");
        std::unique_ptr<book::BookStore> store;
        QVERIFY(book::OpenBook(book.toStdString(), {}, store).ok());
        book::Customer c;
        c.name = "Zhao";
        c.defaultPriceFen[static_cast<int>(book::WorkType::kHarvesting)] = 8000;
        book::CustomerId id = 0;
        QVERIFY(store->AddCustomer(c, id).ok());
        std::vector<book::Measurement> ms;
        std::vector<geo::FeatureProblem> problems;
        QVERIFY(book::ReadJobs(file, ms, problems).ok());
        QCOMPARE(ms.size(), std::size_t{5});
        book::JobTerms terms;
        terms.customer = "Zhao";
        std::vector<book::AddOutcome> outcomes;
        QVERIFY(store->AddJobs(ms, terms, outcomes).ok());
    }

    void AClickOnAPairSelectsBothJobs() {
        Rig rig;
        CBookWindow* w = rig.frame->Book()->Show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QVERIFY(WaitForBook(rig));
        ClickTab(w, 4);
        QCOMPARE(w->Tabs()->tabText(4), T(StringId::RES_BOOK_TAB_OVERLAPS));
        QVERIFY(WaitForBook(rig));
        QTableWidget* t = w->OverlapsTable();
        QCOMPARE(t->rowCount(), 2);
        struct Pair {
            QStringList labels;
            QString share;
            bool twice;
        };
        const Pair pairs[] = {{{"P1", "P2"}, "95.0 %", true}, {{"Q1", "Q2"}, "30.0 %", false}};
        for (int row = 0; row < 2; ++row) {
            const Pair& p = pairs[row];
            QVERIFY(t->item(row, 0)->text().contains(p.labels[0]));
            QVERIFY(t->item(row, 1)->text().contains(p.labels[1]));
            QCOMPARE(t->item(row, 4)->text(), p.share);
            QCOMPARE(t->item(row, 5)->text().isEmpty(), !p.twice);
        }
        // Each pair clicked: the jobs list comes back with both selected.
        for (const int row : {1, 0}) {
            ClickTab(w, 4);
            ClickPair(w, row);
            QTRY_COMPARE_WITH_TIMEOUT(w->Tabs()->currentIndex(), 0, kWaitMs);
            QCOMPARE(SelectedLabels(w), pairs[row].labels);
        }
    }

    void ABillOfAFieldMeasuredTwiceAsksFirst() {
        Rig rig;
        CBookWindow* w = rig.frame->Book()->Show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QVERIFY(WaitForBook(rig));
        const QString measured = JobStatusText(book::JobStatus::kMeasured);
        const QString billed = JobStatusText(book::JobStatus::kBilled);
        struct Step {
            QStringList jobs;  ///< clicked, Ctrl for the rest
            QMessageBox::StandardButton answer;
            bool asked;
            QString status;  ///< of those jobs afterwards
        };
        const Step steps[] = {
            {{"P1", "P2"}, QMessageBox::No, true, measured},
            {{"Q1", "Q2"}, QMessageBox::No, false, billed},
            {{"P1", "P2"}, QMessageBox::Yes, true, billed},
        };
        for (const Step& s : steps) {
            rig.messages.clear();
            rig.answer = s.answer;
            for (int i = 0; i < s.jobs.size(); ++i)
                ClickJob(w, s.jobs[i], i ? Qt::ControlModifier : Qt::NoModifier);
            QCOMPARE(SelectedLabels(w), s.jobs);
            // A shape's job shows the file it came from in the field view.
            QTRY_VERIFY_WITH_TIMEOUT(rig.frame->FieldView()->Shown().endsWith(QStringLiteral("/village.geojson")),
                                     kWaitMs);
            ClickCentre(Button(w, StringId::RES_BOOKWIN_BILL));
            QVERIFY(WaitForBook(rig));
            QCOMPARE(rig.messages.size(), s.asked ? 1 : 0);
            if (s.asked) {
                QVERIFY(rig.messages[0].startsWith(T(StringId::RES_BOOK_MEASURED_TWICE_ASK)));
                QVERIFY(rig.messages[0].contains("P1"));
                QVERIFY(rig.messages[0].contains("P2"));
            }
            if (s.asked && s.answer == QMessageBox::No)
                QVERIFY(w->Status()->text().startsWith(
                    QString::fromStdString(FormatText(StringId::RES_BOOK_NOT_BILLED_TWICE, ""))));
            const QStringList labels = JobColumn(w, BookJobColumn::kLabel);
            const QStringList status = JobColumn(w, BookJobColumn::kStatus);
            for (const QString& j : s.jobs) QCOMPARE(status[labels.indexOf(j)], s.status);
        }
    }

    // A village's file dropped on the window: a job per field, and the
    // feature off the globe named by its number on the status line.
    void AFileOfManyFieldsDroppedIsAJobPerField() {
        Rig rig;
        const QString file = rig.computer.filePath(QStringLiteral("more.geojson"));
        std::ofstream(file.toStdString(), std::ios::binary)
            << (R"({"type":"FeatureCollection","features":[)" + Square("S1", 101.0, 30.0, kSide) + "," +
                Square("S2", 201.0, 95.0, kSide) + "," + Square("S3", 101.01, 30.0, kSide) + "]}");
        CBookWindow* w = rig.frame->Book()->Show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QVERIFY(WaitForBook(rig));
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(file)});
        const QPoint at = w->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w, &drop);
        QVERIFY(WaitForBook(rig));
        const QStringList labels = JobColumn(w, BookJobColumn::kLabel);
        QVERIFY(labels.contains("S1"));
        QVERIFY(labels.contains("S3"));
        QVERIFY(!labels.contains("S2"));
        QCOMPARE(w->Status()->text(), QString::fromStdString(FormatText(StringId::RES_BOOK_ADD_SUMMARY, 2, 0, 1)));
        QVERIFY(w->Status()->toolTip().contains(file + " #2"));
        const QStringList files = JobColumn(w, BookJobColumn::kFile);
        QVERIFY(files.contains(file + QStringLiteral(" › S3")));
    }

private:
    std::unique_ptr<QTemporaryDir> books_;
};

}  // namespace dorvane::test

QTEST_MAIN(dorvane::test::TestBookOverlaps)
#include "test_book_overlaps.moc"
