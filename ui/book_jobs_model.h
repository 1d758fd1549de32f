#pragma once
// The Book window's jobs table: the jobs of the last query with the figures
// the bill would charge (area on the book's basis, amount from the price, in
// integer fen). The list is read from the store a page at a time: the model
// holds the pages read so far and asks for the next (canFetchMore/fetchMore)
// when the view scrolls to its end; the request runs on the book's worker and
// its answer comes back through AddPage. A list read whole is sorted in the
// model itself, so that a click on a heading does not go through the view row
// by row; a list still being paged is sorted by the store (the window asks
// again), since a page sorted alone is no page of the sorted list.
// GUI thread only.

#include <QAbstractTableModel>
#include <cstdint>
#include <functional>
#include <optional>
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

    /// Asks for `limit` rows from `offset` of the current list, `generation`
    /// naming that list; the answer goes to AddPage.
    using Fetch = std::function<void(std::size_t offset, std::size_t limit, std::uint64_t generation)>;
    void SetFetch(Fetch f) { fetch_ = std::move(f); }
    /// Called when the user sorts a list that is not read whole: the list is
    /// to be asked for again in the new order (StoreSort).
    void SetOnResort(std::function<void()> f) { onResort_ = std::move(f); }

    /// Replaces the rows with the first page of a list of `matching` jobs
    /// (keeping the user's sort).
    void SetJobs(std::vector<book::Job> jobs, book::AreaBasis basis, std::int64_t matching);
    /// Replaces the rows with a whole list.
    void SetJobs(std::vector<book::Job> jobs, book::AreaBasis basis) {
        const auto n = static_cast<std::int64_t>(jobs.size());
        SetJobs(std::move(jobs), basis, n);
    }
    /// The rows from `offset` of list `generation`; a page of an older list
    /// (or not following the rows held) is dropped.
    void AddPage(std::uint64_t generation, std::size_t offset, std::vector<book::Job> jobs);
    /// The page asked for could not be read: the list stays as it is, and
    /// the next scroll to its end asks again.
    void FetchFailed(std::uint64_t generation) {
        if (generation == generation_) fetching_ = false;
    }
    /// Jobs of the list, read or not.
    std::int64_t Matching() const { return matching_; }
    /// True when every job of the list is read.
    bool Complete() const { return static_cast<std::int64_t>(jobs_.size()) >= matching_; }
    std::uint64_t Generation() const { return generation_; }
    /// The order the store lists in for the user's sort; none for a column
    /// only the model can sort (figures on the area basis, texts of enums):
    /// such a list is read whole and sorted here.
    std::optional<book::JobFilter::Sort> StoreSort() const;
    bool Descending() const { return order_ == Qt::DescendingOrder; }
    const book::Job& JobAt(int row) const { return jobs_[static_cast<std::size_t>(row)]; }
    /// Re-reads the headings and enum texts after a language switch.
    void Retranslate();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    void sort(int column, Qt::SortOrder order) override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    struct Figures {
        std::int64_t areaMuE4 = 0;
        std::optional<book::Fen> amountFen;
    };
    void Compute(std::size_t from = 0);
    /// Sorts by the user's column; returns the old row of each new row.
    std::vector<std::size_t> SortRows();

    std::vector<book::Job> jobs_;
    std::vector<Figures> figures_;  ///< parallel to jobs_
    book::AreaBasis basis_ = book::AreaBasis::kWgs84;
    std::int64_t matching_ = 0;
    std::uint64_t generation_ = 0;
    bool fetching_ = false;  ///< a page is asked for and not back yet
    Fetch fetch_;
    std::function<void()> onResort_;
    int sortColumn_ = -1;
    Qt::SortOrder order_ = Qt::AscendingOrder;
};

}  // namespace dorvane
