#include "map/keep_offline.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <cmath>
#include <mutex>

#include "map/mbtiles_writer.h"

namespace dorvane::map {

// The pack being written; touched only on the writer thread (after Start).
struct CKeepOffline::Writer {
    std::unique_ptr<CMbtilesWriter> pack;
    TileFormat format = TileFormat::kUnknown;
    std::string error;
};

std::vector<TileKey> KeepTiles(const QRectF& world, const std::vector<int>& zooms, std::size_t limit) {
    std::vector<TileKey> out;
    for (int z : zooms) {
        if (z < 0 || z > kMaxPackZoom) continue;
        const int n = 1 << z;
        const int x0 = static_cast<int>(std::floor(world.left() * n));
        const int x1 = static_cast<int>(std::floor(world.right() * n - 1e-9));
        const int y0 = std::max(0, static_cast<int>(std::floor(world.top() * n)));
        const int y1 = std::min(n - 1, static_cast<int>(std::floor(world.bottom() * n - 1e-9)));
        for (int y = y0; y <= y1; ++y)
            for (int x = std::max(x0, x1 - n + 1); x <= x1; ++x) {
                out.push_back({z, ((x % n) + n) % n, y});
                if (out.size() >= limit) return out;
            }
    }
    return out;
}

CKeepOffline::CKeepOffline(KeepRequest request, QObject* parent)
    : QObject(parent), request_(std::move(request)), writer_(std::make_shared<Writer>()) {}

CKeepOffline::~CKeepOffline() {
    onProgress_ = nullptr;
    onFinished_ = nullptr;
    if (nam_)
        for (QNetworkReply* r : nam_->findChildren<QNetworkReply*>()) r->abort();
    writerThread_.quit();
    writerThread_.wait();  // a pack being committed is finished (or dropped) whole
    delete writerContext_;
}

KeepRefusal CKeepOffline::Start(QString* detail) {
    if (!MayKeepOffline(request_.source)) return KeepRefusal::kNotAllowed;
    if (request_.source.offline) return KeepRefusal::kOffline;
    tiles_ = KeepTiles(request_.world, request_.zooms);
    if (tiles_.empty()) return KeepRefusal::kNothing;
    if (tiles_.size() > kMaxKeptTiles) {
        tiles_.clear();
        return KeepRefusal::kTooMany;
    }
    std::string error;
    writer_->pack = CMbtilesWriter::Create(request_.path.toStdString(), error);
    if (!writer_->pack) {
        if (detail) *detail = QString::fromStdString(error);
        return KeepRefusal::kCannotWrite;
    }
    writerContext_ = new QObject;
    writerContext_->moveToThread(&writerThread_);
    writerThread_.start();
    nam_ = new QNetworkAccessManager(this);
    // Straight from the server: these tiles go into the pack, not the cache.
    nam_->setCache(nullptr);
    Pump();
    return KeepRefusal::kNone;
}

void CKeepOffline::Cancel() {
    if (cancelled_ || finishing_) return;
    cancelled_ = true;
    if (nam_)
        for (QNetworkReply* r : nam_->findChildren<QNetworkReply*>()) r->abort();
    if (inFlight_ == 0) Finish();
}

void CKeepOffline::Pump() {
    while (!cancelled_ && inFlight_ < kKeepConnections && next_ < tiles_.size()) {
        const TileKey k = tiles_[next_++];
        QNetworkRequest req{
            QUrl(TileUrl(request_.source.urlTemplate, request_.source.subdomains, k.z, k.x, k.y))};
        req.setHeader(QNetworkRequest::UserAgentHeader, TileUserAgent());
        req.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
        req.setTransferTimeout(kTileTimeoutMs);
        QNetworkReply* reply = nam_->get(req);
        ++inFlight_;
        connect(reply, &QNetworkReply::finished, this, [this, reply, k] {
            reply->deleteLater();
            --inFlight_;
            Done(k, reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray());
        });
    }
    if (inFlight_ == 0 && (cancelled_ || next_ >= tiles_.size())) Finish();
}

void CKeepOffline::Done(const TileKey& k, QByteArray bytes) {
    std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    // Only pictures go into the pack: an error page answered with 200 is
    // a tile that failed.
    const TileFormat f = SniffTileFormat(data);
    if (cancelled_) {
        // nothing more is written
    } else if (f == TileFormat::kUnknown) {
        ++failed_;
    } else {
        std::shared_ptr<Writer> w = writer_;
        QMetaObject::invokeMethod(writerContext_, [w, k, f, data = std::move(data)] {
            if (!w->pack || !w->error.empty()) return;
            if (w->format == TileFormat::kUnknown) w->format = f;
            if (!w->pack->Put(k.z, k.x, k.y, data)) w->error = w->pack->Error();
        });
    }
    ++done_;
    if (onProgress_ && !cancelled_) onProgress_(done_, static_cast<int>(tiles_.size()));
    Pump();
}

void CKeepOffline::Finish() {
    if (finishing_) return;
    finishing_ = true;
    PackMetadata meta;
    meta.name = QUrl(QString(request_.source.urlTemplate).replace(QLatin1String("{s}"), QLatin1String("a")))
                    .host()
                    .toStdString();
    meta.attribution = request_.source.attribution.toStdString();
    meta.minZoom = kMaxPackZoom;
    meta.maxZoom = 0;
    for (const TileKey& k : tiles_) {
        meta.minZoom = std::min(meta.minZoom, k.z);
        meta.maxZoom = std::max(meta.maxZoom, k.z);
    }
    const QRectF& w = request_.world;
    meta.bounds = LonLatBounds{std::max(-180.0, w.left() * 360 - 180), LatitudeOfWorldY(std::min(1.0, w.bottom())),
                               std::min(180.0, w.right() * 360 - 180), LatitudeOfWorldY(std::max(0.0, w.top()))};
    const bool cancelled = cancelled_;
    const int failed = failed_;
    std::shared_ptr<Writer> writer = writer_;
    QObject* self = this;
    QMetaObject::invokeMethod(writerContext_, [writer, meta, cancelled, failed, self] {
        bool ok = false;
        if (!cancelled && writer->pack && writer->error.empty() && writer->pack->Count() > 0) {
            PackMetadata m = meta;
            m.format = writer->format;
            ok = writer->pack->Commit(m);
            if (!ok) writer->error = writer->pack->Error();
        }
        writer->pack.reset();  // an uncommitted part file goes with it
        QMetaObject::invokeMethod(self, [self, ok, failed, error = writer->error] {
            auto* keep = static_cast<CKeepOffline*>(self);
            keep->writeError_ = QString::fromStdString(error);
            if (keep->onFinished_) keep->onFinished_(ok, failed);
        });
    });
}

}  // namespace dorvane::map
