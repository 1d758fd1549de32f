#pragma once
// CSortListCtrl: the list of both panes, a view on its own model of plain
// rows (a folder of 50 000 files lists without an item object per row). It
// keeps each row's texts and a kind (0 folder, 1 file), sorts on a header
// click with the kind first in both directions, and shows the sort arrow in
// its CSortHeaderCtrl. Columns come from one specification text
// "name,width;name,width;..." so that a language file can rename and resize
// them. Saved column widths are read from the
// profile ("Quenmark Plotwise", section "ListCtrls", key = the list's control
// id in decimal); the program itself never stores them. GUI thread only.

#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QStringList>
#include <QTreeView>

#include <cstdint>
#include <vector>

#include "ui/sort_list_model.h"

namespace dorvane {

class CSortListCtrl;

/// Window-style bits of the list, as the view commands exchange them: report
/// style is 1, list style has both low bits (3).
inline constexpr int kStyleReport = 1;
inline constexpr int kStyleList = 3;
inline constexpr int kStyleMask = 3;

/// Compares two rows for a sort on one column: kind first (smaller kind first
/// in both directions), then the texts: numeric when `a` is all digits and ','
/// (the longer text is the greater), a day/month/year date when `a` has that
/// form, otherwise the locale's comparison. <0, 0 or >0 as A sorts before B.
int CompareRows(int kindA, const QString& a, int kindB, const QString& b, bool ascending);

/// The columns of a specification text: (name, width) pairs. Parsing stops at
/// the first piece without a ','; a width without digits is 0.
std::vector<std::pair<QString, int>> ParseColumnSpec(const QString& spec);

class CSortHeaderCtrl : public QHeaderView {
public:
    explicit CSortHeaderCtrl(QWidget* parent = nullptr);
    /// Remembers the sorted column and direction and shows the arrow.
    void SetSortArrow(int column, bool ascending);
    int SortColumn() const { return sortColumn_; }
    bool Ascending() const { return ascending_; }
    /// The width record: a 32-bit count, then one 32-bit width per column
    /// (little-endian).
    QByteArray SerializeWidths() const;
    /// Applies a width record; false (nothing changed) when it is malformed
    /// or its count differs from the column count.
    bool ApplyWidths(const QByteArray& record);

protected:
    /// Draws the sorted column's arrow: up when ascending, down when descending.
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    int sortColumn_ = -1;
    bool ascending_ = true;
};

/// A row of a CSortListCtrl by identity: it names the same row wherever a
/// sort moves it, and none once the list has been emptied or refilled.
/// Cheap to copy; it must not outlive its list. GUI thread only.
class CListRow {
public:
    CListRow() = default;
    bool IsValid() const;
    explicit operator bool() const { return IsValid(); }
    bool operator==(const CListRow& other) const = default;

    /// Where the row is shown now (0 = top); -1 when invalid.
    int Position() const;
    QString Text(int column) const;
    void SetText(int column, const QString& text) const;
    int Kind() const;
    qint64 Size() const;
    QIcon Icon() const;
    QVariant Tag() const;
    void SetTag(const QVariant& tag) const;
    bool Editable() const;
    void SetEditable(bool editable) const;
    bool IsSelected() const;
    /// Selects or deselects the whole row, leaving the other rows alone.
    void SetSelected(bool selected) const;

private:
    friend class CSortListCtrl;
    CListRow(CSortListCtrl* list, int id, std::uint32_t generation) : list_(list), id_(id), generation_(generation) {}
    const SortListRow* Data() const;

    CSortListCtrl* list_ = nullptr;
    int id_ = -1;
    std::uint32_t generation_ = 0;
};

class CSortListCtrl : public QTreeView {
    Q_OBJECT

public:
    /// `controlId` names the profile entry of the column widths (1001, 1009).
    CSortListCtrl(int controlId, QWidget* parent = nullptr);
    ~CSortListCtrl() override;

    /// Replaces the columns by those of `spec`; false when none could be made.
    bool SetColumns(const QString& spec);
    int ColumnCount() const { return columnCount_; }
    QString HeadingText(int column) const { return model_->Heading(column); }
    /// Appends a row; `texts` holds one text per column (missing ones are
    /// empty). Returns the row index.
    int AddRow(const QIcon& icon, int kind, qint64 size, const QStringList& texts);
    /// Appends many rows at once (faster than AddRow for large folders). A
    /// fill widens each column that is too narrow for its texts or heading
    /// (the widths of the column texts stay the minimum) unless the user has set
    /// that column's width.
    void AddRows(std::vector<SortListRow> rows);
    /// A fill: the list's rows replaced by `rows`, sorted by `column` first
    /// and then shown at once (one reset of the view however many rows), with the arrow shown and the columns widened as AddRows.
    void AddRowsSorted(std::vector<SortListRow> rows, int column, bool ascending);
    static SortListRow MakeRow(const QIcon& icon, int kind, qint64 size, const QStringList& texts);
    bool SetCellText(int row, int column, const QString& text);
    void DeleteAllRows() { model_->Clear(); }
    int RowCount() const { return model_->Count(); }
    /// The row shown at `row` (0 = top); an invalid row when there is none.
    CListRow Row(int row) const;
    static int KindOf(const CListRow& row) { return row ? row.Kind() : -1; }
    static qint64 SizeOf(const CListRow& row) { return row ? row.Size() : 0; }
    QString CellText(int row, int column) const;
    /// The first row whose first column reads `text`; invalid when none does.
    CListRow FindRow(const QString& text) const;

    /// The selected rows, in list order.
    std::vector<CListRow> SelectedRows() const;
    int SelectedCount() const;
    CListRow CurrentRow() const;
    void SetCurrentRow(const CListRow& row,
                       QItemSelectionModel::SelectionFlags how = QItemSelectionModel::ClearAndSelect);
    /// The row under a point of the viewport; invalid on the background.
    CListRow RowAt(const QPoint& point) const;
    /// The row's rectangle in the viewport, across its shown columns.
    QRect RowRect(const CListRow& row) const;
    void ScrollToRow(const CListRow& row);
    /// Opens the cell editor on the row's first column.
    void EditRow(const CListRow& row);

    void SortColumn(int column, bool ascending);
    void Resort();
    int SortedColumn() const { return header_->SortColumn(); }
    bool SortedAscending() const { return header_->Ascending(); }

    /// Reads the saved widths of this list's control id and applies them when
    /// the column count matches (a record in the header's SerializeWidths
    /// layout; nothing in the program writes one).
    void RestoreColumnWidths();

    int ListStyle() const { return style_; }
    /// Clears `remove` bits and sets `add` bits of the style (1 report, 3 list).
    void SetListStyle(int remove, int add);
    CSortHeaderCtrl* Header() const { return header_; }
    /// True while a cell editor is open.
    bool Editing() const { return state() == QAbstractItemView::EditingState; }

signals:
    /// The selection changed (not while the list's signals are blocked).
    void SelectionChanged();
    /// Double click or Return on a row.
    void RowActivated(dorvane::CListRow row);
    /// A cell editor committed `text` for the row's first column; the row's
    /// text stays as it was until the pane changes it.
    void RowEdited(dorvane::CListRow row, const QString& text);

protected:
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;

private:
    friend class CListRow;
    CListRow RowOfId(int id) const;
    QModelIndex IndexOf(const CListRow& row, int column = 0) const;
    void OnHeaderClick(int column);
    void WidenColumns();
    /// The ids (indices into `rows`) in the list's order for `column`
    /// (CompareRows), stably from `order`.
    static std::vector<std::uint32_t> SortedOrder(const std::vector<SortListRow>& rows,
                                                  std::vector<std::uint32_t> order, int column, bool ascending);

    int controlId_;
    CSortListModel* model_;
    CSortHeaderCtrl* header_;
    int columnCount_ = 0;
    int style_ = kStyleReport;
    QList<bool> userSized_;  // per column: its width was set by the user or a saved record
    bool widening_ = false;  // the list itself is setting widths
};

}  // namespace dorvane
