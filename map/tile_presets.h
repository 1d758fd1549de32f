#pragma once
// The map's ready-made sources beside a custom template. Tianditu (the
// national map service of China) serves Web Mercator tiles on CGCS2000,
// which differs from WGS84 by centimetres: a GPS track needs no offset on
// it. Its imagery has no names; the annotation layer (cia) is drawn over it.
// Every request carries the user's own key (tk); its terms allow viewing,
// not bulk downloading, so it is never offered for keeping offline.

#include <QString>

#include "ui/tile_fetcher.h"

namespace dorvane::map {

enum class TilePreset { kOsm, kTianditu, kCustom, kNone };

/// Tianditu's imagery and annotation as WMTS GetTile requests in the XYZ
/// form (TILEROW is the XYZ row); {s} is one of its sub-domains t0 to t7.
inline constexpr const char* kTiandituImagery =
    "https://t{s}.tianditu.gov.cn/img_w/wmts?SERVICE=WMTS&REQUEST=GetTile&VERSION=1.0.0&LAYER=img"
    "&STYLE=default&TILEMATRIXSET=w&FORMAT=tiles&TILEMATRIX={z}&TILEROW={y}&TILECOL={x}&tk=";
inline constexpr const char* kTiandituAnnotation =
    "https://t{s}.tianditu.gov.cn/cia_w/wmts?SERVICE=WMTS&REQUEST=GetTile&VERSION=1.0.0&LAYER=cia"
    "&STYLE=default&TILEMATRIXSET=w&FORMAT=tiles&TILEMATRIX={z}&TILEROW={y}&TILECOL={x}&tk=";
inline constexpr const char* kTiandituSubdomains = "01234567";
inline constexpr const char* kTiandituAttribution = "© Tianditu 天地图";

/// The settings of a preset; `key` is Tianditu's tk, the custom ones come
/// from `custom` (its template, overlay, attribution and whether its terms
/// allow keeping). The profile's packs, offline switch and cache limit are
/// kept from `custom` for every preset.
TileSettings PresetSettings(TilePreset preset, const QString& key, const TileSettings& custom);
/// Which preset `s` is (kCustom for anything not made by PresetSettings).
TilePreset PresetOf(const TileSettings& s);
/// The tk of a Tianditu setting (empty otherwise).
QString TiandituKeyOf(const TileSettings& s);

/// True for OpenStreetMap's own tile servers, whose usage policy forbids
/// bulk downloading (keeping tiles for offline use).
bool IsOsmStandardServer(const QString& urlTemplate);
/// Whether the tiles of `s`'s base may be kept for offline use: a template
/// (not a pack, not none), never OpenStreetMap's or Tianditu's servers, and
/// only when the user marked the source as allowing it.
bool MayKeepOffline(const TileSettings& s);

}  // namespace dorvane::map
