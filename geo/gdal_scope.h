#pragma once
// GDAL's C handles as RAII types, shared by every room that talks to GDAL/OGR
// (the readers, the exports, the book's GeoPackage).

#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogr_feature.h>
#include <ogr_spatialref.h>

#include <memory>
#include <string>

namespace dorvane::geo {

/// GDAL reports through a global handler that prints to stderr: while the
/// scope lasts its messages are kept for ours instead (per thread: GDAL's
/// handler stack is thread-local).
class QuietGdal {
public:
    QuietGdal() {
        CPLPushErrorHandler(CPLQuietErrorHandler);
        CPLErrorReset();
    }
    ~QuietGdal() { CPLPopErrorHandler(); }
    QuietGdal(const QuietGdal&) = delete;
    QuietGdal& operator=(const QuietGdal&) = delete;
    /// GDAL's last message on this thread, or `none` when it gave none.
    static std::string Last(const char* none = "") {
        const char* m = CPLGetLastErrorMsg();
        return m && *m ? m : none;
    }
};

struct DatasetCloser {
    void operator()(GDALDataset* ds) const { GDALClose(ds); }
};
using DatasetPtr = std::unique_ptr<GDALDataset, DatasetCloser>;

struct FeatureDeleter {
    void operator()(OGRFeature* f) const { OGRFeature::DestroyFeature(f); }
};
using FeaturePtr = std::unique_ptr<OGRFeature, FeatureDeleter>;

struct TransformDeleter {
    void operator()(OGRCoordinateTransformation* t) const { OGRCoordinateTransformation::DestroyCT(t); }
};

}  // namespace dorvane::geo
