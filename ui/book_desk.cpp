#include "ui/book_desk.h"

#include <QLabel>

#include "i18n/string_table.h"
#include "ui/book_adding.h"
#include "ui/book_service.h"
#include "ui/book_window.h"
#include "ui/main_frame.h"

namespace dorvane {

CBookDesk::CBookDesk(CMainFrame& frame) : QObject(&frame), frame_(frame) {}

CBookDesk::~CBookDesk() {
    // The window's requests hold it weakly; the worker ends after them.
    delete window_.data();
    service_.reset();
}

CBookService& CBookDesk::Service() {
    if (!service_) service_ = std::make_unique<CBookService>(BookLocation());
    return *service_;
}

CBookWindow* CBookDesk::Show() {
    if (!window_) {
        window_ = new CBookWindow(Service(), &frame_);
        window_->SetOnShowJob([this](const QString& file) { frame_.OpenInFieldView(file); });
        window_->SetMessageBox([this](QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButtons b) {
            return frame_.ShowMessageBox(icon, text, b);
        });
    } else {
        window_->Reload();
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
    return window_;
}

void CBookDesk::AddFiles(const QStringList& paths) {
    if (paths.isEmpty()) return;
    Show()->AddFiles(paths);
}

void CBookDesk::BeginDownloads() {
    downloads_ = {};
}

void CBookDesk::TakeDownloads() {
    const std::vector<std::string> written = frame_.Doc().TakeWrittenFiles();
    if (written.empty() || !AddDownloadsToBook()) return;
    const auto files = DownloadSources(written);
    QPointer<CBookDesk> self(this);
    Service().Post([self, files](BookAccess& a) -> CBookService::Answer {
        auto summary = std::make_shared<BookAddSummary>(AddFilesToBook(a, files));
        const std::string where = a.location;
        const bool open = a.store != nullptr;
        return [self, summary, where, open] {
            if (!self) return;
            // Answers come in the order the files were stored: the copy's
            // counts so far, each file once.
            BookAddSummary& run = self->downloads_;
            run.added += summary->added;
            run.already.insert(run.already.end(), summary->already.begin(), summary->already.end());
            run.notRead.insert(run.notRead.end(), summary->notRead.begin(), summary->notRead.end());
            run.cancelled = run.cancelled || summary->cancelled;
            run.status = summary->status;
            if (self->window_) {
                self->window_->ShowAdded(run, true);
                if (!run.status.ok()) self->window_->Status()->setText(CBookWindow::Refusal(run.status, open, where));
            }
            const QString text =
                run.status.ok()
                    ? QString::fromStdString(FormatText(
                          StringId::RES_BOOKWIN_DOWNLOADS_ADDED,
                          FormatText(StringId::RES_BOOK_ADD_SUMMARY, run.added, static_cast<int>(run.already.size()),
                                     static_cast<int>(run.notRead.size()))
                              .c_str()))
                    : CBookWindow::Refusal(run.status, open, where);
            self->frame_.SetStatusText(status_pane::kMessage, text);
        };
    });
}

CBookWindow* CBookDesk::Window() const {
    return window_;
}

bool CBookDesk::Idle() const {
    return (!service_ || service_->Idle()) && (!window_ || window_->Idle());
}

void CBookDesk::Retranslate() {
    if (window_) window_->Retranslate();
}

}  // namespace dorvane
