#include "ui/book_jobs_model.h"

#include <algorithm>
#include <numeric>

#include "book/job_pages.h"
#include "book/money.h"
#include "i18n/string_table.h"
#include "ui/ui_text.h"

namespace dorvane {

namespace {

using ui_text::T;

constexpr StringId kHeadings[kBookJobColumnCount] = {
    StringId::RES_BOOKWIN_COL_ID,       StringId::RES_BOOKWIN_COL_DATE,   StringId::RES_BOOKWIN_COL_LABEL,
    StringId::RES_BOOKWIN_CUSTOMER,     StringId::RES_BOOKWIN_VILLAGE,    StringId::RES_BOOKWIN_WORK,
    StringId::RES_BOOKWIN_COL_AREA_MU,  StringId::RES_BOOKWIN_COL_PRICE,  StringId::RES_BOOKWIN_COL_AMOUNT,
    StringId::RES_BOOKWIN_STATUS,       StringId::RES_BOOKWIN_COL_BILL,   StringId::RES_BOOKWIN_COL_FILE,
};

}  // namespace

QString WorkTypeText(book::WorkType w) {
    static constexpr StringId kTexts[book::kWorkTypeCount] = {
        StringId::RES_BOOKWIN_WORK_HARVESTING, StringId::RES_BOOKWIN_WORK_PLOUGHING,
        StringId::RES_BOOKWIN_WORK_SOWING,     StringId::RES_BOOKWIN_WORK_SPRAYING,
        StringId::RES_BOOKWIN_WORK_SURVEYING,  StringId::RES_BOOKWIN_WORK_OTHER};
    return T(kTexts[static_cast<int>(w)]);
}

QString JobStatusText(book::JobStatus s) {
    switch (s) {
        case book::JobStatus::kMeasured: return T(StringId::RES_BOOKWIN_STATUS_MEASURED);
        case book::JobStatus::kBilled: return T(StringId::RES_BOOKWIN_STATUS_BILLED);
        case book::JobStatus::kPaid: return T(StringId::RES_BOOKWIN_STATUS_PAID);
        case book::JobStatus::kVoid: return T(StringId::RES_BOOKWIN_STATUS_VOID);
    }
    return {};
}

QString UnitText(book::BillingUnit u) {
    switch (u) {
        case book::BillingUnit::kMu: return T(StringId::RES_BOOKWIN_UNIT_MU);
        case book::BillingUnit::kHectare: return T(StringId::RES_BOOKWIN_UNIT_HA);
        case book::BillingUnit::kKilometre: return T(StringId::RES_BOOKWIN_UNIT_KM);
    }
    return {};
}

void CBookJobModel::SetJobs(std::vector<book::Job> jobs, book::AreaBasis basis, std::int64_t matching) {
    beginResetModel();
    jobs_ = std::move(jobs);
    basis_ = basis;
    matching_ = std::max<std::int64_t>(matching, static_cast<std::int64_t>(jobs_.size()));
    ++generation_;
    fetching_ = false;
    Compute();
    if (Complete()) SortRows();  // a page stays in the store's order
    endResetModel();
}

void CBookJobModel::AddPage(std::uint64_t generation, std::size_t offset, std::vector<book::Job> jobs) {
    if (generation != generation_ || offset != jobs_.size()) return;
    fetching_ = false;
    if (jobs.empty()) {
        // The list became shorter since it was counted (another desktop
        // voided or billed jobs away from the filter): it ends here.
        matching_ = static_cast<std::int64_t>(jobs_.size());
        return;
    }
    const int first = static_cast<int>(jobs_.size());
    beginInsertRows({}, first, first + static_cast<int>(jobs.size()) - 1);
    for (book::Job& j : jobs) jobs_.push_back(std::move(j));
    Compute(static_cast<std::size_t>(first));
    matching_ = std::max<std::int64_t>(matching_, static_cast<std::int64_t>(jobs_.size()));
    endInsertRows();
}

bool CBookJobModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && !fetching_ && fetch_ && !Complete();
}

void CBookJobModel::fetchMore(const QModelIndex& parent) {
    if (!canFetchMore(parent)) return;
    fetching_ = true;
    fetch_(jobs_.size(), book::kJobPageRows, generation_);
}

std::optional<book::JobFilter::Sort> CBookJobModel::StoreSort() const {
    using Sort = book::JobFilter::Sort;
    if (sortColumn_ < 0 || sortColumn_ >= kBookJobColumnCount) return Sort::kId;
    switch (static_cast<BookJobColumn>(sortColumn_)) {
        case BookJobColumn::kId: return Sort::kId;
        case BookJobColumn::kDate: return Sort::kDate;
        case BookJobColumn::kLabel: return Sort::kLabel;
        case BookJobColumn::kCustomer: return Sort::kCustomer;
        case BookJobColumn::kVillage: return Sort::kVillage;
        case BookJobColumn::kPrice: return Sort::kPrice;
        case BookJobColumn::kFile: return Sort::kFile;
        // The shown area is on the book's basis, which the store does not
        // sort by when it is the handheld's; the amount is the model's figure.
        case BookJobColumn::kAreaMu:
            return basis_ == book::AreaBasis::kWgs84 ? std::optional(Sort::kArea) : std::nullopt;
        case BookJobColumn::kWork:
        case BookJobColumn::kAmount:
        case BookJobColumn::kStatus:
        case BookJobColumn::kBill: return std::nullopt;
    }
    return std::nullopt;
}

void CBookJobModel::Retranslate() {
    if (!jobs_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, kBookJobColumnCount - 1));
    emit headerDataChanged(Qt::Horizontal, 0, kBookJobColumnCount - 1);
}

void CBookJobModel::Compute(std::size_t from) {
    figures_.resize(jobs_.size());
    for (std::size_t i = from; i < jobs_.size(); ++i) {
        figures_[i] = {};
        const book::Job& j = jobs_[i];
        const double area = basis_ == book::AreaBasis::kHandheld && j.handheldArea_m2 ? *j.handheldArea_m2
                                                                                      : j.wgs84Area_m2;
        figures_[i].areaMuE4 = book::QuantityE4(area, book::BillingUnit::kMu).value_or(0);
        if (j.priceFen) {
            book::AreaBasis used = basis_;
            const double figure = book::BilledFigure(j, basis_, used);
            if (auto q = book::QuantityE4(figure, j.unit)) figures_[i].amountFen = book::AmountFen(*q, *j.priceFen);
        }
    }
}

int CBookJobModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(jobs_.size());
}

int CBookJobModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kBookJobColumnCount;
}

QVariant CBookJobModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const book::Job& j = jobs_[static_cast<std::size_t>(index.row())];
    const Figures& f = figures_[static_cast<std::size_t>(index.row())];
    const auto column = static_cast<BookJobColumn>(index.column());
    if (role == Qt::TextAlignmentRole) {
        switch (column) {
            case BookJobColumn::kId:
            case BookJobColumn::kAreaMu:
            case BookJobColumn::kPrice:
            case BookJobColumn::kAmount: return int(Qt::AlignRight | Qt::AlignVCenter);
            default: return {};
        }
    }
    if (role != Qt::DisplayRole) return {};
    switch (column) {
        case BookJobColumn::kId: return QString::number(j.id);
        case BookJobColumn::kDate: return QString::fromStdString(j.date);
        case BookJobColumn::kLabel: return QString::fromStdString(j.label);
        case BookJobColumn::kCustomer: return QString::fromStdString(j.customer);
        case BookJobColumn::kVillage: return QString::fromStdString(j.village);
        case BookJobColumn::kWork: return WorkTypeText(j.work);
        case BookJobColumn::kAreaMu: return QString::fromStdString(book::FormatQuantity(f.areaMuE4));
        case BookJobColumn::kPrice:
            return j.priceFen ? QStringLiteral("%1 %2").arg(QString::fromStdString(book::FormatMoney(*j.priceFen)),
                                                           UnitText(j.unit))
                              : QString();
        case BookJobColumn::kAmount:
            return f.amountFen ? QString::fromStdString(book::FormatMoney(*f.amountFen)) : QString();
        case BookJobColumn::kStatus: return JobStatusText(j.status);
        case BookJobColumn::kBill: return QString::fromStdString(j.bill.value_or(""));
        case BookJobColumn::kFile: return QString::fromStdString(j.file);
    }
    return {};
}

QVariant CBookJobModel::headerData(int section, Qt::Orientation o, int role) const {
    if (o != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kBookJobColumnCount) return {};
    return T(kHeadings[section]);
}

void CBookJobModel::sort(int column, Qt::SortOrder order) {
    if (column == sortColumn_ && order == order_) return;
    sortColumn_ = column;
    order_ = order;
    if (!Complete()) {
        // Only the store knows the rows not read yet: the list is asked for
        // again in the new order.
        if (onResort_) onResort_();
        return;
    }
    emit layoutAboutToBeChanged();
    const std::vector<std::size_t> oldRows = SortRows();
    // The selection follows its jobs to their new rows.
    std::vector<int> newRow(oldRows.size());
    for (std::size_t i = 0; i < oldRows.size(); ++i) newRow[oldRows[i]] = static_cast<int>(i);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    for (const QModelIndex& i : before)
        after << (i.row() < static_cast<int>(newRow.size()) ? index(newRow[static_cast<std::size_t>(i.row())], i.column())
                                                            : QModelIndex());
    changePersistentIndexList(before, after);
    emit layoutChanged();
}

std::vector<std::size_t> CBookJobModel::SortRows() {
    std::vector<std::size_t> order(jobs_.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    if (sortColumn_ < 0 || sortColumn_ >= kBookJobColumnCount || jobs_.empty()) return order;
    const auto column = static_cast<BookJobColumn>(sortColumn_);
    // Numbers by value, money by fen (no price after every price), texts by text.
    auto less = [&](std::size_t a, std::size_t b) -> bool {
        const book::Job& x = jobs_[a];
        const book::Job& y = jobs_[b];
        switch (column) {
            case BookJobColumn::kId: return x.id < y.id;
            case BookJobColumn::kDate: return x.date < y.date;
            case BookJobColumn::kLabel: return x.label < y.label;
            case BookJobColumn::kCustomer: return x.customer < y.customer;
            case BookJobColumn::kVillage: return x.village < y.village;
            case BookJobColumn::kWork: return x.work < y.work;
            case BookJobColumn::kAreaMu: return figures_[a].areaMuE4 < figures_[b].areaMuE4;
            case BookJobColumn::kPrice:
                return x.priceFen.value_or(INT64_MAX) < y.priceFen.value_or(INT64_MAX);
            case BookJobColumn::kAmount:
                return figures_[a].amountFen.value_or(INT64_MAX) < figures_[b].amountFen.value_or(INT64_MAX);
            case BookJobColumn::kStatus: return x.status < y.status;
            case BookJobColumn::kBill: return x.bill.value_or("") < y.bill.value_or("");
            case BookJobColumn::kFile: return x.file < y.file;
        }
        return false;
    };
    if (order_ == Qt::AscendingOrder)
        std::stable_sort(order.begin(), order.end(), less);
    else
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return less(b, a); });
    std::vector<book::Job> jobs;
    std::vector<Figures> figures;
    jobs.reserve(jobs_.size());
    figures.reserve(jobs_.size());
    for (std::size_t i : order) {
        jobs.push_back(std::move(jobs_[i]));
        figures.push_back(figures_[i]);
    }
    jobs_ = std::move(jobs);
    figures_ = std::move(figures);
    return order;
}

}  // namespace dorvane
