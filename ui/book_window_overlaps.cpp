// The Book window's overlaps: the pairs of listed fields that share ground,
// a click on a pair selecting both jobs, and the bill that asks before it
// takes a field measured twice.
#include <QHeaderView>
#include <QItemSelection>
#include <QItemSelectionModel>
#include <QPointer>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

#include "book/job_overlaps.h"
#include "book/money.h"
#include "geo/figures.h"
#include "i18n/string_table.h"
#include "ui/book_jobs_model.h"
#include "ui/book_service.h"
#include "ui/book_window.h"
#include "ui/ui_text.h"

namespace dorvane {

namespace {

using ui_text::Q;
using ui_text::T;

enum class OverlapColumn { kJobA, kJobB, kM2, kMu, kShare, kTwice };
constexpr int kOverlapColumnCount = 6;
/// Shares are shown in per cent.
constexpr double kPercent = 100.0;

QTableWidgetItem* Cell(const QString& text, bool number = false) {
    auto* item = new QTableWidgetItem(text);
    if (number) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

QString JobText(const book::Job& j) {
    return Q(FormatText(StringId::RES_BOOK_OVERLAP_JOB, static_cast<int>(j.id), j.label.c_str()));
}

QString Share(double share) {
    return QString::number(share * kPercent, 'f', 1) + QStringLiteral(" %");
}

}  // namespace

void CBookWindow::BuildOverlapsTab(QWidget* page) {
    overlaps_ = new QTableWidget(0, kOverlapColumnCount, page);
    overlaps_->setObjectName(QStringLiteral("bookOverlaps"));
    overlaps_->setSelectionBehavior(QAbstractItemView::SelectRows);
    overlaps_->setSelectionMode(QAbstractItemView::SingleSelection);
    overlaps_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    overlaps_->verticalHeader()->hide();
    overlaps_->horizontalHeader()->setStretchLastSection(true);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(overlaps_, 1);
    connect(overlaps_, &QTableWidget::cellClicked, this, [this](int row, int) { SelectOverlap(row); });
    // The pairs among the jobs listed: asked again whenever the tab is shown.
    connect(tabs_, &QTabWidget::currentChanged, this, [this, page](int) {
        if (tabs_->currentWidget() == page) QueryOverlaps();
    });
}

void CBookWindow::RetranslateOverlaps() {
    tabs_->setTabText(tabs_->indexOf(overlaps_->parentWidget()), T(StringId::RES_BOOK_TAB_OVERLAPS));
    overlaps_->setHorizontalHeaderLabels({T(StringId::RES_LEDGER_COL_OVERLAP_A), T(StringId::RES_LEDGER_COL_OVERLAP_B),
                                          T(StringId::RES_LEDGER_COL_OVERLAP_M2), T(StringId::RES_LEDGER_COL_OVERLAP_MU),
                                          T(StringId::RES_LEDGER_COL_OVERLAP_SHARE),
                                          T(StringId::RES_LEDGER_COL_OVERLAP_TWICE)});
    FillOverlaps();
}

void CBookWindow::QueryOverlaps() {
    book::JobFilter filter = CurrentFilter();
    filter.offset = 0;
    filter.limit = 0;
    ++waiting_;
    QPointer<CBookWindow> self(this);
    service_.Post([self, filter](BookAccess& a) -> CBookService::Answer {
        auto pairs = std::make_shared<std::vector<book::JobOverlap>>();
        const book::BookStatus st = a.store ? book::FindJobOverlaps(*a.store, filter, *pairs) : a.opened;
        return [self, pairs, st] {
            if (!self) return;
            --self->waiting_;
            if (!st.ok()) return;
            self->overlapList_ = std::move(*pairs);
            self->FillOverlaps();
        };
    });
}

void CBookWindow::FillOverlaps() {
    overlaps_->setRowCount(static_cast<int>(overlapList_.size()));
    for (int r = 0; r < overlaps_->rowCount(); ++r) {
        const book::JobOverlap& o = overlapList_[static_cast<std::size_t>(r)];
        overlaps_->setItem(r, static_cast<int>(OverlapColumn::kJobA), Cell(JobText(o.a)));
        overlaps_->setItem(r, static_cast<int>(OverlapColumn::kJobB), Cell(JobText(o.b)));
        overlaps_->setItem(r, static_cast<int>(OverlapColumn::kM2), Cell(QString::number(o.overlap_m2, 'f', 2), true));
        overlaps_->setItem(r, static_cast<int>(OverlapColumn::kMu),
                           Cell(QString::number(o.overlap_m2 / geo::kSquareMetresPerMu, 'f', 3), true));
        overlaps_->setItem(r, static_cast<int>(OverlapColumn::kShare), Cell(Share(o.shareOfSmaller), true));
        overlaps_->setItem(r, static_cast<int>(OverlapColumn::kTwice),
                           Cell(o.measuredTwice ? T(StringId::RES_BOOK_MEASURED_TWICE_TITLE) : QString()));
    }
}

// Both jobs of the pair selected in the jobs list (those of its rows read so
// far), which then shows them on the map.
void CBookWindow::SelectOverlap(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= overlapList_.size()) return;
    const book::JobOverlap& o = overlapList_[static_cast<std::size_t>(row)];
    QItemSelection both;
    int first = -1;
    for (int r = 0; r < model_->rowCount(); ++r) {
        const book::JobId id = model_->JobAt(r).id;
        if (id != o.a.id && id != o.b.id) continue;
        both.select(model_->index(r, 0), model_->index(r, model_->columnCount() - 1));
        if (first < 0) first = r;
    }
    tabs_->setCurrentIndex(0);
    if (first < 0) return;
    jobsView_->selectionModel()->select(both, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    jobsView_->scrollTo(model_->index(first, 0));
}

void CBookWindow::BillSelected() {
    const auto rows = SelectedJobRows();
    if (rows.empty()) return Say(T(StringId::RES_BOOKWIN_SELECT_JOBS), true);
    const std::string customer = rows.front()->customer;
    if (customer.empty() || std::any_of(rows.begin(), rows.end(), [&](const book::Job* j) { return j->customer != customer; }))
        return Say(T(StringId::RES_BOOKWIN_ONE_CUSTOMER), true);
    auto request = std::make_shared<book::BillRequest>();
    request->customer = customer;
    for (const book::Job* j : rows) request->jobs.push_back(j->id);
    request->date = book::Today();
    // Every matching job: the store's ids, and the bill refuses any of another customer.
    const std::optional<book::JobFilter> every = PickedJobs().every;
    ++waiting_;
    QPointer<CBookWindow> self(this);
    // A field measured twice is billed twice only when the user keeps both:
    // the pairs are looked for first, and asked about here.
    service_.Post([self, request, every](BookAccess& a) -> CBookService::Answer {
        auto twice = std::make_shared<std::vector<book::JobOverlap>>();
        book::BookStatus st = a.opened;
        if (a.store) {
            st = every ? PickedIds(*a.store, {{}, every}, request->jobs) : book::BookStatus::Ok();
            if (st.ok()) st = book::MeasuredTwiceInBill(*a.store, request->jobs, *twice);
        }
        const bool open = a.store != nullptr;
        const std::string where = a.location;
        return [self, request, twice, st, open, where] {
            if (!self) return;
            --self->waiting_;
            if (!st.ok()) return self->Say(Refusal(st, open, where), true);
            if (!twice->empty()) {
                QStringList pairs;
                for (const book::JobOverlap& o : *twice)
                    pairs << Q(FormatText(StringId::RES_BOOK_MEASURED_TWICE_PAIR, JobText(o.a).toStdString().c_str(),
                                          JobText(o.b).toStdString().c_str(),
                                          Share(o.shareOfSmaller).toStdString().c_str()));
                const QString ask = T(StringId::RES_BOOK_MEASURED_TWICE_ASK) + QLatin1Char('\n') + pairs.join('\n');
                const int answer =
                    self->messageBox_
                        ? self->messageBox_(QMessageBox::Question, ask, QMessageBox::Yes | QMessageBox::No)
                        : QMessageBox::question(self, T(StringId::RES_BOOK_MEASURED_TWICE_TITLE), ask);
                if (answer != QMessageBox::Yes)
                    return self->Say(Q(FormatText(StringId::RES_BOOK_NOT_BILLED_TWICE,
                                                  pairs.join(QStringLiteral("; ")).toStdString().c_str())),
                                     true);
            }
            self->Write([request](book::BookStore& s, Done& done) {
                book::Bill bill;
                const book::BookStatus issued = s.IssueBill(*request, bill);
                done = [number = bill.number, total = bill.totalFen] {
                    return Q(FormatText(StringId::RES_BOOKWIN_BILLED, number.c_str(), book::FormatMoney(total).c_str()));
                };
                return issued;
            });
        };
    });
}

}  // namespace dorvane
