# dorvane_map: the field view's map drawing, tile fetcher and snapshot. Qt Gui
# and Network only (no widgets), so the desktop program and the ledger's PDF
# (linked into dorvane-cli) share one renderer. Included from the top level
# before report_pdf and ui.
add_library(dorvane_map STATIC
  ${PROJECT_SOURCE_DIR}/ui/field_map.cpp
  ${PROJECT_SOURCE_DIR}/ui/field_snapshot.cpp
  ${PROJECT_SOURCE_DIR}/ui/map_lod.cpp
  ${PROJECT_SOURCE_DIR}/ui/tile_fetcher.cpp
  ${PROJECT_SOURCE_DIR}/map/pack_tiles.cpp
  ${PROJECT_SOURCE_DIR}/map/tile_cache.cpp
  ${PROJECT_SOURCE_DIR}/map/map_tiles.cpp
  ${PROJECT_SOURCE_DIR}/map/tile_presets.cpp
  ${PROJECT_SOURCE_DIR}/map/keep_offline.cpp
  ${PROJECT_SOURCE_DIR}/map/overview_map.cpp
)
target_include_directories(dorvane_map PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(dorvane_map PUBLIC dorvane_core dorvane_map_packs Qt6::Gui Qt6::Network)
dorvane_warnings(dorvane_map)
