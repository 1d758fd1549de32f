#include "ui/sort_list.h"

#include <QCollator>
#include <QDataStream>
#include <QIODevice>
#include <QLocale>
#include <QPainter>
#include <QStyleOptionHeader>
#include <QScopedValueRollback>
#include <QSettings>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <vector>

#include "ui/profile.h"

namespace dorvane {

namespace {

/// Rows beyond those in view that Qt measures when a fill widens the columns
/// (Qt's own default is 1000; see WidenColumns).
constexpr int kResizeRows = 100;

/// Length of the day/month/year form "31/12/2010".
constexpr int kDateLength = 10;

bool IsNumberText(const QString& s) {
    return std::all_of(s.begin(), s.end(), [](QChar c) { return c.isDigit() || c == u','; });
}

bool IsDateText(const QString& s) {
    if (s.size() != kDateLength) return false;
    for (int i = 0; i < kDateLength; ++i) {
        const bool slash = i == 2 || i == 5;
        if (slash ? s[i] != u'/' : !s[i].isDigit()) return false;
    }
    return true;
}

int Sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

int CompareDates(const QString& a, const QString& b) {
    // Year (6..9), then month (3..4), then day (0..1), each as an integer.
    const int parts[3][2] = {{6, 4}, {3, 2}, {0, 2}};
    for (const auto& p : parts) {
        const int x = a.mid(p[0], p[1]).toInt();
        const int y = b.mid(p[0], p[1]).toInt();
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

}  // namespace

int CompareRows(int kindA, const QString& a, int kindB, const QString& b, bool ascending) {
    if (kindA != kindB) return kindA < kindB ? -1 : 1;
    const QString& first = ascending ? a : b;
    const QString& second = ascending ? b : a;
    if (IsNumberText(a)) {
        if (first.size() != second.size()) return first.size() < second.size() ? -1 : 1;
        return Sign(QString::localeAwareCompare(first, second));
    }
    // A date in b's place that is not one compares as far as its digits go,
    // as the handheld tools always did; only a's form decides the rule.
    if (IsDateText(a)) return CompareDates(first, second);
    return Sign(QString::localeAwareCompare(first, second));
}

std::vector<std::pair<QString, int>> ParseColumnSpec(const QString& spec) {
    std::vector<std::pair<QString, int>> columns;
    qsizetype pos = 0;
    while (pos <= spec.size()) {
        const qsizetype comma = spec.indexOf(u',', pos);
        if (comma < 0) break;
        const QString name = spec.mid(pos, comma - pos);
        qsizetype end = spec.indexOf(u';', comma + 1);
        if (end < 0) end = spec.size();
        const QString widthText = spec.mid(comma + 1, end - comma - 1);
        int width = 0;
        for (QChar c : widthText) {
            if (!c.isDigit()) break;
            width = width * 10 + c.digitValue();
            if (width > 0xFFFF) break;  // a silly width from a language file stays bounded
        }
        columns.emplace_back(name, width);
        pos = end + 1;
    }
    return columns;
}

// ---- CSortHeaderCtrl ----

CSortHeaderCtrl::CSortHeaderCtrl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(true);
    setSortIndicatorShown(false);
    setStretchLastSection(false);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void CSortHeaderCtrl::SetSortArrow(int column, bool ascending) {
    sortColumn_ = column;
    ascending_ = ascending;
    // Qt's own indicator points down for ascending; the header draws its own.
    setSortIndicatorShown(false);
    viewport()->update();
}

void CSortHeaderCtrl::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (logicalIndex != sortColumn_ || !rect.isValid()) {
        QHeaderView::paintSection(painter, rect, logicalIndex);
        return;
    }
    // The sorted column: its text ends 3q short of the right edge, where the
    // arrow goes (h = the item's height, q = h / 4).
    const int h = rect.height();
    const int q = h / 4;
    const int arrowRoom = 3 * q + 2;
    painter->save();
    painter->setClipRect(rect.adjusted(0, 0, -arrowRoom, 0), Qt::IntersectClip);
    QHeaderView::paintSection(painter, rect, logicalIndex);
    painter->restore();
    painter->save();
    painter->setClipRect(QRect(rect.right() - arrowRoom + 1, rect.top(), arrowRoom, h), Qt::IntersectClip);
    QStyleOptionHeader opt;
    opt.initFrom(this);
    opt.rect = rect;
    opt.section = logicalIndex;
    opt.orientation = Qt::Horizontal;
    style()->drawControl(QStyle::CE_HeaderSection, &opt, painter, this);
    painter->restore();
    // The arrow near the right edge R, a highlight and a shadow line, as the
    // handheld tools drew it.
    const int r = rect.left() + rect.width();
    const int t = rect.top();
    const QPen light(palette().color(QPalette::Light), 1);
    const QPen shadow(palette().color(QPalette::Dark), 1);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    if (ascending_) {  // pointing up
        painter->setPen(light);
        const QPoint up[] = {{r - 2 * q, t + q}, {r - q, t + h - q - 1}, {r - 3 * q - 2, t + h - q - 1}};
        painter->drawPolyline(up, 3);
        painter->setPen(shadow);
        painter->drawLine(QPoint(r - 3 * q - 1, t + h - q - 1), QPoint(r - 2 * q, t + q - 1));
    } else {  // pointing down
        painter->setPen(light);
        painter->drawLine(QPoint(r - q - 1, t + q), QPoint(r - 2 * q - 1, t + h - q));
        painter->setPen(shadow);
        const QPoint down[] = {{r - 2 * q - 2, t + h - q}, {r - 3 * q - 1, t + q}, {r - q - 1, t + q}};
        painter->drawPolyline(down, 3);
    }
    painter->restore();
}

QByteArray CSortHeaderCtrl::SerializeWidths() const {
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    s << static_cast<qint32>(count());
    for (int i = 0; i < count(); ++i) s << static_cast<qint32>(sectionSize(i));
    return out;
}

bool CSortHeaderCtrl::ApplyWidths(const QByteArray& record) {
    QDataStream s(record);
    s.setByteOrder(QDataStream::LittleEndian);
    qint32 n = 0;
    s >> n;
    if (s.status() != QDataStream::Ok || n != count()) return false;
    std::vector<qint32> widths(static_cast<std::size_t>(n));
    for (auto& w : widths) s >> w;
    if (s.status() != QDataStream::Ok) return false;
    for (int i = 0; i < n; ++i) resizeSection(i, std::clamp<qint32>(widths[static_cast<std::size_t>(i)], 0, 0xFFFF));
    return true;
}

// ---- CListRow ----

const SortListRow* CListRow::Data() const {
    if (!list_ || generation_ != list_->model_->Generation() || !list_->model_->HasId(id_)) return nullptr;
    return &list_->model_->At(id_);
}

bool CListRow::IsValid() const { return Data() != nullptr; }
int CListRow::Position() const { return IsValid() ? list_->model_->PositionOf(id_) : -1; }

QString CListRow::Text(int column) const {
    const SortListRow* row = Data();
    return row ? row->texts.value(column) : QString();
}

void CListRow::SetText(int column, const QString& text) const {
    if (IsValid()) list_->model_->SetText(id_, column, text);
}

int CListRow::Kind() const {
    const SortListRow* row = Data();
    return row ? row->kind : -1;
}

qint64 CListRow::Size() const {
    const SortListRow* row = Data();
    return row ? row->size : 0;
}

QIcon CListRow::Icon() const {
    const SortListRow* row = Data();
    return row ? row->icon : QIcon();
}

QVariant CListRow::Tag() const {
    const SortListRow* row = Data();
    return row ? row->tag : QVariant();
}

void CListRow::SetTag(const QVariant& tag) const {
    if (IsValid()) list_->model_->At(id_).tag = tag;
}

bool CListRow::Editable() const {
    const SortListRow* row = Data();
    return row && row->editable;
}

void CListRow::SetEditable(bool editable) const {
    if (IsValid()) list_->model_->At(id_).editable = editable;
}

bool CListRow::IsSelected() const {
    return IsValid() && list_->selectionModel()->isRowSelected(Position(), QModelIndex());
}

void CListRow::SetSelected(bool selected) const {
    if (!IsValid()) return;
    const QModelIndex index = list_->IndexOf(*this);
    list_->selectionModel()->select(index, (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                                               QItemSelectionModel::Rows);
}

// ---- CSortListCtrl ----

CSortListCtrl::CSortListCtrl(int controlId, QWidget* parent)
    : QTreeView(parent), controlId_(controlId), model_(new CSortListModel(this)), header_(new CSortHeaderCtrl(this)) {
    setModel(model_);
    setHeader(header_);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);  // full-row selection
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    // The view's own sorting stays off (the list sorts itself, with its own
    // rules), and QTreeView::setHeader() hands the new header the view's
    // "not sortable" state, unclickable sections included: make them
    // clickable again, after the header is in place.
    header_->setSectionsClickable(true);
    header_->setResizeContentsPrecision(kResizeRows);
    connect(header_, &QHeaderView::sectionClicked, this, [this](int c) { OnHeaderClick(c); });
    // A width the user (or a saved record) sets is kept by later fills.
    connect(header_, &QHeaderView::sectionResized, this, [this](int c, int, int) {
        if (!widening_ && c >= 0 && c < userSized_.size()) userSized_[c] = true;
    });
    connect(this, &QAbstractItemView::activated, this, [this](const QModelIndex& index) {
        if (const CListRow row = Row(index.row())) emit RowActivated(row);
    });
    model_->SetEditHandler([this](int id, const QString& text) { emit RowEdited(RowOfId(id), text); });
}

CSortListCtrl::~CSortListCtrl() = default;

bool CSortListCtrl::SetColumns(const QString& spec) {
    const auto columns = ParseColumnSpec(spec);
    columnCount_ = 0;
    QStringList names;
    for (const auto& c : columns) names << c.first;
    const QScopedValueRollback<bool> guard(widening_, true);
    model_->SetHeadings(names);
    for (std::size_t i = 0; i < columns.size(); ++i) setColumnWidth(static_cast<int>(i), columns[i].second);
    columnCount_ = static_cast<int>(columns.size());
    userSized_.fill(false, columnCount_);
    SetListStyle(0, 0);
    return columnCount_ > 0;
}

SortListRow CSortListCtrl::MakeRow(const QIcon& icon, int kind, qint64 size, const QStringList& texts) {
    SortListRow row;
    row.texts = texts;
    row.icon = icon;
    row.kind = kind;
    row.size = size;
    return row;
}

int CSortListCtrl::AddRow(const QIcon& icon, int kind, qint64 size, const QStringList& texts) {
    return model_->PositionOf(model_->Append(MakeRow(icon, kind, size, texts)));
}

void CSortListCtrl::AddRows(std::vector<SortListRow> rows) {
    if (rows.empty()) return;
    if (model_->Count() == 0) {
        model_->Replace(std::move(rows), {});
    } else {
        for (SortListRow& row : rows) model_->Append(std::move(row));
    }
    WidenColumns();
}

void CSortListCtrl::WidenColumns() {
    // The widths of the column specification were measured for the Windows
    // font; with the desktop's font a time such as "2026-12-08 04:12" or a
    // heading would be cut. They stay the minimum; a column grows on a fill
    // to its texts (Qt looks at a bounded number of rows) and its heading
    // with room for the sort arrow, never shrinks, and is left alone once
    // the user has set its width.
    //
    // Qt measures the rows in view and kResizeRows more; the row with the
    // longest text of each column is measured too, so a long name far down a
    // large folder still fits. Measuring every row of 50 000 costs more than
    // the whole fill.
    const int arrowRoom = 3 * (header_->sizeHint().height() / 4);
    const QScopedValueRollback<bool> guard(widening_, true);
    const int rowCount = model_->Count();
    for (int c = 0; c < columnCount_; ++c) {
        if (userSized_.value(c)) continue;
        int need = std::max(sizeHintForColumn(c), header_->sectionSizeHint(c) + arrowRoom);
        int longest = -1;
        qsizetype longestLength = -1;
        for (int id = 0; id < rowCount; ++id) {
            const QStringList& texts = model_->At(id).texts;
            const qsizetype length = c < texts.size() ? texts[c].size() : 0;
            if (length > longestLength) {
                longestLength = length;
                longest = id;
            }
        }
        if (longest >= 0) need = std::max(need, sizeHintForIndex(model_->index(model_->PositionOf(longest), c)).width());
        if (need > columnWidth(c)) setColumnWidth(c, need);
    }
}

bool CSortListCtrl::SetCellText(int row, int column, const QString& text) {
    const int id = model_->IdAt(row);
    if (id < 0 || column < 0 || column >= columnCount_) return false;
    model_->SetText(id, column, text);
    return true;
}

CListRow CSortListCtrl::RowOfId(int id) const {
    if (!model_->HasId(id)) return {};
    return CListRow(const_cast<CSortListCtrl*>(this), id, model_->Generation());
}

CListRow CSortListCtrl::Row(int row) const { return RowOfId(model_->IdAt(row)); }

QModelIndex CSortListCtrl::IndexOf(const CListRow& row, int column) const {
    if (row.list_ != this || !row.IsValid()) return {};
    return model_->index(model_->PositionOf(row.id_), column);
}

QString CSortListCtrl::CellText(int row, int column) const {
    const int id = model_->IdAt(row);
    return id >= 0 ? model_->At(id).texts.value(column) : QString();
}

CListRow CSortListCtrl::FindRow(const QString& text) const {
    for (int p = 0; p < model_->Count(); ++p)
        if (CellText(p, 0) == text) return Row(p);
    return {};
}

std::vector<CListRow> CSortListCtrl::SelectedRows() const {
    QModelIndexList indexes = selectionModel()->selectedRows();
    std::sort(indexes.begin(), indexes.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::vector<CListRow> rows;
    rows.reserve(static_cast<std::size_t>(indexes.size()));
    for (const QModelIndex& i : indexes) rows.push_back(Row(i.row()));
    return rows;
}

int CSortListCtrl::SelectedCount() const { return static_cast<int>(selectionModel()->selectedRows().size()); }

CListRow CSortListCtrl::CurrentRow() const {
    const QModelIndex current = currentIndex();
    return current.isValid() ? Row(current.row()) : CListRow();
}

void CSortListCtrl::SetCurrentRow(const CListRow& row, QItemSelectionModel::SelectionFlags how) {
    const QModelIndex index = IndexOf(row);
    if (!index.isValid()) return;
    if (how != QItemSelectionModel::NoUpdate) how |= QItemSelectionModel::Rows;
    selectionModel()->setCurrentIndex(index, how);
}

CListRow CSortListCtrl::RowAt(const QPoint& point) const {
    const QModelIndex index = indexAt(point);
    return index.isValid() ? Row(index.row()) : CListRow();
}

QRect CSortListCtrl::RowRect(const CListRow& row) const {
    // As the item views' own row rectangle: the union of the shown cells.
    const QModelIndex first = IndexOf(row);
    if (!first.isValid()) return {};
    QRect rect = visualRect(first);
    for (int c = 1; c < columnCount_; ++c)
        if (!isColumnHidden(c)) rect |= visualRect(first.siblingAtColumn(c));
    return rect;
}

void CSortListCtrl::ScrollToRow(const CListRow& row) {
    const QModelIndex index = IndexOf(row);
    if (index.isValid()) scrollTo(index);
}

void CSortListCtrl::EditRow(const CListRow& row) {
    const QModelIndex index = IndexOf(row);
    if (index.isValid()) edit(index);
}

void CSortListCtrl::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QTreeView::selectionChanged(selected, deselected);
    emit SelectionChanged();  // blocked with the list's other signals
}

std::vector<std::uint32_t> CSortListCtrl::SortedOrder(const std::vector<SortListRow>& rows,
                                                      std::vector<std::uint32_t> order, int column, bool ascending) {
    // Each row's kind, text, form and collation key are worked out once, not
    // in every comparison, and the sort moves ids rather than keys: large
    // folders sort many times faster. The rules are those of CompareRows; the
    // collation keys order texts as the locale-aware comparison does.
    struct Key {
        int kind;
        bool number;
        bool date;
        const QString* text;
    };
    const QCollator collator;  // the default locale, as QString::localeAwareCompare
    // In the C locale the collator compares the texts' UTF-16 code units,
    // case-sensitively; done here directly, that is cheaper than making a
    // key (a copy of each text) and comparing those.
    const bool plain = collator.locale().language() == QLocale::C;
    const std::size_t n = rows.size();
    const QString empty;
    std::vector<QCollatorSortKey> collated;
    std::vector<Key> keys;
    if (!plain) collated.reserve(n);
    keys.reserve(n);
    for (std::size_t id = 0; id < n; ++id) {
        const SortListRow& row = rows[id];
        const QString* text = column < row.texts.size() ? &row.texts[column] : &empty;
        if (!plain) collated.push_back(collator.sortKey(*text));
        const bool number = IsNumberText(*text);
        const bool date = !number && IsDateText(*text);
        keys.push_back(Key{row.kind, number, date, text});
    }
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t xi, std::uint32_t yi) {
        const Key& x = keys[xi];
        const Key& y = keys[yi];
        if (x.kind != y.kind) return x.kind < y.kind;
        const std::uint32_t fi = ascending ? xi : yi;
        const std::uint32_t si = ascending ? yi : xi;
        const Key& first = keys[fi];
        const Key& second = keys[si];
        if (x.number && first.text->size() != second.text->size()) return first.text->size() < second.text->size();
        if (x.date) return CompareDates(*first.text, *second.text) < 0;
        if (plain) return QStringView(*first.text).compare(*second.text, Qt::CaseSensitive) < 0;
        return collated[fi].compare(collated[si]) < 0;
    });
    return order;
}

void CSortListCtrl::SortColumn(int column, bool ascending) {
    header_->SetSortArrow(column, ascending);
    if (column < 0 || column >= columnCount_) return;
    // The model moves its ids; selection and current row stay with their rows.
    model_->Reorder(SortedOrder(model_->Rows(), model_->Order(), column, ascending));
}

void CSortListCtrl::AddRowsSorted(std::vector<SortListRow> rows, int column, bool ascending) {
    header_->SetSortArrow(column, ascending);
    std::vector<std::uint32_t> order(rows.size());
    std::iota(order.begin(), order.end(), 0u);
    if (column >= 0 && column < columnCount_) order = SortedOrder(rows, std::move(order), column, ascending);
    const bool any = !rows.empty();
    model_->Replace(std::move(rows), std::move(order));
    if (any) WidenColumns();
}

void CSortListCtrl::Resort() { SortColumn(header_->SortColumn(), header_->Ascending()); }

void CSortListCtrl::OnHeaderClick(int column) {
    const bool ascending = column == header_->SortColumn() ? !header_->Ascending() : true;
    SortColumn(column, ascending);
}

void CSortListCtrl::RestoreColumnWidths() {
    QSettings settings = ProfileSettings();
    settings.beginGroup(QStringLiteral("ListCtrls"));
    const QVariant v = settings.value(QString::number(controlId_));
    if (v.isValid()) header_->ApplyWidths(v.toByteArray());
}

void CSortListCtrl::SetListStyle(int remove, int add) {
    style_ = (style_ & ~remove) | add;
    // List style shows the names only; report style every column with headings.
    const bool list = (style_ & kStyleMask) == kStyleList;
    setHeaderHidden(list);
    for (int c = 1; c < columnCount_; ++c) setColumnHidden(c, list);
}

}  // namespace dorvane
