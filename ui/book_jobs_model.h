#pragma once
// The Book window's jobs table: the jobs of the last query with the figures
// the bill would charge (area on the book's basis, amount from the price, in
// integer fen), sorted by any column in the model itself so that a click on
// a heading over 100 000 jobs does not go through the view row by row.
// GUI thread only.

#include <QAbstractTableModel>
#include <vector>

#include "book/book_types.h"

namespace dorvane {

enum class BookJobColumn {
    kId, kDate, kLabel, kCustomer, kVillage, kWork, kAreaMu, kPrice, kAmount, kStatus, kBill, kFile
};
inline constexpr int kBookJobColumnCount = 12;

/// Texts of the enum values in the current language.
QString WorkTypeText(book::WorkType w);
QString JobStatusText(book::JobStatus s);
QString UnitText(book::BillingUnit u);

class CBookJobModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    /// Replaces the rows (keeping the user's sort).
    void SetJobs(std::vector<book::Job> jobs, book::AreaBasis basis);
    const book::Job& JobAt(int row) const { return jobs_[static_cast<std::size_t>(row)]; }
    /// Re-reads the headings and enum texts after a language switch.
    void Retranslate();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

private:
    struct Figures {
        std::int64_t areaMuE4 = 0;
        std::optional<book::Fen> amountFen;
    };
    void Compute();
    /// Sorts by the user's column; returns the old row of each new row.
    std::vector<std::size_t> SortRows();

    std::vector<book::Job> jobs_;
    std::vector<Figures> figures_;  ///< parallel to jobs_
    book::AreaBasis basis_ = book::AreaBasis::kWgs84;
    int sortColumn_ = -1;
    Qt::SortOrder order_ = Qt::AscendingOrder;
};

}  // namespace dorvane
