#include "ui/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <cmath>

#include "convert/download.h"
#include "menus/commands.h"
#include "ui/book_desk.h"
#include "ui/book_service.h"
#include "ui/field_view.h"
#include "ui/ledger_window.h"
#include "ui/left_form_view.h"
#include "ui/main_frame_parts.h"
#include "ui/profile.h"
#include "ui/qt_front_end.h"
#include "ui/qt_translations.h"
#include "ui/right_form_view.h"
#include "ui/sort_list.h"
#include "ui/split_tracker.h"
#include "ui/trans_wait.h"

namespace dorvane {

using frame_parts::kConvertKey;
using frame_parts::kStatusPanes;
using frame_parts::Q;

namespace {

/// The divider sits 15 pixels left of the middle; no column is narrower than 10.
constexpr int kSplitOffset = 15;
constexpr int kMinColumn = 10;
/// Status pane 1 (the selection count) is 120 pixels wide.
constexpr int kCountPaneWidth = 120;

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
    {cmd::kAccuracy, StringId::RES_FIELD_MENU_ACCURACY, StringId::RES_FIELD_TP_ACCURACY},
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
    add(menus_[2], cmd::kAccuracy);
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

void CMainFrame::ApplySplitRule() {
    if (!splitterReady_) return;
    const auto [l, r] = SplitWidths(width());
    splitter_->setSizes({l, r});
}

void CMainFrame::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    ApplySplitRule();
}

void CMainFrame::closeEvent(QCloseEvent* e) {
    if (fe_->Waiting()) {  // a command is still running: it ends first
        e->ignore();
        return;
    }
    QMainWindow::closeEvent(e);
}

}  // namespace dorvane
