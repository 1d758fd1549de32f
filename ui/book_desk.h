#pragma once
// The main window's side of the season book: the book's worker (made on
// first use), the Book window (made on first use), "Add to book" for files,
// and downloads entering the book as they are stored when the setting "Add
// downloads to the book" is on. GUI thread only.

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <memory>

#include "ui/book_adding.h"

namespace dorvane {

class CMainFrame;
class CBookService;
class CBookWindow;

class CBookDesk : public QObject {
public:
    /// Created by the frame, which outlives it.
    explicit CBookDesk(CMainFrame& frame);
    ~CBookDesk() override;
    CBookDesk(const CBookDesk&) = delete;
    CBookDesk& operator=(const CBookDesk&) = delete;

    /// Opens (or raises) the Book window.
    CBookWindow* Show();
    /// The Book window once opened, else null.
    CBookWindow* Window() const;
    /// Shows the window and adds `paths` (files, folders) to the book.
    void AddFiles(const QStringList& paths);
    /// A copy from the handheld begins: what its downloads add is counted
    /// from here (the document reports each file as it is stored).
    void BeginDownloads();
    /// Takes the files the last downloads stored and adds them when the
    /// setting is on (forgets them otherwise). The status tells the whole
    /// copy so far, not only its last file.
    void TakeDownloads();
    /// True when the book's worker has nothing left to do.
    bool Idle() const;
    void Retranslate();

private:
    CBookService& Service();

    CMainFrame& frame_;
    std::unique_ptr<CBookService> service_;
    QPointer<CBookWindow> window_;
    /// What the downloads of the copy under way have added so far.
    BookAddSummary downloads_;
};

}  // namespace dorvane
