#pragma once
// The main window's side of the season book: the book's worker (made on
// first use), the Book window (made on first use), "Add to book" for files,
// and downloads entering the book as they are stored when the setting "Add
// downloads to the book" is on. GUI thread only.

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <memory>

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
    /// Takes the files the last downloads stored and adds them when the
    /// setting is on (forgets them otherwise).
    void TakeDownloads();
    /// True when the book's worker has nothing left to do.
    bool Idle() const;
    void Retranslate();

private:
    CBookService& Service();

    CMainFrame& frame_;
    std::unique_ptr<CBookService> service_;
    QPointer<CBookWindow> window_;
};

}  // namespace dorvane
