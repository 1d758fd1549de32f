// The main frame's commands: the enable pass, running a command, the field
// view, help and the about box.
#include <QAction>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDockWidget>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <cmath>

#include "convert/download.h"
#include "menus/commands.h"
#include "names/encoding.h"
#include "ui/accuracy_dialog.h"
#include "ui/book_desk.h"
#include "ui/book_service.h"
#include "ui/field_view.h"
#include "ui/ledger_window.h"
#include "ui/left_form_view.h"
#include "ui/main_frame.h"
#include "ui/main_frame_parts.h"
#include "ui/map_sources_dialog.h"
#include "ui/profile.h"
#include "ui/right_form_view.h"
#include "ui/sort_list.h"
#include "ui/split_tracker.h"

namespace dorvane {

using frame_parts::kConvertKey;
using frame_parts::Q;

namespace {

/// The field view's dock opens at this share of the window's height.
constexpr double kFieldDockShare = 0.45;

}  // namespace

void CMainFrame::UpdateActions() {
    if (!splitterReady_) return;
    const bool connected = doc_->IsConnected();
    CListFormView* a = active_;
    auto set = [this](int id, bool enabled) { actions_[id]->setEnabled(enabled); };
    set(cmd::kConnect, !connected);
    set(cmd::kDisconnect, connected);
    for (int id : {cmd::kCopy, cmd::kMove, cmd::kRename, cmd::kNewFolder, cmd::kDiskSpace})
        set(id, a && a->CommandEnabled(id));
    set(cmd::kDelete, a && a->CanDelete());
    set(cmd::kRefresh, a && a->CanRefresh());
    set(cmd::kExportAs, !right_->SelectedPaths().isEmpty());
    set(cmd::kAddToBook, !right_->SelectedPaths().isEmpty());
    set(cmd::kUp, a && a->CanGoUp());
    set(cmd::kPreview, connected && a == left_ && left_->List()->SelectedCount() == 1);
    const bool list = a && (a->GetListStyle() & kStyleMask) == kStyleList;
    actions_[cmd::kStyleList]->setChecked(list);
    actions_[cmd::kStyleReport]->setChecked(!list);
    set(cmd::kChinese, LanguageAvailable(Language::Chinese));
    set(cmd::kEnglish, LanguageAvailable(Language::English));
    actions_[cmd::kChinese]->setChecked(CurrentLanguageIndex() == 0);
    actions_[cmd::kEnglish]->setChecked(CurrentLanguageIndex() == 1);
}

void CMainFrame::RunCommand(int id) {
    UpdateActions();
    QAction* action = Action(id);
    if (action && !action->isEnabled()) return;
    CListFormView* a = active_;
    switch (id) {
        case cmd::kConnect:
            doc_->Connect();
            break;
        case cmd::kDisconnect:
            doc_->Disconnect();
            break;
        case cmd::kExit:
            close();
            break;
        case cmd::kDelete:
            PostToPanes(hint::kDelete);
            break;
        case cmd::kUp:
            PostToPanes(hint::kUp);
            break;
        case cmd::kStyleList:
            if (a) a->SetListStyle(kStyleReport, kStyleList);
            break;
        case cmd::kStyleReport:
            if (a) a->SetListStyle(kStyleMask, kStyleReport);
            break;
        case cmd::kRefresh:
            if (a) a->Refresh();
            break;
        case cmd::kChinese:
            SwitchLanguage(0);
            break;
        case cmd::kEnglish:
            SwitchLanguage(1);
            break;
        case cmd::kHelp:
            ShowHelp();
            break;
        case cmd::kAbout:
            ShowAbout();
            break;
        case cmd::kToolbar:
            findChild<QToolBar*>()->setVisible(action->isChecked());
            break;
        case cmd::kStatusBar:
            statusBar()->setVisible(action->isChecked());
            break;
        case cmd::kSplit:
            splitTracker_->Start();
            break;
        case cmd::kConvert:
            SetConvertOnDownload(action->isChecked());
            break;
        case cmd::kFieldView:
            fieldDock_->setVisible(action->isChecked());
            if (action->isChecked()) ShowSelectedInFieldView();
            break;
        case cmd::kTileSource:
            ChooseTileSource();
            break;
        case cmd::kAccuracy:
            ChooseReceiverAccuracy();
            break;
        case cmd::kLedger: {
            // One window, reloaded with the pane's selection (or its folder).
            if (!ledger_) {
                ledger_ = new CLedgerWindow(this);
                ledger_->SetOnWritten([this](const QString& path) { ListIfShown(path); });
                ledger_->SetOnAddAll([this](const QStringList& files) { bookDesk_->AddFiles(files); });
            }
            const QStringList picked = right_->SelectedPaths();
            ledger_->Load(picked.isEmpty() ? QStringList{right_->Folder()} : picked);
            ledger_->show();
            ledger_->raise();
            break;
        }
        case cmd::kExportAs:
            ListIfShown(ExportAsDialog(this, right_->SelectedPaths()));
            break;
        case cmd::kPreview:
            PreviewDeviceFile();
            break;
        case cmd::kBook:
            bookDesk_->Show();
            break;
        case cmd::kAddToBook:
            bookDesk_->AddFiles(right_->SelectedPaths());
            break;
        case cmd::kBookDownloads:
            SetAddDownloadsToBook(action->isChecked());
            break;
        default:
            if (a && a->CommandEnabled(id)) a->OnCommand(id);
            break;
    }
    UpdateActions();
}

void CMainFrame::SetConvertOnDownload(bool on) {
    doc_->SetModelCode(on ? kConvertingModelCode : 0);
    actions_[cmd::kConvert]->setChecked(on);
    ProfileSettings().setValue(kConvertKey, on);
}

void CMainFrame::BuildFieldView() {
    fieldDock_ = new QDockWidget(this);
    fieldDock_->setObjectName(QStringLiteral("fieldView"));
    fieldDock_->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
    fieldView_ = new CFieldView(fieldDock_);
    fieldDock_->setWidget(fieldView_);
    addDockWidget(Qt::BottomDockWidgetArea, fieldDock_);
    fieldDock_->hide();
    connect(fieldDock_, &QDockWidget::visibilityChanged, actions_[cmd::kFieldView],
            &QAction::setChecked);
    connect(right_->List(), &CSortListCtrl::SelectionChanged, this, [this] {
        if (fieldDock_->isVisible()) ShowSelectedInFieldView();
    });
}

void CMainFrame::ShowSelectedInFieldView() {
    if (!fieldDockSized_) {
        fieldDockSized_ = true;
        resizeDocks({fieldDock_}, {static_cast<int>(height() * kFieldDockShare)}, Qt::Vertical);
    }
    const QString path = right_->SelectedFilePath();
    if (!path.isEmpty() && path != fieldView_->Shown()) fieldView_->ShowFile(path);
}

void CMainFrame::ListIfShown(const QString& written) {
    // A CSV, PDF or export written into the folder the computer pane shows
    // appears there at once, as a copy from the GPS device does.
    if (written.isEmpty()) return;
    if (QDir(QFileInfo(written).absolutePath()) == QDir(right_->Folder())) right_->ShowNewFile();
}

void CMainFrame::OpenInFieldView(const QString& path) {
    fieldDock_->show();
    actions_[cmd::kFieldView]->setChecked(true);
    fieldDockSized_ = true;
    resizeDocks({fieldDock_}, {static_cast<int>(height() * kFieldDockShare)}, Qt::Vertical);
    fieldView_->ShowFile(QFileInfo(path).absoluteFilePath());
}

void CMainFrame::PreviewDeviceFile() {
    const std::vector<CListRow> rows = left_->List()->SelectedRows();
    if (rows.size() != 1) return;
    const std::string name = CLeftFormView::DeviceName(rows.front());
    const auto bytes = doc_->FetchIntoMemory(name);
    if (!bytes) return;  // cancelled, or the error box has been posted
    fieldDock_->show();
    actions_[cmd::kFieldView]->setChecked(true);
    fieldView_->ShowBytes(QByteArray(reinterpret_cast<const char*>(bytes->data()),
                                     static_cast<qsizetype>(bytes->size())),
                          Q(GbkToUtf8Lossy(name)));
}

void CMainFrame::ChooseTileSource() {
    const TileSettings now = LoadTileSettings();
    // "Keep for offline" keeps what the field view shows (nothing when it
    // shows no file).
    CFieldMapWidget* map = fieldView_->Map();
    QRectF area;
    if (map->HasShape()) {
        const WorldPoint tl = ScreenToWorld(QPointF(0, 0), map->View(), map->size());
        const WorldPoint br = ScreenToWorld(QPointF(map->width(), map->height()), map->View(), map->size());
        area = QRectF(QPointF(tl.x, tl.y), QPointF(br.x, br.y));
    }
    CMapSourcesDialog dlg(now, area, static_cast<int>(std::lround(map->View().zoom)), this);
    if (dlg.exec() != QDialog::Accepted) return;
    const TileSettings next = dlg.Chosen();
    SaveTileSettings(next);
    map->SetTiles(next);
}

void CMainFrame::ChooseReceiverAccuracy() {
    CAccuracyDialog dlg(ReceiverAccuracySetting(), this);
    if (dlg.exec() != QDialog::Accepted) return;
    SaveReceiverAccuracySetting(dlg.Chosen());
    // What is shown is measured again with the new band.
    fieldView_->SetReceiverAccuracy(dlg.Chosen());
    if (ledger_) ledger_->SetReceiverAccuracy(dlg.Chosen());
}

QString CMainFrame::HelpFile() {
    const QString lang =
        CurrentLanguage() == Language::English ? QStringLiteral("en") : QStringLiteral("zh");
    // Help opens at the "Communication" topic, as the original help did.
    const QString page = QStringLiteral("help/%1/communication.html").arg(lang);
    QStringList candidates;
    if (auto dir = ExecutableDir()) {
        const QString exe = QString::fromStdString(dir->string());
        candidates << exe + QStringLiteral("/../share/dorvane/") + page;
    }
    candidates << QStringLiteral(DORVANE_DATADIR "/") + page;
    candidates << QStringLiteral(DORVANE_SOURCE_TREE "/resources/") + page;
    for (const QString& c : candidates)
        if (QFileInfo(c).isFile()) return QDir::cleanPath(c);
    return {};
}

void CMainFrame::ShowHelp() {
    const QString file = HelpFile();
    if (file.isEmpty()) {
        const QString lang =
            CurrentLanguage() == Language::English ? QStringLiteral("en") : QStringLiteral("zh");
        ShowMessageBox(
            QMessageBox::Information,
            Q(FormatText(
                StringId::RES_GUI_HELP_MISSING,
                QStringLiteral("help/%1/communication.html").arg(lang).toStdString().c_str())),
            QMessageBox::Ok);
        return;
    }
    OpenWithDesktop(file);
}

void CMainFrame::OpenWithDesktop(const QString& file) {
    // Without a launcher (no xdg-open, no desktop) Qt only warns on stderr.
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(file))) return;
    ShowMessageBox(QMessageBox::Information,
                   Q(FormatText(StringId::RES_GUI_OPEN_FAILED, file.toStdString().c_str())),
                   QMessageBox::Ok);
}

void CMainFrame::ShowAbout() {
    QDialog about(this);
    about.setWindowTitle(Q(Text(StringId::RES_CABOUTDLG_CAPTION)));
    auto* layout = new QVBoxLayout(&about);
    auto* icon = new QLabel(&about);
    icon->setPixmap(ProgramIcon().pixmap(48, 48));
    layout->addWidget(icon);
    layout->addWidget(
        new QLabel(edition_.isEmpty() ? QStringLiteral("Dorvane 1.0.0.0") : edition_, &about));
    layout->addWidget(new QLabel(Q(Text(StringId::RES_CABOUTDLG_COPYRIGHT)), &about));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &about);
    buttons->button(QDialogButtonBox::Ok)->setText(Q(Text(StringId::RES_CABOUTDLG_BTN_OK)));
    connect(buttons, &QDialogButtonBox::accepted, &about, &QDialog::accept);
    layout->addWidget(buttons);
    about.exec();
}

}  // namespace dorvane
