#pragma once
// The map picture of one field on its report page. The one place the PDF
// takes its pictures from: an outline over a plain background until the
// field view's snapshot renderer can be linked here.
// Needs a QGuiApplication; GUI thread (the thread painting the report).

#include <QImage>
#include <QSize>

#include "geo/field_file.h"

namespace dorvane::report {

QImage FieldPicture(const geo::FieldFile& f, QSize size);

}  // namespace dorvane::report
