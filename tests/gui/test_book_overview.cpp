// The Book window's map of its jobs, through clicks: a field clicked selects
// its job's row, a row clicked outlines its field, the filter takes fields
// off the map with their rows, and the colour switch recolours the fields
// and the legend (status or customer). Pixels of the grabbed map counted.
#include <QComboBox>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

#include "book/open_book.h"
#include "book/job_source.h"
#include "gui_rig.h"
#include "report/field_samples.h"
#include "ui/book_desk.h"
#include "ui/book_jobs_model.h"
#include "ui/book_service.h"
#include "ui/book_window.h"
#include "ui/overview_widget.h"

namespace dorvane::test {
namespace {

using testing::SampleField;

/// The jobs put into the book before the window opens: label, customer.
struct Planted {
    const char* label;
    const char* customer;
};
constexpr Planted kJobs[] = {{"W1", "Zhao"}, {"W2", "Qian"}, {"W3", "Zhao"}};

void Click(QWidget* w, QPoint at) {
    QWidget* top = w->window();
    QTest::mouseClick(top->windowHandle(), Qt::LeftButton, {}, w->mapTo(top, at));
}

CBookWindow* WaitForBook(Rig& rig) {
    CBookWindow* w = rig.frame->Book()->Window();
    if (!w || !QTest::qWaitFor([&] { return rig.frame->Book()->Idle(); }, kWaitMs)) return nullptr;
    return w;
}

QString LabelOfRow(CBookWindow* w, int row) {
    return w->JobsModel()->data(w->JobsModel()->index(row, static_cast<int>(BookJobColumn::kLabel)), Qt::DisplayRole)
        .toString();
}

QString SelectedLabel(CBookWindow* w) {
    const QModelIndexList rows = w->JobsView()->selectionModel()->selectedRows();
    return rows.size() == 1 ? LabelOfRow(w, rows.front().row()) : QString();
}

/// The map's field of the job labelled `label` (-1: not on the map).
int FieldOf(CBookWindow* w, const QString& label) {
    const auto& fields = w->Overview()->Map().Fields();
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (fields[i].name == label) return static_cast<int>(i);
    return -1;
}

WorldPoint Centre(const std::vector<WorldPoint>& ring) {
    WorldPoint c{0, 0};
    for (const WorldPoint& p : ring) c = {c.x + p.x / ring.size(), c.y + p.y / ring.size()};
    return c;
}

/// The view close to `field` (about 150 px wide), as the wheel would take it.
void CloseTo(COverviewWidget* map, int field) {
    const auto& ring = map->Map().Fields()[static_cast<std::size_t>(field)].ring;
    double x0 = 1, x1 = 0;
    for (const WorldPoint& p : ring) {
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
    }
    const WorldPoint c = Centre(ring);
    map->SetView({c.x, c.y, std::log2(150.0 / ((x1 - x0) * kTileSize))});
}

QPoint CentreOnScreen(COverviewWidget* map, int field) {
    return WorldToScreen(Centre(map->Map().Fields()[static_cast<std::size_t>(field)].ring), map->View(), map->size())
        .toPoint();
}

int PixelsOf(const QImage& img, QColor c, QRect in) {
    int n = 0;
    for (int y = in.top(); y <= in.bottom(); ++y)
        for (int x = in.left(); x <= in.right(); ++x)
            if (img.rect().contains(x, y) && img.pixelColor(x, y).rgb() == c.rgb()) ++n;
    return n;
}

/// The map as shown once the worker's picture for its view has arrived.
QImage Shown(COverviewWidget* map) {
    if (!QTest::qWaitFor([map] { return map->PictureReady(); }, kWaitMs)) return {};
    return map->grab().toImage();
}

int OutlineAround(COverviewWidget* map, QPoint at) {
    return PixelsOf(Shown(map), map::kSelectedOutline, QRect(at - QPoint(60, 60), QSize(121, 121)));
}

/// Legend swatches drawn in the map's top left corner: which of the first
/// `n` category colours show there (opaque squares, unlike the fields).
std::vector<bool> LegendSwatches(COverviewWidget* map, int n) {
    const QImage img = map->grab().toImage();
    std::vector<bool> out;
    for (int i = 0; i < n; ++i) out.push_back(PixelsOf(img, map::CategoryColour(i), QRect(0, 0, 40, 120)) >= 100);
    return out;
}

}  // namespace

class TestBookOverview : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        UseScratchHome();
        qputenv("TZ", "UTC");
    }
    void init() {
        ResetToDefaults();
        books_ = std::make_unique<QTemporaryDir>();
        const QString book = books_->filePath(QStringLiteral("book.gpkg"));
        SetBookLocationForRun(book);
        // The jobs go in before the window opens, as another program's would.
        std::unique_ptr<book::BookStore> store;
        QVERIFY(book::OpenBook(book.toStdString(), {}, store).ok());
        for (const char* name : {"Zhao", "Qian"}) {
            book::CustomerId id = 0;
            book::Customer c;
            c.name = name;
            QVERIFY(store->AddCustomer(c, id).ok());
        }
        for (std::size_t i = 0; i < std::size(kJobs); ++i) {
            SampleField f{.name = kJobs[i].label};
            f.collected = testing::kDay0 + static_cast<std::int32_t>(i) * testing::kDaySeconds;
            f.shift = 0.01 * static_cast<double>(i + 1);
            const std::filesystem::path file = books_->filePath(QString::fromUtf8(kJobs[i].label) + ".txt").toStdString();
            testing::WriteSample(file, f);
            book::Measurement m;
            QVERIFY(book::ReadMeasurement(file, m).ok());
            book::JobTerms terms;
            terms.customer = kJobs[i].customer;
            std::vector<book::AddOutcome> outcomes;
            QVERIFY(store->AddJobs(std::span(&m, 1), terms, outcomes).ok());
        }
    }

    void AFieldClickedSelectsItsRowAndARowClickedIsOutlined() {
        Rig rig;
        CBookWindow* w = rig.frame->Book()->Show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QVERIFY(WaitForBook(rig));
        COverviewWidget* map = w->Overview();
        QCOMPARE(map->Map().Size(), std::size(kJobs));
        for (const Planted& j : kJobs) {
            const int field = FieldOf(w, QString::fromUtf8(j.label));
            QVERIFY2(field >= 0, j.label);
            QVERIFY(map->Map().Fields()[static_cast<std::size_t>(field)].ring.size() >= 3);
        }
        // Fields clicked on the map, each seen close up.
        for (const char* label : {"W3", "W1", "W2"}) {
            const int field = FieldOf(w, QString::fromUtf8(label));
            CloseTo(map, field);
            const QPoint at = CentreOnScreen(map, field);
            QVERIFY(map->rect().contains(at));
            Click(map, at);
            QTRY_COMPARE_WITH_TIMEOUT(SelectedLabel(w), QString::fromUtf8(label), kWaitMs);
            QVERIFY(OutlineAround(map, at) > 20);
        }
        // Rows clicked in the table: their field outlined, the others not.
        QTableView* v = w->JobsView();
        for (int row = 0; row < w->JobsModel()->rowCount(); ++row) {
            const QModelIndex i = w->JobsModel()->index(row, static_cast<int>(BookJobColumn::kLabel));
            Click(v->viewport(), v->visualRect(i).center());
            const QString label = LabelOfRow(w, row);
            QTRY_COMPARE_WITH_TIMEOUT(SelectedLabel(w), label, kWaitMs);
            for (const Planted& j : kJobs) {
                const int field = FieldOf(w, QString::fromUtf8(j.label));
                CloseTo(map, field);
                const int outline = OutlineAround(map, CentreOnScreen(map, field));
                if (label == QString::fromUtf8(j.label))
                    QVERIFY2(outline > 20, j.label);
                else
                    QVERIFY2(outline == 0, j.label);
            }
        }
    }

    void TheFilterAppliesToTheMapToo() {
        Rig rig;
        CBookWindow* w = rig.frame->Book()->Show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QVERIFY(WaitForBook(rig));
        auto* search = w->findChild<QLineEdit*>(QStringLiteral("bookSearch"));
        QVERIFY(search);
        struct Case {
            const char* typed;
            QStringList onMap;
        };
        const Case cases[] = {{"W2", {"W2"}}, {"W", {"W1", "W2", "W3"}}, {"nothing like it", {}}};
        for (const Case& c : cases) {
            Click(search, search->rect().center());
            QTest::keyClick(search, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(search, Qt::Key_Delete);
            QTest::keyClicks(search, QString::fromUtf8(c.typed));
            QVERIFY(WaitForBook(rig));
            QTRY_COMPARE_WITH_TIMEOUT(w->JobsModel()->rowCount(), static_cast<int>(c.onMap.size()), kWaitMs);
            QStringList names;
            for (const map::OverviewField& f : w->Overview()->Map().Fields()) names << f.name;
            names.sort();
            QCOMPARE(names, c.onMap);
        }
    }

    void ColoursByStatusOrByCustomerWithTheirLegend() {
        Rig rig;
        CBookWindow* w = rig.frame->Book()->Show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QVERIFY(WaitForBook(rig));
        auto* colour = w->findChild<QComboBox*>(QStringLiteral("bookMapColour"));
        QVERIFY(colour);
        COverviewWidget* map = w->Overview();
        struct Case {
            int index;  ///< the switch's entry
            std::vector<int> categories;  ///< of W1, W2, W3
            std::vector<bool> swatches;   ///< legend colours 0..3 shown
        };
        // Status: all measured (the first of four). Customer: "Qian" before "Zhao".
        const Case cases[] = {{1, {1, 0, 1}, {true, true, false, false}},
                              {0, {0, 0, 0}, {true, true, true, true}}};
        for (const Case& c : cases) {
            colour->setFocus();
            QTest::keyClick(colour, c.index == 0 ? Qt::Key_Up : Qt::Key_Down);
            QTRY_COMPARE_WITH_TIMEOUT(colour->currentIndex(), c.index, kWaitMs);
            for (std::size_t j = 0; j < std::size(kJobs); ++j) {
                const int field = FieldOf(w, QString::fromUtf8(kJobs[j].label));
                QCOMPARE(map->Map().Fields()[static_cast<std::size_t>(field)].category, c.categories[j]);
            }
            QCOMPARE(LegendSwatches(map, 4), c.swatches);
            // The field's fill shows its category's colour, not another's.
            for (std::size_t j = 0; j < std::size(kJobs); ++j) {
                const int field = FieldOf(w, QString::fromUtf8(kJobs[j].label));
                CloseTo(map, field);
                const QPoint at = CentreOnScreen(map, field) + QPoint(0, 30);  // below its label
                const QImage shown = Shown(map);
                QVERIFY(!shown.isNull());
                const QColor seen = shown.pixelColor(at);
                const QColor want = map::CategoryColour(c.categories[j]);
                const QColor other = map::CategoryColour(1 - c.categories[j]);
                auto distance = [&](QColor a) {
                    return std::abs(a.red() - seen.red()) + std::abs(a.green() - seen.green()) +
                           std::abs(a.blue() - seen.blue());
                };
                QVERIFY2(distance(want) < distance(other), kJobs[j].label);
            }
        }
    }

private:
    std::unique_ptr<QTemporaryDir> books_;
};

}  // namespace dorvane::test

QTEST_MAIN(dorvane::test::TestBookOverview)
#include "test_book_overview.moc"
