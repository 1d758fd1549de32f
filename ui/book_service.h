#pragma once
// The desktop's access to the season book: one worker thread that owns the
// open book (book::BookStore blocks on the disk and may wait up to its busy
// timeout for another program), running the window's requests one after
// another. The GUI thread only queues work and gets each answer back through
// a queued call, so it never waits on the database.
//
// A request runs on the worker with the open book (or the reason it could not
// be opened) and returns what the GUI thread does with its result. Answers
// arrive in the order the requests were queued. A request can report
// progress and look at the cancel flag, which Cancel() raises for the one
// running. The destructor lets the queued requests finish (each is one
// bounded transaction), then joins the worker; answers not yet delivered are
// dropped with this object.

#include <QObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "book/store.h"

namespace dorvane {

/// What a request gets on the worker thread.
struct BookAccess {
    /// The open book, or null when it could not be opened (`opened` says why).
    book::BookStore* store = nullptr;
    book::BookStatus opened;
    /// Where the book is (the default path when no other was given).
    std::string location;
    /// Raised by CBookService::Cancel() while this request runs.
    const std::atomic<bool>* cancel = nullptr;
    /// Reports progress (done of total) to the GUI thread; cheap, any rate.
    std::function<void(int done, int total)> progress;
    bool Cancelled() const { return cancel && cancel->load(); }
};

class CBookService : public QObject {
public:
    /// What the GUI thread runs with a request's result.
    using Answer = std::function<void()>;
    using Request = std::function<Answer(BookAccess&)>;

    /// `location`: a book file, or empty for the default book. Nothing is
    /// opened until the first request.
    explicit CBookService(const QString& location, QObject* parent = nullptr);
    ~CBookService() override;
    CBookService(const CBookService&) = delete;
    CBookService& operator=(const CBookService&) = delete;

    /// Queues `request`; its answer (when not empty) runs on the GUI thread.
    void Post(Request request);
    /// Closes the book after the queued requests and opens `location` for
    /// the next ones.
    void SetLocation(const QString& location);
    QString Location() const { return location_; }
    /// Raises the cancel flag of the running request.
    void Cancel() { cancel_.store(true); }
    /// True when every queued request has run and its answer was delivered.
    bool Idle() const { return pending_ == 0; }
    /// Called on the GUI thread with the running request's progress.
    void SetOnProgress(std::function<void(int, int)> f) { onProgress_ = std::move(f); }

private:
    struct Item {
        Request request;
        bool reopen = false;
        std::string location;
    };
    void Run();

    QString location_;
    int pending_ = 0;  ///< GUI thread only
    std::function<void(int, int)> onProgress_;
    std::atomic<bool> cancel_{false};
    std::mutex m_;
    std::condition_variable wake_;
    std::deque<Item> queue_;
    bool stopping_ = false;
    std::thread worker_;
};

/// Where the desktop's book is: `dorvane --book PATH` when given, else the
/// profile's setting, else "" for the default ($XDG_DATA_HOME/dorvane/book.gpkg).
QString BookLocation();
/// The --book PATH of this run (wins over the setting; not saved).
void SetBookLocationForRun(const QString& path);
/// Keeps `path` as the user's book in the profile.
void SaveBookLocation(const QString& path);
/// The setting "Add downloads to the book" (on unless turned off).
bool AddDownloadsToBook();
void SetAddDownloadsToBook(bool on);

}  // namespace dorvane
