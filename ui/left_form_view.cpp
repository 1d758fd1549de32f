#include "ui/left_form_view.h"

#include <QDateTime>
#include <QDrag>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QResizeEvent>

#include "i18n/string_table.h"
#include "menus/commands.h"
#include "names/encoding.h"
#include "names/shown_name.h"
#include "transfer/dorvane_doc.h"
#include "ui/book_desk.h"
#include "ui/file_icons.h"
#include "ui/folder_scan.h"
#include "ui/main_frame.h"
#include "ui/right_form_view.h"
#include "ui/selectors.h"
#include "ui/sort_list.h"

namespace dorvane {

namespace {
/// The device list's control id: names its column widths in the profile.
constexpr int kDeviceListId = 1001;
/// Entries dated before this year carry no real time (the handheld's clock was unset).
constexpr int kFirstPlausibleYear = 2000;
constexpr int kBusyWidth = 80;
constexpr int kBusyHeight = 20;

QString Q(const std::string& s) { return QString::fromStdString(s); }

/// The device list drags its rows as this format; the computer pane takes it as a copy.
class CDeviceList : public CSortListCtrl {
public:
    using CSortListCtrl::CSortListCtrl;

protected:
    void startDrag(Qt::DropActions) override {
        if (SelectedCount() == 0) return;
        auto* drag = new QDrag(this);
        auto* mime = new QMimeData;
        mime->setData(QString::fromLatin1(kDeviceDragFormat), QByteArray("1"));
        drag->setMimeData(mime);
        drag->exec(Qt::CopyAction);
    }
};
}  // namespace

CLeftFormView::CLeftFormView(CMainFrame& frame, QWidget* parent) : CListFormView(frame, parent) {
    auto* selector = new CIconComboBox(this);
    selector_ = selector;
    list_ = new CDeviceList(kDeviceListId, this);
    list_->setDragEnabled(true);
    list_->setDragDropMode(QAbstractItemView::DragOnly);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    busy_ = new QProgressBar(this);
    busy_->setRange(0, 0);  // an endless busy animation
    busy_->setTextVisible(false);
    busy_->hide();

    list_->SetColumns(Q(DevicePaneColumns()));
    list_->RestoreColumnWidths();
    FillSelector();
    selector->setCurrentIndex(Doc().GetLinkType() == LinkType::kUsb ? 1 : 0);
    connect(selector, &QComboBox::currentIndexChanged, this,
            [this](int i) { Doc().SetLinkType(i == 1 ? LinkType::kUsb : LinkType::kSerial); });
    connect(list_, &QWidget::customContextMenuRequested, this, [this] { ShowContextMenu(); });
    connect(list_, &CSortListCtrl::SelectionChanged, this, [this] { frame_.UpdateActions(); });
}

CIconComboBox* CLeftFormView::LinkSelector() const { return static_cast<CIconComboBox*>(selector_); }
bool CLeftFormView::BusyShown() const { return busy_->isVisible(); }

void CLeftFormView::FillSelector() {
    const int current = selector_->currentIndex();
    LinkSelector()->SetItems({Q(Text(StringId::RES_CLEFTFORMVIEW_COM)), QStringLiteral("USB")},
                             {LinkIcon(0), LinkIcon(1)});
    const QSignalBlocker block(selector_);
    selector_->setCurrentIndex(current < 0 ? 0 : current);
    resizeEvent(nullptr);
}

bool CLeftFormView::CanDelete() const { return Doc().IsConnected() && SelectedCount() > 0; }
bool CLeftFormView::CanRefresh() const { return Doc().IsConnected(); }

void CLeftFormView::Refresh() {
    if (!Doc().ListDevice()) {
        frame_.ShowMessageBox(QMessageBox::Information, Q(Text(StringId::RES_GLOBAL_STRING_RES_ERR_MSG_DEV_ERROR)),
                              QMessageBox::Ok);
        Doc().Disconnect();
    }
}

void CLeftFormView::UpdateTitle() {
    if (IsActive()) frame_.SetFrameTitle(QStringLiteral("Dorvane"));
}

QString CLeftFormView::GetCaption() const { return Doc().IsConnected() ? QStringLiteral("SMC:\\") : QString(); }

void CLeftFormView::BuildItemMenu(QMenu& menu) {
    const bool canCopy = CommandEnabled(cmd::kCopy);
    AddItem(menu, cmd::kCopy, Q(Text(StringId::RES_CLEFTFORMVIEW_COPY)), canCopy);
    AddItem(menu, cmd::kMove, Q(Text(StringId::RES_CLEFTFORMVIEW_CUT)), canCopy);
    menu.addSeparator();
    AddItem(menu, cmd::kDelete, Q(Text(StringId::RES_CLEFTFORMVIEW_DEL)), CanDelete());
    AddItem(menu, cmd::kRename, Q(Text(StringId::RES_CLEFTFORMVIEW_RENAME)), false);
}

void CLeftFormView::BuildBackgroundMenu(QMenu& menu) {
    AddItem(menu, cmd::kNewFolder, Q(Text(StringId::RES_CLEFTFORMVIEW_NEW_FOLDER)), false);
    menu.addSeparator();
    const bool list = (GetListStyle() & kStyleMask) == kStyleList;
    QAction* a = AddItem(menu, cmd::kStyleList, Q(Text(StringId::RES_CLEFTFORMVIEW_LIST)), true);
    a->setCheckable(true);
    a->setChecked(list);
    a = AddItem(menu, cmd::kStyleReport, Q(Text(StringId::RES_CLEFTFORMVIEW_DETAIL)), true);
    a->setCheckable(true);
    a->setChecked(!list);
    menu.addSeparator();
    AddItem(menu, cmd::kDiskSpace, Q(Text(StringId::RES_CLEFTFORMVIEW_DISK_SPACE)), false);
    menu.addSeparator();
    AddItem(menu, cmd::kRefresh, Q(Text(StringId::RES_CLEFTFORMVIEW_REFURBISH)), Doc().IsConnected());
}

bool CLeftFormView::CommandEnabled(int id) const {
    switch (id) {
    case cmd::kCopy:
    case cmd::kMove: return IsActive() && Doc().IsConnected() && SelectedCount() > 0;
    default: return false;
    }
}

void CLeftFormView::OnCommand(int id) {
    if (id == cmd::kCopy || id == cmd::kMove) CopySelection(id == cmd::kMove);
}

void CLeftFormView::OnUpdate(std::uint32_t hints) {
    if (hints & hint::kLanguage) {
        list_->DeleteAllRows();
        list_->SetColumns(Q(DevicePaneColumns()));
        FillSelector();
        FillList();
    }
    if (hints & hint::kShowBusy) {
        busy_->setGeometry(width() / 2 - kBusyWidth / 2, height() / 2 - kBusyHeight / 2, kBusyWidth, kBusyHeight);
        busy_->show();
        busy_->raise();
    }
    if (hints & hint::kHideBusy) busy_->hide();
    if ((hints & hint::kDelete) && IsActive()) DeleteWithQuestion();
    if (hints & hint::kLinkState) {
        selector_->setEnabled(!Doc().IsConnected());
        update();
    }
    if (hints & hint::kDeviceList) FillList();
    if (hints & hint::kDeviceSelect) DeselectUnmarked();
    if (hints & hint::kTitle) UpdateTitle();
    if (hints & hint::kDeviceRoot) Doc().ListDevice();
    frame_.UpdateActions();
}

std::string CLeftFormView::DeviceName(const CListRow& row) {
    // The row's tag: the handheld's own bytes of the name.
    return row ? row.Tag().toByteArray().toStdString() : std::string();
}

void CLeftFormView::FillList() {
    list_->DeleteAllRows();
    update();
    if (!Doc().IsConnected()) return;
    setUpdatesEnabled(false);
    const std::int64_t now = QDateTime::currentSecsSinceEpoch();
    // The first local second of the first plausible year: a QDateTime per
    // entry (local time conversions) cost more than the rest of a fill.
    const std::int64_t firstPlausible =
        QDateTime(QDate(kFirstPlausibleYear, 1, 1), QTime(0, 0)).toSecsSinceEpoch();
    CLocalTimeText times;  // "yyyy-MM-dd HH:mm" in local time
    std::vector<SortListRow> rows;
    rows.reserve(Doc().DeviceFiles().size());
    for (const DeviceFileEntry& e : Doc().DeviceFiles()) {
        if (std::any_of(std::begin(kHiddenDeviceFiles), std::end(kHiddenDeviceFiles),
                        [&](const char* hidden) { return e.name == hidden; }))
            continue;
        std::int64_t when = e.mtime;
        // A handheld whose clock was never set reports 1970; show the time of
        // this fill instead of dropping the file.
        if (when < firstPlausible) {
            when = now;
            // The document keeps that time, so every fill shows the same one.
            Doc().SetEntryTime(e.name, now);
        }
        const QString name = Q(ShownName(e));
        // The icon of the file's type, by its name alone, as in the computer pane.
        SortListRow row = CSortListCtrl::MakeRow(IconForFile(name), kRowFile, e.size,
                                                 {name, QString::number(e.size), times.Text(when)});
        row.tag = QByteArray::fromStdString(e.name);
        rows.push_back(std::move(row));
    }
    list_->AddRowsSorted(std::move(rows), 0, true);
    setUpdatesEnabled(true);
}

void CLeftFormView::DeselectUnmarked() {
    for (const CListRow& row : list_->SelectedRows()) {
        if (!Doc().IsSelected(DeviceName(row))) {
            row.SetSelected(false);
            return;
        }
    }
}

void CLeftFormView::MarkSelection() {
    Doc().ClearSelection();
    // In list order, as the rows stand.
    for (int i = 0; i < list_->RowCount(); ++i) {
        const CListRow row = list_->Row(i);
        if (row.IsSelected()) Doc().SelectByName(DeviceName(row));
    }
}

void CLeftFormView::CopySelection(bool move) {
    if (!Doc().IsConnected() || SelectedCount() == 0) return;
    MarkSelection();
    Doc().SetComputerFolder(frame_.ComputerPane()->Folder().toStdString());
    if (CBookDesk* book = frame_.Book()) book->BeginDownloads();
    Doc().CopyFromDevice(move);
}

void CLeftFormView::DeleteWithQuestion() {
    const int n = SelectedCount();
    if (n == 0) return;
    const int answer = frame_.ShowMessageBox(
        QMessageBox::Question, Q(FormatText(StringId::RES_CLEFTFORMVIEW_MESSAGE02, n)),
        QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::No) return;
    MarkSelection();
    Doc().DeleteSelected();
}

}  // namespace dorvane
