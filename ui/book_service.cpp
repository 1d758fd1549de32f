#include "ui/book_service.h"

#include <QMetaObject>

#include "book/open_book.h"
#include "ui/profile.h"

namespace dorvane {

namespace {

const QString kBookPathKey = QStringLiteral("Book/Path");
const QString kAddDownloadsKey = QStringLiteral("Book/AddDownloads");

QString& RunLocation() {
    static QString path;  // GUI thread only
    return path;
}

}  // namespace

CBookService::CBookService(const QString& location, QObject* parent)
    : QObject(parent), location_(location) {
    worker_ = std::thread([this] { Run(); });
}

CBookService::~CBookService() {
    {
        std::lock_guard lock(m_);
        stopping_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

void CBookService::Post(Request request) {
    ++pending_;
    {
        std::lock_guard lock(m_);
        queue_.push_back({std::move(request), false, {}});
    }
    wake_.notify_all();
}

void CBookService::SetLocation(const QString& location) {
    location_ = location;
    {
        std::lock_guard lock(m_);
        queue_.push_back({{}, true, location.toStdString()});
    }
    wake_.notify_all();
}

void CBookService::Run() {
    std::unique_ptr<book::BookStore> store;
    book::BookStatus opened;
    bool tried = false;
    std::string location;
    {
        std::lock_guard lock(m_);
        location = location_.toStdString();
    }
    for (;;) {
        Item item;
        {
            std::unique_lock lock(m_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;  // stopping, and every request has run
            item = std::move(queue_.front());
            queue_.pop_front();
        }
        if (item.reopen) {
            store.reset();
            tried = false;
            location = item.location;
            continue;
        }
        if (!tried) {
            tried = true;
            opened = book::OpenBook(location, {}, store);
            if (!opened.ok()) store.reset();
        }
        cancel_.store(false);
        BookAccess access;
        access.store = store.get();
        access.opened = opened;
        access.location = store ? store->Location()
                                : (location.empty() ? book::DefaultBookPath().string() : location);
        access.cancel = &cancel_;
        access.progress = [this](int done, int total) {
            QMetaObject::invokeMethod(
                this,
                [this, done, total] {
                    if (onProgress_) onProgress_(done, total);
                },
                Qt::QueuedConnection);
        };
        Answer answer;
        try {
            answer = item.request(access);
        } catch (...) {
            // Out of memory and the like: the request failed, the book is as
            // it was (every write is one transaction).
            answer = {};
        }
        QMetaObject::invokeMethod(
            this,
            [this, answer = std::move(answer)] {
                --pending_;
                if (answer) answer();
            },
            Qt::QueuedConnection);
    }
}

QString BookLocation() {
    if (!RunLocation().isEmpty()) return RunLocation();
    const QString saved = ProfileSettings().value(kBookPathKey).toString();
    return saved;  // empty: the default book, its folder made when missing
}

void SetBookLocationForRun(const QString& path) {
    RunLocation() = path;
}

void SaveBookLocation(const QString& path) {
    ProfileSettings().setValue(kBookPathKey, path);
}

bool AddDownloadsToBook() {
    return ProfileSettings().value(kAddDownloadsKey, true).toBool();
}

void SetAddDownloadsToBook(bool on) {
    ProfileSettings().setValue(kAddDownloadsKey, on);
}

}  // namespace dorvane
