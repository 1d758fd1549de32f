#pragma once
// "Keep for offline": the tiles of an area at chosen zooms, fetched from the
// base source and written to an MBTiles pack that the map can then use with
// no network. Only for sources whose terms allow it (MayKeepOffline), at most
// kMaxKeptTiles a run, at most kKeepConnections requests at a time, with
// progress and cancel. The fetching runs on the GUI thread's event loop; the
// pack is written on a thread of its own, so the window never waits on the
// disk.

#include <QNetworkAccessManager>
#include <QObject>
#include <QRectF>
#include <QString>
#include <QThread>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "map/tile_presets.h"
#include "ui/field_map.h"

namespace dorvane::map {

/// Most tiles one run keeps: a few villages' fields at every useful zoom,
/// and a bounded load on the server.
inline constexpr std::size_t kMaxKeptTiles = 10000;
/// Requests in flight at once (tile servers' usual limit of two connections).
inline constexpr int kKeepConnections = 2;

enum class KeepRefusal { kNone, kNotAllowed, kOffline, kTooMany, kNothing, kCannotWrite };

struct KeepRequest {
    TileSettings source;     ///< its base template is fetched
    QRectF world;            ///< the area, world units (MapView's)
    std::vector<int> zooms;  ///< the levels to keep
    QString path;            ///< the pack to write (.mbtiles)
};

/// The tiles of `world` at `zooms` (x wrapped, duplicates of a level once).
std::vector<TileKey> KeepTiles(const QRectF& world, const std::vector<int>& zooms,
                               std::size_t limit = kMaxKeptTiles + 1);

class CKeepOffline : public QObject {
public:
    explicit CKeepOffline(KeepRequest request, QObject* parent = nullptr);
    ~CKeepOffline() override;

    /// Checks the request and starts; the reason when it is refused (then
    /// nothing is fetched or written). `detail` names the file's problem for
    /// kCannotWrite.
    KeepRefusal Start(QString* detail = nullptr);
    /// Stops: nothing more is asked, no pack is written; finished(false) follows.
    void Cancel();

    /// (tiles done, tiles in all), after each tile.
    void SetOnProgress(std::function<void(int, int)> f) { onProgress_ = std::move(f); }
    /// Once, at the end: whether the pack was written, and how many tiles
    /// could not be fetched (left out of it).
    void SetOnFinished(std::function<void(bool, int)> f) { onFinished_ = std::move(f); }
    const QString& WriteError() const { return writeError_; }
    std::size_t Total() const { return tiles_.size(); }

private:
    void Pump();
    void Done(const TileKey& k, QByteArray bytes);
    void Finish();

    KeepRequest request_;
    std::vector<TileKey> tiles_;
    std::size_t next_ = 0;
    int inFlight_ = 0;
    int done_ = 0;
    int failed_ = 0;
    bool cancelled_ = false;
    bool finishing_ = false;
    QNetworkAccessManager* nam_ = nullptr;
    QThread writerThread_;
    QObject* writerContext_ = nullptr;  ///< lives on writerThread_
    struct Writer;
    std::shared_ptr<Writer> writer_;
    QString writeError_;
    std::function<void(int, int)> onProgress_;
    std::function<void(bool, int)> onFinished_;
};

}  // namespace dorvane::map
