#pragma once
// CSortListCtrl: the list of both panes. It keeps each row's texts and a kind
// (0 folder, 1 file), sorts on a header click with the kind first in both
// directions, and shows the sort arrow in its CSortHeaderCtrl. Columns come
// from one specification text "name,width;name,width;..." so that a language
// file can rename and resize them. Saved column widths are read from the
// profile ("Quenmark Plotwise", section "ListCtrls", key = the list's control
// id in decimal); the program itself never stores them. GUI thread only.

#include <QHeaderView>
#include <QIcon>
#include <QStringList>
#include <QTreeWidget>

namespace dorvane {

/// Row kinds: folders (and "..") sort before files.
inline constexpr int kRowFolder = 0;
inline constexpr int kRowFile = 1;

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

class CSortListCtrl : public QTreeWidget {
public:
    /// `controlId` names the profile entry of the column widths (1001, 1009).
    CSortListCtrl(int controlId, QWidget* parent = nullptr);
    ~CSortListCtrl() override;

    /// Replaces the columns by those of `spec`; false when none could be made.
    bool SetColumns(const QString& spec);
    int ColumnCount() const { return columnCount_; }
    /// Appends a row; `texts` holds one text per column (missing ones are
    /// empty). Returns the row index.
    int AddRow(const QIcon& icon, int kind, qint64 size, const QStringList& texts);
    /// Appends many rows at once (faster than AddRow for large folders). A
    /// fill widens each column that is too narrow for its texts or heading
    /// (the widths of the column texts stay the minimum) unless the user has set
    /// that column's width.
    void AddRows(QList<QTreeWidgetItem*> items);
    /// A fill of an empty list: the rows sorted by `column` first and then
    /// inserted once (a folder of 50 000 files is not inserted, taken out and
    /// inserted again), with the arrow shown and the columns widened as AddRows.
    void AddRowsSorted(QList<QTreeWidgetItem*> items, int column, bool ascending);
    static QTreeWidgetItem* MakeRow(const QIcon& icon, int kind, qint64 size, const QStringList& texts);
    bool SetCellText(int row, int column, const QString& text);
    void DeleteAllRows() { clear(); }
    int RowCount() const { return topLevelItemCount(); }
    QTreeWidgetItem* Row(int row) const { return topLevelItem(row); }
    static int KindOf(const QTreeWidgetItem* item);
    static qint64 SizeOf(const QTreeWidgetItem* item);
    QString CellText(int row, int column) const;

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

private:
    void OnHeaderClick(int column);
    void WidenColumns();
    /// Orders `rows` by the list's rules for `column` (CompareRows), stably.
    static void SortRows(QList<QTreeWidgetItem*>& rows, int column, bool ascending);

    int controlId_;
    CSortHeaderCtrl* header_;
    int columnCount_ = 0;
    int style_ = kStyleReport;
    QList<bool> userSized_;  // per column: its width was set by the user or a saved record
    bool widening_ = false;  // the list itself is setting widths
};

}  // namespace dorvane
