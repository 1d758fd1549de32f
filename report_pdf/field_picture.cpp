#include "report_pdf/field_picture.h"

#include "ui/field_snapshot.h"

namespace dorvane::report {

QImage FieldPicture(const geo::FieldFile& f, QSize size, const TileSettings& tiles, bool* gaveUp) {
    return RenderFieldSnapshot(f, size, tiles, kPictureTileWaitMs, gaveUp);
}

}  // namespace dorvane::report
