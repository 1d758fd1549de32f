#include "ui/right_form_view.h"

#include <QApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileIconProvider>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QStorageInfo>
#include <QTimer>
#include <QUrl>
#include <cstdint>
#include <filesystem>

#include "i18n/string_table.h"
#include "menus/commands.h"
#include "names/file_names.h"
#include "transfer/dorvane_doc.h"
#include "ui/file_icons.h"
#include "ui/folder_scan.h"
#include "ui/left_form_view.h"
#include "ui/main_frame.h"
#include "ui/selectors.h"
#include "ui/sort_list.h"

namespace fs = std::filesystem;

namespace dorvane {

namespace {
/// The computer list's control id: names its column widths in the profile.
constexpr int kComputerListId = 1009;
const QString kDotDot = QStringLiteral("..");
const QString kDirType = QStringLiteral("*DIR*");
const QString kFileType = QStringLiteral("*File*");
const QString kTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm");
constexpr double kBytesPerGb = 1024.0 * 1024.0 * 1024.0;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

fs::path PathOf(const QString& s) {
    return fs::path(s.toStdString());
}

/// The entry's name on disk: the row's tag, kept while its cell is edited.
QString NameOf(const CListRow& row) {
    return row.Tag().toString();
}

QString WithSlash(QString path) {
    if (!path.endsWith(u'/')) path += u'/';
    return path;
}
}  // namespace

QString GroupedSize(qint64 bytes) {
    // Written backwards into one buffer, one string made: a large folder
    // formats tens of thousands of these. 19 digits, 6 commas and a sign
    // at most.
    constexpr int kRoom = 32;
    constexpr int kGroup = 3;
    char16_t buf[kRoom];
    int pos = kRoom;
    std::uint64_t v = bytes < 0 ? 0 - static_cast<std::uint64_t>(bytes) : static_cast<std::uint64_t>(bytes);
    int digits = 0;
    do {
        if (digits > 0 && digits % kGroup == 0) buf[--pos] = u',';
        buf[--pos] = static_cast<char16_t>(u'0' + v % 10);
        v /= 10;
        ++digits;
    } while (v != 0);
    if (bytes < 0) buf[--pos] = u'-';
    return QString(reinterpret_cast<const QChar*>(buf + pos), kRoom - pos);
}

CRightFormView::CRightFormView(CMainFrame& frame, QWidget* parent) : CListFormView(frame, parent) {
    auto* drives = new CDeviceComboBox(this);
    selector_ = drives;
    list_ = new CSortListCtrl(kComputerListId, this);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setAcceptDrops(true);
    list_->viewport()->setAcceptDrops(true);
    list_->setDragDropMode(QAbstractItemView::DropOnly);
    list_->installEventFilter(this);
    list_->viewport()->installEventFilter(this);
    list_->SetColumns(Q(ComputerPaneColumns()));
    list_->RestoreColumnWidths();
    drives->Fill();

    connect(drives, &QComboBox::activated, this, [this](int i) { OnDriveChanged(i); });
    connect(list_, &QWidget::customContextMenuRequested, this, [this] { ShowContextMenu(); });
    connect(list_, &CSortListCtrl::SelectionChanged, this, [this] { OnSelectionChanged(); });
    connect(list_, &CSortListCtrl::RowActivated, this, [this](const CListRow& row) { OpenRow(row); });
    connect(list_, &CSortListCtrl::RowEdited, this,
            [this](const CListRow& row, const QString& text) { OnRowEdited(row, text); });
    renameDelay_ = new QTimer(this);
    renameDelay_->setSingleShot(true);
    connect(renameDelay_, &QTimer::timeout, this, [this] { OnRenameDelayOver(); });
}

CDeviceComboBox* CRightFormView::DriveSelector() const {
    return static_cast<CDeviceComboBox*>(selector_);
}

void CRightFormView::ShowInitialFolder() {
    const QString remembered = Q(Doc().ComputerFolder());
    const QString start =
        !remembered.isEmpty() && QDir(remembered).exists() ? remembered : QDir::homePath();
    ListFolder(start);
}

void CRightFormView::UpdateTitle() {
    if (IsActive()) frame_.SetFrameTitle(QStringLiteral("Dorvane -> PC"));
}

bool CRightFormView::CanGoUp() const {
    return !QDir(folder_).isRoot();
}

int CRightFormView::ListFolder(const QString& path) {
    selectedBytes_ = 0;
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    folder_ = WithSlash(clean);
    Doc().SetComputerFolder(folder_.toStdString());
    const int drive = DriveSelector()->IndexForPath(folder_);
    if (drive >= 0) {
        const QSignalBlocker block(selector_);
        selector_->setCurrentIndex(drive);
        driveRoot_ = DriveSelector()->RootAt(drive);
    }
    setUpdatesEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QSignalBlocker block(list_);
    list_->DeleteAllRows();
    std::vector<FolderEntry> entries;
    ScanFolder(clean, !QDir(clean).isRoot(), entries);  // an unreadable folder stays empty
    static const QIcon folderIcon = QFileIconProvider().icon(QFileIconProvider::Folder);
    CLocalTimeText times;
    std::vector<SortListRow> rows;
    rows.reserve(entries.size());
    for (const FolderEntry& e : entries) {
        const QString when = times.Text(e.mtime);
        SortListRow row;
        if (e.dir) {
            row = CSortListCtrl::MakeRow(folderIcon, kRowFolder, 0,
                                         {e.name, kDirType, QString(), when});
        } else {
            row = CSortListCtrl::MakeRow(IconForFile(e.name), kRowFile, e.size,
                                         {e.name, kFileType, GroupedSize(e.size), when});
        }
        row.tag = e.name;
        row.editable = e.name != kDotDot;
        rows.push_back(std::move(row));
    }
    list_->AddRowsSorted(std::move(rows), 0, true);
    QApplication::restoreOverrideCursor();
    setUpdatesEnabled(true);
    update();
    frame_.ShowSelectionSummary(0, 0);
    frame_.UpdateActions();
    return list_->RowCount();
}

void CRightFormView::ShowNewFile() {
    QStringList selected;
    for (const CListRow& row : list_->SelectedRows()) selected << NameOf(row);
    const CListRow current = list_->CurrentRow();
    const QString currentName = current ? NameOf(current) : QString();
    const int column = list_->SortedColumn();
    const bool ascending = list_->SortedAscending();
    ListFolder(folder_);
    if (column >= 0) list_->SortColumn(column, ascending);
    for (int i = 0; i < list_->RowCount(); ++i) {
        const CListRow row = list_->Row(i);
        const QString name = NameOf(row);
        if (name == currentName) list_->SetCurrentRow(row, QItemSelectionModel::NoUpdate);
        if (selected.contains(name)) row.SetSelected(true);
    }
}

void CRightFormView::GoUp() {
    if (CanGoUp()) ListFolder(folder_ + kDotDot);
}

void CRightFormView::OpenRow(const CListRow& row) {
    if (!row || list_->Editing()) return;
    const QString name = NameOf(row);
    if (row.Kind() == kRowFolder)
        ListFolder(folder_ + name);
    else
        frame_.OpenWithDesktop(folder_ + name);
}

QString CRightFormView::SelectedFilePath() const {
    if (list_->SelectedCount() != 1) return {};
    const std::vector<CListRow> rows = list_->SelectedRows();
    if (rows.size() != 1 || rows.front().Kind() != kRowFile) return {};
    return folder_ + NameOf(rows.front());
}

QStringList CRightFormView::SelectedPaths() const {
    QStringList out;
    for (const CListRow& row : list_->SelectedRows()) {
        const QString name = NameOf(row);
        if (name != kDotDot) out << folder_ + name;
    }
    return out;
}

void CRightFormView::OnSelectionChanged() {
    const QSignalBlocker block(list_);
    qint64 bytes = 0;
    int count = 0;
    for (const CListRow& row : list_->SelectedRows()) {
        // ".." is a way up, never something to act on.
        if (NameOf(row) == kDotDot) {
            row.SetSelected(false);
            continue;
        }
        ++count;
        if (row.Kind() == kRowFile) bytes += row.Size();
    }
    selectedBytes_ = bytes;
    frame_.ShowSelectionSummary(count, bytes);
    frame_.UpdateActions();
}

void CRightFormView::OnDriveChanged(int index) {
    const QString root = DriveSelector()->RootAt(index);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QStorageInfo info(root);
    QApplication::restoreOverrideCursor();
    if (info.isValid() && info.isReady() && QDir(root).isReadable()) {
        driveRoot_ = root;
        ListFolder(root);
        return;
    }
    frame_.ShowMessageBox(
        QMessageBox::Critical,
        Q(FormatText(StringId::RES_CRIGHTFORMVIEW_MESSAGE05, root.toStdString().c_str())),
        QMessageBox::Ok);
    const int back = DriveSelector()->IndexForPath(driveRoot_);
    const QSignalBlocker block(selector_);
    if (back >= 0) selector_->setCurrentIndex(back);
}

void CRightFormView::StartRename() {
    if (!IsActive()) return;
    list_->setFocus();
    const std::vector<CListRow> selected = list_->SelectedRows();
    if (selected.empty()) return;
    const CListRow row = selected.front();
    if (!row.Editable()) return;
    list_->SetCurrentRow(row);
    list_->EditRow(row);
}

void CRightFormView::OnListPress(const CListRow& row) {
    renameDelay_->stop();
    // As the Windows list: only a click on the row that is already the one
    // selected and focused, in a list that already had the keyboard, edits
    // its label; the click that selects a row or activates the pane does not.
    pressOnSelected_ = row && list_->hasFocus() && !list_->Editing() && row == list_->CurrentRow() &&
                       row.IsSelected() && list_->SelectedCount() == 1;
    renameName_ = pressOnSelected_ ? NameOf(row) : QString();
}

void CRightFormView::OnListRelease(const CListRow& row) {
    if (!pressOnSelected_ || !row || NameOf(row) != renameName_) {
        pressOnSelected_ = false;
        return;
    }
    pressOnSelected_ = false;
    // A second click within the double-click time is a double click (open)
    // and stops the timer.
    renameDelay_->start(QApplication::doubleClickInterval());
}

void CRightFormView::OnRenameDelayOver() {
    // A box that came up meanwhile (a copy's progress, a question) keeps the
    // keyboard; the list may have been listed again or the selection changed.
    if (QApplication::activeModalWidget()) return;
    const std::vector<CListRow> selected = list_->SelectedRows();
    if (selected.size() != 1 || NameOf(selected.front()) != renameName_) return;
    StartRename();
}

void CRightFormView::OnRowEdited(const CListRow& row, const QString& newName) {
    // Only the cell editor's commit comes here; the cell keeps the old name
    // until the entry really carries the new one. An editor closed with
    // Escape sends nothing, so nothing here may be left waiting for it.
    const QString oldName = NameOf(row);
    if (newName == oldName) return;
    // The rename re-sorts the rows, which must not happen under the open
    // editor: taking its row out would destroy the editor that holds the
    // focus, and the focus would fall to the other pane. Rename once the
    // editor has closed and the list has the focus back.
    QMetaObject::invokeMethod(
        this,
        [this, oldName, newName] {
            for (int i = 0; i < list_->RowCount(); ++i) {
                const CListRow candidate = list_->Row(i);
                if (NameOf(candidate) == oldName) {
                    RenameRow(candidate, newName);
                    return;
                }
            }
        },
        Qt::QueuedConnection);
}

bool CRightFormView::RenameRow(const CListRow& row, const QString& newName) {
    const QString oldName = NameOf(row);
    if (newName.isEmpty() || newName == oldName) return false;  // nothing asked for
    // A rename that does not happen is said, as the desktop's own file
    // manager says it, rather than the old name silently coming back.
    auto refuse = [&](StringId cause) {
        frame_.ShowMessageBox(QMessageBox::Warning,
                              Q(FormatText(StringId::RES_FAULTS_RENAME_FAILED, oldName.toStdString().c_str(),
                                           newName.toStdString().c_str(), Text(cause).c_str())),
                              QMessageBox::Ok);
        return false;
    };
    if (newName.contains(u'/') || newName == kDotDot || newName == QStringLiteral("."))
        return refuse(StringId::RES_FAULTS_CAUSE_BAD_NAME);
    const fs::path from = PathOf(folder_ + oldName);
    const fs::path to = PathOf(folder_ + newName);
    std::error_code ec;
    // On a file system that ignores case, the old entry itself "exists" under the new name.
    if (EntryExists(to)) {
        frame_.ShowMessageBox(
            QMessageBox::Warning,
            Q(FormatText(StringId::RES_CRIGHTFORMVIEW_MESSAGE02_1, newName.toStdString().c_str())) +
                u'\n' + Q(Text(StringId::RES_CRIGHTFORMVIEW_MESSAGE02_2)),
            QMessageBox::Ok);
        return false;
    }
    fs::rename(from, to, ec);
    if (ec) {
        const bool denied = ec == std::errc::permission_denied ||
                            ec == std::errc::operation_not_permitted ||
                            ec == std::errc::read_only_file_system;
        return refuse(denied ? StringId::RES_FAULTS_CAUSE_PERMISSION : StringId::RES_FAULTS_CAUSE_IO);
    }
    const QSignalBlocker block(list_);
    row.SetTag(newName);
    row.SetText(0, newName);
    list_->Resort();
    return true;
}

void CRightFormView::NewFolder() {
    const std::string name =
        UniqueFolderName(PathOf(folder_), Text(StringId::RES_GLOBAL_STRING_NEW_FOLDER));
    if (name.empty()) return;
    std::error_code ec;
    const fs::path path = PathOf(folder_) / name;
    if (!fs::create_directory(path, ec) || !fs::is_directory(path, ec)) return;
    const QString qname = Q(name);
    const QSignalBlocker block(list_);
    const int row = list_->AddRow(
        QFileIconProvider().icon(QFileIconProvider::Folder), kRowFolder, 0,
        {qname, kDirType, QString(), QDateTime::currentDateTime().toString(kTimeFormat)});
    const CListRow item = list_->Row(row);
    item.SetTag(qname);
    item.SetEditable(true);
    list_->clearSelection();
    item.SetSelected(true);
    list_->SetCurrentRow(item);
    list_->EditRow(item);
}

void CRightFormView::ShowFreeSpace() {
    const QStorageInfo info(folder_);
    if (!info.isValid()) return;
    const double gb = static_cast<double>(info.bytesAvailable()) / kBytesPerGb;
    frame_.ShowMessageBox(QMessageBox::Information,
                          Q(FormatText(StringId::RES_CRIGHTFORMVIEW_MESSAGE03, gb)),
                          QMessageBox::Ok);
}

void CRightFormView::DeleteWithQuestion() {
    const int n = SelectedCount();
    if (n == 0 || list_->Editing()) return;
    const int answer = frame_.ShowMessageBox(
        QMessageBox::Question, Q(FormatText(StringId::RES_CRIGHTFORMVIEW_MESSAGE04, n)),
        QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::No) return;
    for (const CListRow& row : list_->SelectedRows()) {
        const QString name = NameOf(row);
        if (name.isEmpty() || name == kDotDot) continue;
        std::error_code ec;
        // remove_all does not follow a link to a folder: only the link goes.
        fs::remove_all(PathOf(folder_ + name), ec);
    }
    ListFolder(folder_);
}

void CRightFormView::BuildItemMenu(QMenu& menu) {
    AddItem(menu, cmd::kCopy, Q(Text(StringId::RES_CRIGHTFORMVIEW_COPY)), false);
    AddItem(menu, cmd::kMove, Q(Text(StringId::RES_CRIGHTFORMVIEW_CUT)), false);
    menu.addSeparator();
    AddItem(menu, cmd::kDelete, Q(Text(StringId::RES_CRIGHTFORMVIEW_DEL)), true);
    AddItem(menu, cmd::kRename, Q(Text(StringId::RES_CRIGHTFORMVIEW_RENAME)), true);
    menu.addSeparator();
    AddItem(menu, cmd::kAddToBook, Q(Text(StringId::RES_BOOKWIN_MENU_ADD)), true);
}

void CRightFormView::BuildBackgroundMenu(QMenu& menu) {
    AddItem(menu, cmd::kNewFolder, Q(Text(StringId::RES_CRIGHTFORMVIEW_NEW_FOLDER)), true);
    menu.addSeparator();
    const bool list = (GetListStyle() & kStyleMask) == kStyleList;
    QAction* a = AddItem(menu, cmd::kStyleList, Q(Text(StringId::RES_CRIGHTFORMVIEW_LIST)), true);
    a->setCheckable(true);
    a->setChecked(list);
    a = AddItem(menu, cmd::kStyleReport, Q(Text(StringId::RES_CRIGHTFORMVIEW_DETAIL)), true);
    a->setCheckable(true);
    a->setChecked(!list);
    menu.addSeparator();
    AddItem(menu, cmd::kDiskSpace, Q(Text(StringId::RES_CRIGHTFORMVIEW_DISK_SPACE)), true);
    menu.addSeparator();
    AddItem(menu, cmd::kRefresh, Q(Text(StringId::RES_CRIGHTFORMVIEW_REFURBISH)), true);
}

bool CRightFormView::CommandEnabled(int id) const {
    switch (id) {
        case cmd::kNewFolder:
        case cmd::kDiskSpace:
            return IsActive();
        case cmd::kRename:
            return IsActive() && SelectedCount() > 0;
        default:
            return false;  // copy and move never start from this pane
    }
}

void CRightFormView::OnCommand(int id) {
    switch (id) {
        case cmd::kNewFolder:
            NewFolder();
            break;
        case cmd::kDiskSpace:
            ShowFreeSpace();
            break;
        case cmd::kRename:
            StartRename();
            break;
        default:
            break;
    }
}

void CRightFormView::OnUpdate(std::uint32_t hints) {
    if ((hints & hint::kDelete) && IsActive()) DeleteWithQuestion();
    if (hints & hint::kLanguage) {
        list_->SetColumns(Q(ComputerPaneColumns()));
        ListFolder(folder_);
    }
    if (hints & hint::kPcRelist) ListFolder(folder_);
    if (hints & hint::kTitle) UpdateTitle();
    if (hints & hint::kUp) GoUp();
}

bool CRightFormView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        renameDelay_->stop();  // a key after the click: the click renames nothing
        if (list_->Editing()) return false;
        switch (key->key()) {
            case Qt::Key_F2:
                StartRename();
                return true;
            case Qt::Key_F5:
                ListFolder(folder_);
                return true;
            case Qt::Key_Backspace:
                GoUp();
                return true;
            default:
                break;
        }
    }
    if (watched == list_->viewport()) {
        const QEvent::Type type = event->type();
        if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
            type == QEvent::MouseButtonDblClick) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            const CListRow row = list_->RowAt(mouse->position().toPoint());
            const bool plainLeft =
                mouse->button() == Qt::LeftButton &&
                !(mouse->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier));
            if (type == QEvent::MouseButtonDblClick || !plainLeft) {
                renameDelay_->stop();
                pressOnSelected_ = false;
            } else if (type == QEvent::MouseButtonPress) {
                OnListPress(row);
            } else {
                OnListRelease(row);
            }
        }
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (drag->mimeData()->hasFormat(QString::fromLatin1(kDeviceDragFormat))) {
                drag->setDropAction(Qt::CopyAction);
                drag->accept();
                return true;
            }
        } else if (event->type() == QEvent::Drop) {
            auto* drop = static_cast<QDropEvent*>(event);
            if (drop->mimeData()->hasFormat(QString::fromLatin1(kDeviceDragFormat))) {
                drop->acceptProposedAction();
                // The copy runs a modal dialog: start it after the drop has ended.
                QMetaObject::invokeMethod(
                    this, [this] { frame_.DevicePane()->CopySelection(false); },
                    Qt::QueuedConnection);
                return true;
            }
        }
    }
    return CListFormView::eventFilter(watched, event);
}

}  // namespace dorvane
