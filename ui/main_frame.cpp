#include "ui/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDockWidget>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <cmath>

#include "convert/download.h"
#include "menus/commands.h"
#include "names/encoding.h"
#include "ui/book_desk.h"
#include "ui/book_service.h"
#include "ui/field_view.h"
#include "ui/ledger_window.h"
#include "ui/left_form_view.h"
#include "ui/profile.h"
#include "ui/qt_front_end.h"
#include "ui/qt_translations.h"
#include "ui/right_form_view.h"
#include "ui/sort_list.h"
#include "ui/split_tracker.h"
#include "ui/trans_wait.h"

namespace dorvane {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

/// The divider sits 15 pixels left of the middle; no column is narrower than 10.
constexpr int kSplitOffset = 15;
constexpr int kMinColumn = 10;
/// Status pane 1 (the selection count) is 120 pixels wide.
constexpr int kCountPaneWidth = 120;
constexpr int kStatusPanes = 5;
const QString kConvertKey = QStringLiteral("ConvertOnDownload");
/// The field view's dock opens at this share of the window's height.
constexpr double kFieldDockShare = 0.45;

struct CommandText {
    int id;
    StringId menu;    ///< the menu item's text
    StringId prompt;  ///< the status-bar prompt
};

// Menu texts and prompts of every command item, in the order they are applied.
const CommandText kCommandTexts[] = {
    {cmd::kConnect, StringId::RES_CMAINFRAME_MENU_0_0, StringId::RES_CMAINFRAME_TP_APP_CONNECT},
    {cmd::kDisconnect, StringId::RES_CMAINFRAME_MENU_0_1,
     StringId::RES_CMAINFRAME_TP_FILE_DISCONNECT},
    {cmd::kExit, StringId::RES_CMAINFRAME_MENU_0_2, StringId::RES_CMAINFRAME_TP_APP_EXIT},
    {cmd::kCopy, StringId::RES_CMAINFRAME_MENU_1_0, StringId::RES_CMAINFRAME_TP_APP_COPY},
    {cmd::kMove, StringId::RES_CMAINFRAME_MENU_1_1, StringId::RES_CMAINFRAME_TP_APP_MOVE},
    {cmd::kDelete, StringId::RES_CMAINFRAME_MENU_1_2, StringId::RES_CMAINFRAME_TP_APP_DELETE},
    {cmd::kRename, StringId::RES_CMAINFRAME_MENU_1_3, StringId::RES_CMAINFRAME_TP_APP_RENAME},
    {cmd::kNewFolder, StringId::RES_CMAINFRAME_MENU_1_4, StringId::RES_CMAINFRAME_TP_APP_NEWFOLDER},
    {cmd::kStyleList, StringId::RES_CMAINFRAME_MENU_2_0, StringId::RES_CMAINFRAME_TP_APP_STYLE1},
    {cmd::kStyleReport, StringId::RES_CMAINFRAME_MENU_2_1, StringId::RES_CMAINFRAME_TP_APP_STYLE2},
    {cmd::kToolbar, StringId::RES_CMAINFRAME_MENU_2_2, StringId::RES_CMAINFRAME_TP_VIEW_TOOLBAR},
    {cmd::kStatusBar, StringId::RES_CMAINFRAME_MENU_2_3,
     StringId::RES_CMAINFRAME_TP_VIEW_STATUS_BAR},
    {cmd::kSplit, StringId::RES_CMAINFRAME_MENU_2_4, StringId::RES_CMAINFRAME_TP_WINDOW_SPLIT},
    {cmd::kDiskSpace, StringId::RES_CMAINFRAME_MENU_2_5, StringId::RES_CMAINFRAME_TP_APP_EMPTY},
    {cmd::kRefresh, StringId::RES_CMAINFRAME_MENU_2_6, StringId::RES_CMAINFRAME_TP_APP_REFER},
    {cmd::kChinese, StringId::RES_CMAINFRAME_MENU_2_7_0, StringId::RES_CMAINFRAME_TP_CODE_CHINESE},
    {cmd::kEnglish, StringId::RES_CMAINFRAME_MENU_2_7_1, StringId::RES_CMAINFRAME_TP_CODE_ENGLISH},
    {cmd::kHelp, StringId::RES_CMAINFRAME_MENU_3_1, StringId::RES_CMAINFRAME_TP_APP_HELPTOPIC},
    {cmd::kAbout, StringId::RES_CMAINFRAME_MENU_3_0, StringId::RES_CMAINFRAME_TP_APP_ABOUT},
    {cmd::kConvert, StringId::RES_GUI_MENU_CONVERT, StringId::RES_GUI_TP_CONVERT},
    {cmd::kFieldView, StringId::RES_FIELD_MENU_VIEW, StringId::RES_FIELD_TP_VIEW},
    {cmd::kTileSource, StringId::RES_FIELD_MENU_TILES, StringId::RES_FIELD_TP_TILES},
    {cmd::kLedger, StringId::RES_LEDGER_MENU, StringId::RES_LEDGER_TP_MENU},
    {cmd::kExportAs, StringId::RES_LEDGER_MENU_EXPORT, StringId::RES_LEDGER_TP_EXPORT},
    {cmd::kPreview, StringId::RES_FIELD_MENU_PREVIEW, StringId::RES_FIELD_TP_PREVIEW},
    {cmd::kBook, StringId::RES_BOOKWIN_MENU, StringId::RES_BOOKWIN_TP_MENU},
    {cmd::kAddToBook, StringId::RES_BOOKWIN_MENU_ADD, StringId::RES_BOOKWIN_TP_ADD},
    {cmd::kBookDownloads, StringId::RES_BOOKWIN_MENU_DOWNLOADS, StringId::RES_BOOKWIN_TP_DOWNLOADS},
    // The toolbar's "up" has no menu item; its menu text is never shown.
    {cmd::kUp, StringId::RES_CMAINFRAME_TOOLTIP_DIR_UP, StringId::RES_CMAINFRAME_TP_APP_DIR_UP},
};

struct TipText {
    int id;
    StringId tip;
};
const TipText kTooltips[] = {
    {cmd::kNewFolder, StringId::RES_CMAINFRAME_TOOLTIP_NEWFOLDER},
    {cmd::kStyleList, StringId::RES_CMAINFRAME_TOOLTIP_STYLE1},
    {cmd::kConnect, StringId::RES_CMAINFRAME_TOOLTIP_CONNECT},
    {cmd::kCopy, StringId::RES_CMAINFRAME_TOOLTIP_COPY},
    {cmd::kDiskSpace, StringId::RES_CMAINFRAME_TOOLTIP_EMPTY},
    {cmd::kStyleReport, StringId::RES_CMAINFRAME_TOOLTIP_STYLE2},
    {cmd::kDelete, StringId::RES_CMAINFRAME_TOOLTIP_DELETE},
    {cmd::kMove, StringId::RES_CMAINFRAME_TOOLTIP_MOVE},
    {cmd::kUp, StringId::RES_CMAINFRAME_TOOLTIP_DIR_UP},
    {cmd::kAbout, StringId::RES_CMAINFRAME_TOOLTIP_ABOUT},
};

// The accelerator table: the seven keys of the Windows program, then the
// field view's, the ledger's, the preview's and the book's.
const std::pair<int, QKeySequence> kAccelerators[] = {
    {cmd::kDisconnect, QKeySequence(Qt::CTRL | Qt::Key_D)},
    {cmd::kMove, QKeySequence(Qt::CTRL | Qt::Key_M)},
    {cmd::kConnect, QKeySequence(Qt::CTRL | Qt::Key_N)},
    {cmd::kCopy, QKeySequence(Qt::CTRL | Qt::Key_O)},
    {cmd::kDelete, QKeySequence(Qt::Key_Delete)},
    {cmd::kRefresh, QKeySequence(Qt::Key_F5)},
    {cmd::kExit, QKeySequence(Qt::CTRL | Qt::Key_X)},
    {cmd::kFieldView, QKeySequence(Qt::CTRL | Qt::Key_G)},
    {cmd::kLedger, QKeySequence(Qt::CTRL | Qt::Key_L)},
    {cmd::kExportAs, QKeySequence(Qt::CTRL | Qt::Key_E)},
    {cmd::kPreview, QKeySequence(Qt::Key_F3)},
    {cmd::kBook, QKeySequence(Qt::CTRL | Qt::Key_B)},
};

// Toolbar buttons in order; 0 is a separator.
const int kToolbarOrder[] = {cmd::kConnect,     0,
                             cmd::kCopy,        cmd::kMove,
                             cmd::kDelete,      0,
                             cmd::kUp,          cmd::kNewFolder,
                             cmd::kDiskSpace,   cmd::kStyleList,
                             cmd::kStyleReport, cmd::kAbout};

/// Selected bytes as the status bar shows them: "%.0f BYTE" below 1024,
/// otherwise "%.2f" with KB, MB or GB.
QString BytesText(qint64 bytes) {
    static const char* const kUnits[] = {"BYTE", "KB", "MB", "GB"};
    constexpr double kStep = 1024.0;
    double v = static_cast<double>(bytes);
    if (v < kStep) return QStringLiteral("%1 %2").arg(v, 0, 'f', 0).arg(QLatin1String(kUnits[0]));
    int unit = 0;
    while (v >= kStep && unit < 3) {
        v /= kStep;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(v, 0, 'f', 2).arg(QLatin1String(kUnits[unit]));
}

}  // namespace

QString CutTooltip(const QString& text) {
    constexpr char32_t kLastSingleByte = 0x7F;  // GBK keeps ASCII in one byte
    int bytes = 0;
    qsizetype end = 0;
    for (qsizetype i = 0; i < text.size();) {
        const char32_t c = text.at(i).isHighSurrogate() && i + 1 < text.size()
                               ? QChar::surrogateToUcs4(text.at(i), text.at(i + 1))
                               : text.at(i).unicode();
        constexpr char32_t kLastSingleUnit = 0xFFFF;  // above it UTF-16 needs a surrogate pair
        const qsizetype units = c > kLastSingleUnit ? 2 : 1;
        bytes += c <= kLastSingleByte ? 1 : 2;
        if (bytes > kMaxTooltipBytes) break;
        i += units;
        end = i;
    }
    return text.left(end);
}

std::pair<int, int> SplitWidths(int clientWidth) {
    const int half = static_cast<int>(std::trunc(clientWidth * -0.5));
    const int left = -kSplitOffset - half;
    const int right = kSplitOffset - half;
    if (left < 0) return {kMinColumn, kMinColumn};
    return {std::max(left, kMinColumn), std::max(right, kMinColumn)};
}

CMainFrame::CMainFrame(CDorvaneDoc::Options options, Hooks hooks) : hooks_(std::move(hooks)) {
    wait_ = new CTransWait(this);
    fe_ = std::make_unique<CQtFrontEnd>(*this, *wait_);
    doc_ = std::make_unique<CDorvaneDoc>(*fe_, std::move(options));
    const bool convert = ProfileSettings().value(kConvertKey, false).toBool();
    doc_->SetModelCode(convert ? kConvertingModelCode : 0);
    setWindowIcon(ProgramIcon());

    BuildActions();
    BuildMenus();
    BuildToolBar();
    BuildStatusBar();

    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setChildrenCollapsible(false);
    left_ = new CLeftFormView(*this, splitter_);
    right_ = new CRightFormView(*this, splitter_);
    splitter_->addWidget(left_);
    splitter_->addWidget(right_);
    setCentralWidget(splitter_);
    splitTracker_ = new CSplitTracker(splitter_, this);
    splitterReady_ = true;
    actions_[cmd::kConvert]->setChecked(convert);
    right_->ShowInitialFolder();
    SetActivePane(right_);
    // The window's first focus goes to the computer list; left to itself it
    // would go to the first control, the link selector, and make the device
    // pane active.
    right_->List()->setFocus();
    BuildFieldView();
    bookDesk_ = new CBookDesk(*this);
    actions_[cmd::kBookDownloads]->setChecked(AddDownloadsToBook());

    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        for (QWidget* w = now; w; w = w->parentWidget()) {
            if (w == left_ || w == right_) {
                SetActivePane(static_cast<CListFormView*>(w));
                return;
            }
        }
    });
    ApplyMenuTexts();
    UpdateActions();
    SetFrameTitle(QStringLiteral("Dorvane -> PC"));
}

CMainFrame::~CMainFrame() {
    // The worker stops before the windows it posts to go away.
    doc_.reset();
}

QAction* CMainFrame::Action(int id) const {
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void CMainFrame::BuildActions() {
    for (const CommandText& c : kCommandTexts) {
        auto* a = new QAction(CommandIcon(c.id), QString(), this);
        a->setData(c.id);
        a->setIconVisibleInMenu(true);
        connect(a, &QAction::triggered, this, [this, id = c.id] { RunCommand(id); });
        actions_[c.id] = a;
    }
    for (const auto& [id, keys] : kAccelerators) actions_[id]->setShortcut(keys);
    for (int id : {cmd::kStyleList, cmd::kStyleReport, cmd::kToolbar, cmd::kStatusBar,
                   cmd::kChinese, cmd::kEnglish, cmd::kConvert, cmd::kFieldView, cmd::kBookDownloads})
        actions_[id]->setCheckable(true);
}

void CMainFrame::BuildMenus() {
    QMenuBar* bar = menuBar();
    for (auto& m : menus_) {
        m = bar->addMenu(QString());
        connect(m, &QMenu::aboutToShow, this, [this] { UpdateActions(); });
    }
    auto add = [this](QMenu* m, int id) { m->addAction(actions_[id]); };
    add(menus_[0], cmd::kConnect);
    add(menus_[0], cmd::kDisconnect);
    menus_[0]->addSeparator();
    add(menus_[0], cmd::kExit);
    for (int id : {cmd::kCopy, cmd::kMove, cmd::kDelete, cmd::kRename, cmd::kNewFolder})
        add(menus_[1], id);
    menus_[1]->addSeparator();
    add(menus_[1], cmd::kPreview);
    for (int id : {cmd::kStyleList, cmd::kStyleReport}) add(menus_[2], id);
    menus_[2]->addSeparator();
    for (int id : {cmd::kToolbar, cmd::kStatusBar, cmd::kSplit, cmd::kDiskSpace, cmd::kRefresh})
        add(menus_[2], id);
    menus_[2]->addSeparator();
    languageMenu_ = menus_[2]->addMenu(QString());
    add(languageMenu_, cmd::kChinese);
    add(languageMenu_, cmd::kEnglish);
    connect(languageMenu_, &QMenu::aboutToShow, this, [this] { UpdateActions(); });
    for (QMenu* m : {menus_[0], menus_[1], menus_[2], menus_[3], languageMenu_}) {
        m->installEventFilter(this);
        // Once the last menu has closed the prompt says "Ready" again.
        connect(m, &QMenu::aboutToHide, this, [this] {
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (!QApplication::activePopupWidget())
                        SetStatusText(status_pane::kMessage,
                                      Q(Text(StringId::RES_CMAINFRAME_TP_READY)));
                },
                Qt::QueuedConnection);
        });
    }
    add(menus_[2], cmd::kConvert);
    menus_[2]->addSeparator();
    add(menus_[2], cmd::kFieldView);
    add(menus_[2], cmd::kTileSource);
    menus_[1]->addSeparator();
    add(menus_[1], cmd::kLedger);
    add(menus_[1], cmd::kExportAs);
    menus_[1]->addSeparator();
    for (int id : {cmd::kBook, cmd::kAddToBook, cmd::kBookDownloads}) add(menus_[1], id);
    add(menus_[3], cmd::kHelp);
    add(menus_[3], cmd::kAbout);
}

void CMainFrame::BuildToolBar() {
    QToolBar* tb = addToolBar(QStringLiteral("Dorvane"));
    tb->setObjectName(QStringLiteral("toolbar"));
    tb->setIconSize(QSize(16, 16));
    for (int id : kToolbarOrder) {
        if (id == 0)
            tb->addSeparator();
        else
            tb->addAction(actions_[id]);
    }
    actions_[cmd::kToolbar]->setChecked(true);
    connect(tb, &QToolBar::visibilityChanged, actions_[cmd::kToolbar], &QAction::setChecked);
}

void CMainFrame::BuildStatusBar() {
    QStatusBar* sb = statusBar();
    for (int i = 0; i < kStatusPanes; ++i) {
        panes_[i] = new QLabel(sb);
        if (i == 0)
            sb->addWidget(panes_[i], 1);
        else
            sb->addPermanentWidget(panes_[i]);
    }
    panes_[1]->setFixedWidth(kCountPaneWidth);
    actions_[cmd::kStatusBar]->setChecked(true);
}

void CMainFrame::SetActivePane(CListFormView* pane) {
    if (!pane || active_ == pane) return;
    active_ = pane;
    for (CListFormView* p :
         {static_cast<CListFormView*>(left_), static_cast<CListFormView*>(right_)})
        if (p && p != pane) p->SetActive(false);
    pane->SetActive(true);
    UpdateActions();
}

void CMainFrame::PostToPanes(std::uint32_t hints) {
    // The document relays this after each download it has stored.
    if ((hints & hint::kDeviceSelect) && bookDesk_) bookDesk_->TakeDownloads();
    for (CListFormView* p :
         {static_cast<CListFormView*>(left_), static_cast<CListFormView*>(right_)})
        QMetaObject::invokeMethod(
            p, [p, hints] { p->OnUpdate(hints); }, Qt::QueuedConnection);
}

void CMainFrame::OnDeviceError(int code) {
    ShowMessageBox(QMessageBox::Critical, Q(DeviceErrorText(code)), QMessageBox::Ok);
    // A time-out, a pulled cable or a worker that would not start leaves the link unusable.
    if (code == transport_error::kTimeout || code == transport_error::kDisconnected ||
        code == doc_error::kStartFailed)
        doc_->Disconnect();
}

int CMainFrame::ShowMessageBox(QMessageBox::Icon icon, const QString& text,
                               QMessageBox::StandardButtons buttons) {
    if (hooks_.messageBox) return hooks_.messageBox(icon, text, buttons);
    QMessageBox box(icon, QStringLiteral("Dorvane"), text, buttons, this);
    return box.exec();
}

bool CMainFrame::LanguageAvailable(Language l) const {
    return hooks_.languageAvailable ? hooks_.languageAvailable(l) : LanguageFileAvailable(l);
}

bool CMainFrame::SwitchLanguage(int index) {
    const Language l = index == 0 ? Language::Chinese : Language::English;
    const bool loaded = hooks_.loadLanguage ? hooks_.loadLanguage(l) : LoadLanguage(l);
    if (!loaded) return false;
    ApplyQtTranslations(l);  // without Qt's file its own texts stay English
    ApplyMenuTexts();
    wait_->ApplyTexts();
    PostToPanes(hint::kLanguage);
    UpdateActions();
    return true;
}

void CMainFrame::ApplyMenuTexts() {
    const StringId tops[] = {StringId::RES_CMAINFRAME_MENU_0, StringId::RES_CMAINFRAME_MENU_1,
                             StringId::RES_CMAINFRAME_MENU_2, StringId::RES_CMAINFRAME_MENU_3};
    for (int i = 0; i < 4; ++i) menus_[i]->setTitle(Q(Text(tops[i])));
    for (const CommandText& c : kCommandTexts) {
        actions_[c.id]->setText(Q(Text(c.menu)));
        actions_[c.id]->setStatusTip(Q(Text(c.prompt)));
        actions_[c.id]->setToolTip(QString());
    }
    for (const TipText& t : kTooltips) actions_[t.id]->setToolTip(CutTooltip(Q(Text(t.tip))));
    languageMenu_->setTitle(Q(Text(StringId::RES_CMAINFRAME_MENU_2_7)));
    if (fieldView_) fieldView_->ApplyTexts();
    if (ledger_) ledger_->Retranslate();
    if (bookDesk_) bookDesk_->Retranslate();
    SetStatusText(status_pane::kMessage, Q(Text(StringId::RES_CMAINFRAME_TP_READY)));
}

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
    set(cmd::kPreview, connected && a == left_ && left_->List()->selectedItems().size() == 1);
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
    connect(right_->List(), &QTreeWidget::itemSelectionChanged, this, [this] {
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
    const QList<QTreeWidgetItem*> rows = left_->List()->selectedItems();
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
    bool ok = false;
    const QString url = QInputDialog::getText(this, QStringLiteral("Dorvane"),
                                              Q(Text(StringId::RES_FIELD_TILES_PROMPT)),
                                              QLineEdit::Normal, now.urlTemplate, &ok);
    if (!ok) return;
    const TileSettings next = TileSettingsFor(url);
    SaveTileSettings(next);
    fieldView_->Map()->SetTiles(next);
}

void CMainFrame::ShowSelectionSummary(int count, qint64 bytes) {
    if (!panes_[1]) return;
    panes_[1]->setText(count < 1 ? QString()
                                 : Q(CountText(StringId::RES_CMAINFRAME_MESSAGE01,
                                               StringId::RES_CORE2_ONE_ITEM_SELECTED, count)));
    panes_[2]->setText(bytes == 0 ? QString() : BytesText(bytes));
}

void CMainFrame::SetStatusText(int pane, const QString& text) {
    if (pane >= 0 && pane < kStatusPanes && panes_[pane]) panes_[pane]->setText(text);
}

QString CMainFrame::StatusText(int pane) const {
    return pane >= 0 && pane < kStatusPanes && panes_[pane] ? panes_[pane]->text() : QString();
}

void CMainFrame::SetFrameTitle(const QString& title) {
    setWindowTitle(title);
}

void CMainFrame::ApplySplitRule() {
    if (!splitterReady_) return;
    const auto [l, r] = SplitWidths(width());
    splitter_->setSizes({l, r});
}

void CMainFrame::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    ApplySplitRule();
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* e) {
    // Qt tells nothing when the mouse is on a separator or between items of
    // a menu: the prompt is blank there, as on a popup item.
    if (e->type() == QEvent::MouseMove) {
        if (auto* menu = qobject_cast<QMenu*>(watched)) {
            const QAction* a = menu->actionAt(static_cast<QMouseEvent*>(e)->position().toPoint());
            if (!a || a->isSeparator() || a->menu())
                SetStatusText(status_pane::kMessage, QString());
        }
    }
    return QMainWindow::eventFilter(watched, e);
}

bool CMainFrame::event(QEvent* e) {
    if (e->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent*>(e)->tip();
        // An empty tip in an open menu is a popup item: the prompt is blank.
        // Outside menus (toolbar fly-by ended) the prompt is "Ready".
        if (!tip.isEmpty())
            SetStatusText(status_pane::kMessage, tip);
        else if (QApplication::activePopupWidget())
            SetStatusText(status_pane::kMessage, QString());
        else
            SetStatusText(status_pane::kMessage, Q(Text(StringId::RES_CMAINFRAME_TP_READY)));
        return true;
    }
    return QMainWindow::event(e);
}

void CMainFrame::closeEvent(QCloseEvent* e) {
    if (fe_->Waiting()) {  // a command is still running: it ends first
        e->ignore();
        return;
    }
    QMainWindow::closeEvent(e);
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
