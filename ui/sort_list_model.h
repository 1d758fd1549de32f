#pragma once
// CSortListModel: the rows of a CSortListCtrl, kept as plain structs. A row's
// place in storage (its id) never changes while the list holds it; the order
// the view shows is a permutation of the ids, so a sort moves indices, never
// rows, and the view asks for the texts of the rows it paints only. GUI
// thread only.

#include <QAbstractTableModel>
#include <QIcon>
#include <QStringList>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <vector>

namespace dorvane {

/// Row kinds: folders (and "..") sort before files.
inline constexpr int kRowFolder = 0;
inline constexpr int kRowFile = 1;

/// One row: what the pane knows of one entry.
struct SortListRow {
    QStringList texts;  ///< one per column; missing ones are empty
    QIcon icon;         ///< shown in the first column; copies of one icon share its pictures
    QVariant tag;       ///< the pane's own value (the entry's name on disk, the handheld's raw name)
    qint64 size = 0;
    int kind = kRowFile;
    bool editable = false;  ///< the first column can be renamed in place
};

class CSortListModel : public QAbstractTableModel {
public:
    /// Called when a cell editor commits `text` for the row `id` (first column only).
    using EditHandler = std::function<void(int id, const QString& text)>;

    explicit CSortListModel(QObject* parent = nullptr);

    void SetHeadings(const QStringList& headings);
    QString Heading(int column) const { return headings_.value(column); }
    void SetEditHandler(EditHandler handler) { onEdit_ = std::move(handler); }

    int Count() const { return static_cast<int>(rows_.size()); }
    /// The id of the row shown at `position`; -1 when there is none.
    int IdAt(int position) const;
    /// Where the row `id` is shown; -1 when there is no such row.
    int PositionOf(int id) const;
    bool HasId(int id) const { return id >= 0 && id < Count(); }
    const SortListRow& At(int id) const { return rows_[static_cast<std::size_t>(id)]; }
    SortListRow& At(int id) { return rows_[static_cast<std::size_t>(id)]; }
    /// Counts the lists the model has held: a row handle from an earlier
    /// list is no longer valid.
    std::uint32_t Generation() const { return generation_; }

    void Clear();
    /// Appends one row at the end; returns its id.
    int Append(SortListRow row);
    /// Replaces every row by `rows`, shown in `order` (a permutation of their
    /// indices): one reset, however many rows.
    void Replace(std::vector<SortListRow> rows, std::vector<std::uint32_t> order);
    /// Shows the rows in `order` (a permutation of the ids); selection and
    /// current row stay with their rows.
    void Reorder(std::vector<std::uint32_t> order);
    const std::vector<SortListRow>& Rows() const { return rows_; }
    /// The current order of the ids.
    const std::vector<std::uint32_t>& Order() const { return order_; }
    /// Sets one cell's text and repaints it.
    void SetText(int id, int column, const QString& text);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    /// None: the panes take their own drag formats; the model decodes no drop.
    QStringList mimeTypes() const override { return {}; }

private:
    void RebuildPositions();

    QStringList headings_;
    std::vector<SortListRow> rows_;
    std::vector<std::uint32_t> order_;     // position -> id
    std::vector<std::uint32_t> position_;  // id -> position
    std::uint32_t generation_ = 0;
    EditHandler onEdit_;
};

}  // namespace dorvane
