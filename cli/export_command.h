#pragma once
// `dorvane-cli export FILE... --to gpkg|shp|geojson|kml|dxf|csv -o OUT
//  [--force]`: fields, harvesting work and tracks to a GIS format (see
// export/gis_export.h for layers and attributes). Files that cannot be read
// are named on stderr and left out; the others are exported. Exit 0 when
// every file was read and the output written, 1 otherwise, 2 on a usage
// error. Runs on the CLI's only thread; blocks on the files.

#include <string>
#include <vector>

namespace dorvane {

int RunExportCommand(const std::vector<std::string>& operands);

}  // namespace dorvane
