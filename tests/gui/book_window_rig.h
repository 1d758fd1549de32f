#pragma once
// The Book window's test rig: clicks through the window system, the computer
// pane's context menu, the jobs table, tabs, typed filters and chosen boxes.

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QDir>
#include <QTemporaryDir>
#include <QProcess>
#include <QPrinter>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTcpServer>
#include <QCheckBox>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include "book/gpkg_store.h"
#include "book/money.h"
#include "gui_rig.h"
#include "report/field_samples.h"
#include "ui/book_desk.h"
#include "ui/book_jobs_model.h"
#include "ui/book_service.h"
#include "ui/book_window.h"
#include "ui/field_view.h"
#include "ui/ledger_window.h"
#include "ui/tile_fetcher.h"

namespace dorvane::test::book_rig {


using testing::SampleField;

/// Every test its own book: the texts back to their built-in ones and a fresh
/// folder whose book.gpkg is this run's book. Returns the book's path.
inline QString FreshBook(std::unique_ptr<QTemporaryDir>& folder) {
    ResetToDefaults();
    folder = std::make_unique<QTemporaryDir>();
    const QString book = folder->filePath(QStringLiteral("book.gpkg"));
    SetBookLocationForRun(book);
    return book;
}

inline QString T(StringId id) {
    return QString::fromStdString(Text(id));
}

/// A click at `at` of `w` through its top-level window, as the window system
/// delivers it (a right press opens the context menu).
inline void Click(QWidget* w, QPoint at, Qt::MouseButton button = Qt::LeftButton, Qt::KeyboardModifiers mods = {}) {
    QWidget* top = w->window();
    QTest::mouseClick(top->windowHandle(), button, mods, w->mapTo(top, at));
}

inline void ClickCentre(QWidget* w) {
    QVERIFY(w);
    QVERIFY(w->isVisible());
    Click(w, w->rect().center());
}

inline QPushButton* Button(QWidget* w, StringId text) {
    for (auto* b : w->findChildren<QPushButton*>())
        if (b->text() == T(text) && b->isVisible()) return b;
    return nullptr;
}

/// Runs `act` on the popup menu once it shows (polled; gives up after kWaitMs).
inline void WhenMenuShows(std::function<void(QMenu*)> act, int waited = 0) {
    QTimer::singleShot(20, [act, waited] {
        if (auto* m = qobject_cast<QMenu*>(QApplication::activePopupWidget()); m && m->isVisible()) return act(m);
        if (waited < kWaitMs) WhenMenuShows(act, waited + 20);
    });
}

inline void ChooseIn(QMenu* menu, int id) {
    for (QAction* a : menu->actions()) {
        if (!a->isSeparator() && a->data().isValid() && a->data().toInt() == id) {
            const QPoint at = menu->actionGeometry(a).center();
            QTest::mouseMove(menu, at);
            QTest::mouseClick(menu, Qt::LeftButton, {}, at);
            return;
        }
    }
    QTest::keyClick(menu, Qt::Key_Escape);
}

/// Selects `names` in the computer pane with clicks (Ctrl for the rest) and
/// chooses "Add to book" from the context menu of the last one.
inline void AddFromComputerPane(Rig& rig, const QStringList& names) {
    CSortListCtrl* list = rig.ComputerList();
    for (int n = 0; n < names.size(); ++n) {
        CListRow row;
        for (int i = 0; i < list->RowCount(); ++i)
            if (list->CellText(i, 0) == names[n]) row = list->Row(i);
        QVERIFY2(row, qPrintable(names[n]));
        Click(list->viewport(), list->RowRect(row).center(), Qt::LeftButton,
              n ? Qt::ControlModifier : Qt::NoModifier);
    }
    bool chosen = false;
    WhenMenuShows([&chosen](QMenu* m) {
        chosen = true;
        ChooseIn(m, cmd::kAddToBook);
    });
    const CListRow last = list->SelectedCount() == 0 ? CListRow() : list->CurrentRow();
    QVERIFY(last);
    Click(list->viewport(), list->RowRect(last).center(), Qt::RightButton);
    QTRY_VERIFY_WITH_TIMEOUT(chosen, kWaitMs);
}

inline CBookWindow* WaitForBook(Rig& rig) {
    CBookWindow* w = rig.frame->Book()->Window();
    if (!w || !QTest::qWaitFor([&] { return rig.frame->Book()->Idle(); }, kWaitMs)) return nullptr;
    return w;
}

/// The texts of the jobs table's column `c`, top to bottom.
inline QStringList JobColumn(CBookWindow* w, BookJobColumn c) {
    QStringList out;
    auto* m = w->JobsModel();
    for (int r = 0; r < m->rowCount(); ++r) out << m->data(m->index(r, static_cast<int>(c)), Qt::DisplayRole).toString();
    return out;
}

/// Clicks the row of the jobs table whose label is `label` (with `mods`).
inline void ClickJob(CBookWindow* w, const QString& label, Qt::KeyboardModifiers mods = {}) {
    const int row = JobColumn(w, BookJobColumn::kLabel).indexOf(label);
    QVERIFY2(row >= 0, qPrintable(label));
    QTableView* v = w->JobsView();
    const QModelIndex i = w->JobsModel()->index(row, static_cast<int>(BookJobColumn::kLabel));
    v->scrollTo(i);
    Click(v->viewport(), v->visualRect(i).center(), Qt::LeftButton, mods);
}

inline void ClickTab(CBookWindow* w, int index) {
    QTabBar* bar = w->Tabs()->tabBar();
    Click(bar, bar->tabRect(index).center());
    QTRY_COMPARE_WITH_TIMEOUT(w->Tabs()->currentIndex(), index, kWaitMs);
}

/// Types `text` into the line edit named `name`, replacing what it held.
inline void TypeInto(CBookWindow* w, const char* name, const QString& text) {
    auto* e = w->findChild<QLineEdit*>(QLatin1String(name));
    QVERIFY2(e, name);
    Click(e, e->rect().center());
    QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(e, Qt::Key_Delete);
    if (!text.isEmpty()) QTest::keyClicks(e, text);
}

/// Picks `text` in the combo box named `name` by typing it, as with the keyboard.
inline void Choose(CBookWindow* w, const char* name, const QString& text) {
    auto* c = w->findChild<QComboBox*>(QLatin1String(name));
    QVERIFY2(c, name);
    c->setFocus();
    QTest::keyClicks(c, text);
    QTRY_COMPARE_WITH_TIMEOUT(c->currentText(), text, kWaitMs);
}

inline void WriteFields(const QString& dir, const QStringList& names) {
    for (int i = 0; i < names.size(); ++i) {
        SampleField f{.name = names[i].toStdString()};
        f.collected = testing::kDay0 + i * testing::kDaySeconds;
        f.shift = 0.01 * (i + 1);
        f.dLon = (i + 1) / 512.0;  // every field another size
        testing::WriteSample((dir + "/" + names[i] + ".txt").toStdString(), f);
    }
}


}  // namespace dorvane::test::book_rig
