#pragma once
// CMainFrame: the program's one window. It holds the splitter with the
// device pane left and the computer pane right, the menu bar, the toolbar and
// the five-pane status bar; it shows every menu text, tooltip and status
// prompt from the string table, switches the language at run time, relays
// the document's hints to the panes and shows device errors. It owns the
// document and the desktop front end. GUI thread only.

#include <QMainWindow>
#include <QMessageBox>
#include <functional>
#include <map>
#include <memory>

#include "i18n/string_table.h"
#include "transfer/dorvane_doc.h"

class QDockWidget;
class QLabel;
class QSplitter;

namespace dorvane {

class CLeftFormView;
class CRightFormView;
class CListFormView;
class CQtFrontEnd;
class CSplitTracker;
class CTransWait;
class CFieldView;
class CLedgerWindow;
class CBookDesk;

/// The splitter rule: for a client width w, half = trunc(w * -0.5); the
/// device column gets -15 - half and the computer column 15 - half, both 10
/// when the first is negative (1000 gives 485 and 515).
std::pair<int, int> SplitWidths(int clientWidth);

/// Longest tooltip text in bytes of the handheld's code page (GBK): the
/// tooltip buffer of the Windows program held 80 bytes with the terminator.
inline constexpr int kMaxTooltipBytes = 79;
/// `text` cut to at most kMaxTooltipBytes bytes as GBK counts them (one byte
/// for ASCII, two for every other character). Only whole characters are
/// kept: a cut never leaves half of a character behind.
QString CutTooltip(const QString& text);

class CMainFrame : public QMainWindow {
public:
    struct Hooks {
        /// Replaces the message box (tests answer and record); returns the
        /// QMessageBox::StandardButton chosen.
        std::function<int(QMessageBox::Icon, const QString&, QMessageBox::StandardButtons)> messageBox;
        /// Whether a language file is there (the menu greys a missing one).
        std::function<bool(Language)> languageAvailable;
        /// Loads a language; false leaves everything as it was.
        std::function<bool(Language)> loadLanguage;
    };

    explicit CMainFrame(CDorvaneDoc::Options options = {}, Hooks hooks = {});
    ~CMainFrame() override;

    CDorvaneDoc& Doc() { return *doc_; }
    CLeftFormView* DevicePane() const { return left_; }
    CRightFormView* ComputerPane() const { return right_; }
    CListFormView* ActivePane() const { return active_; }
    CTransWait& ProgressDialog() { return *wait_; }
    QSplitter* Splitter() const { return splitter_; }
    QAction* Action(int id) const;

    void SetActivePane(CListFormView* pane);
    /// Every pane runs its update with `hints`, after the caller returns.
    void PostToPanes(std::uint32_t hints);
    /// WM_DEVICE_ERROR: the error box; disconnects after 16 and 241.
    void OnDeviceError(int code);
    int ShowMessageBox(QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButtons buttons);
    /// Loads the language, re-applies every text and tells the panes; false
    /// (nothing changed) when the file cannot be loaded.
    bool SwitchLanguage(int index);
    void ApplyMenuTexts();
    /// The enable and check pass over every command.
    void UpdateActions();
    /// Runs a command as the menu or toolbar would.
    void RunCommand(int id);
    void ShowSelectionSummary(int count, qint64 bytes);
    void SetStatusText(int pane, const QString& text);
    QString StatusText(int pane) const;
    void SetFrameTitle(const QString& title);
    /// The convert setting (the converting model code, kConvertingModelCode,
    /// on download), kept in the profile.
    void SetConvertOnDownload(bool on);
    /// The help page of the current language, or empty when none is found.
    static QString HelpFile();
    void SetEdition(const QString& edition) { edition_ = edition; }
    /// Applies the splitter rule for the current width.
    void ApplySplitRule();
    /// The field view (in a dock below the panes; hidden until toggled).
    CFieldView* FieldView() const { return fieldView_; }
    /// The ledger window once the command has opened it (else null).
    CLedgerWindow* Ledger() const { return ledger_; }
    QDockWidget* FieldDock() const { return fieldDock_; }
    /// The season book: its window, adding files and downloads.
    CBookDesk* Book() const { return bookDesk_; }
    /// Shows the field view with the file at `path` in it.
    void OpenInFieldView(const QString& path);
    /// Opens `file` with the desktop's program for it; says so when none did.
    void OpenWithDesktop(const QString& file);
    /// Lists the computer pane's folder again when `written` (a file just
    /// written; "" for none) is in it.
    void ListIfShown(const QString& written);

protected:
    void resizeEvent(QResizeEvent* e) override;
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void BuildActions();
    void BuildMenus();
    void BuildToolBar();
    void BuildStatusBar();
    void ShowHelp();
    void ShowAbout();
    void BuildFieldView();
    void ShowSelectedInFieldView();
    void ChooseTileSource();
    /// The receiver accuracy dialog; a new value is saved and re-measures
    /// what the field view and the ledger show.
    void ChooseReceiverAccuracy();
    void PreviewDeviceFile();
    bool LanguageAvailable(Language l) const;

    Hooks hooks_;
    CTransWait* wait_;
    std::unique_ptr<CQtFrontEnd> fe_;
    std::unique_ptr<CDorvaneDoc> doc_;
    QSplitter* splitter_ = nullptr;
    CSplitTracker* splitTracker_ = nullptr;  // the "Split" command's divider tracking
    CLeftFormView* left_ = nullptr;
    CRightFormView* right_ = nullptr;
    CListFormView* active_ = nullptr;
    bool splitterReady_ = false;
    std::map<int, QAction*> actions_;
    QMenu* menus_[4] = {};
    QMenu* languageMenu_ = nullptr;
    QLabel* panes_[5] = {};
    QString edition_;
    CFieldView* fieldView_ = nullptr;
    CLedgerWindow* ledger_ = nullptr;  ///< made on first use, a child of the frame
    CBookDesk* bookDesk_ = nullptr;    ///< a child of the frame
    QDockWidget* fieldDock_ = nullptr;
    bool fieldDockSized_ = false;
};

}  // namespace dorvane
