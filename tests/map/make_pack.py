#!/usr/bin/python3
"""Writes an MBTiles pack of plain-coloured PNG tiles for the map tests.

make_pack.py OUT --zooms 3 5 --bounds W,S,E,N [--colour R,G,B,A] [--attribution TEXT]
                 [--no-metadata-zooms]

Without --colour every tile's colour tells where it is: red 40*z, green
(37*x) % 256, blue (53*y) % 256 with x, y in XYZ numbering (row 0 north),
stored under the TMS row as MBTiles wants. The PNGs are written by hand
(zlib), so nothing beyond Python's standard library is needed.
"""
import argparse
import math
import sqlite3
import struct
import zlib


def png(w, h, rgba):
    row = b"\x00" + bytes(rgba) * w
    raw = row * h

    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    ihdr = struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw))
            + chunk(b"IEND", b""))


def tile_x(lon, n):
    return int(math.floor((lon + 180.0) / 360.0 * n))


def tile_y(lat, n):
    s = math.sin(math.radians(lat))
    return int(math.floor((0.5 - math.log((1 + s) / (1 - s)) / (4 * math.pi)) * n))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--zooms", nargs=2, type=int, required=True)
    ap.add_argument("--bounds", required=True)
    ap.add_argument("--colour")
    ap.add_argument("--attribution", default="")
    ap.add_argument("--no-metadata-zooms", action="store_true")
    a = ap.parse_args()
    w, s, e, n = (float(v) for v in a.bounds.split(","))
    db = sqlite3.connect(a.out)
    db.execute("CREATE TABLE metadata (name text, value text)")
    db.execute("CREATE TABLE tiles (zoom_level integer, tile_column integer, tile_row integer,"
               " tile_data blob)")
    meta = {"name": "test pack", "format": "png", "bounds": a.bounds, "type": "baselayer",
            "version": "1.1"}
    if a.attribution:
        meta["attribution"] = a.attribution
    if not a.no_metadata_zooms:
        meta["minzoom"] = str(a.zooms[0])
        meta["maxzoom"] = str(a.zooms[1])
    db.executemany("INSERT INTO metadata VALUES (?, ?)", meta.items())
    fixed = [int(v) for v in a.colour.split(",")] if a.colour else None
    for z in range(a.zooms[0], a.zooms[1] + 1):
        size = 1 << z
        for x in range(max(0, tile_x(w, size)), min(size - 1, tile_x(e, size)) + 1):
            for y in range(max(0, tile_y(n, size)), min(size - 1, tile_y(s, size)) + 1):
                rgba = fixed or [40 * z, (37 * x) % 256, (53 * y) % 256, 255]
                db.execute("INSERT INTO tiles VALUES (?, ?, ?, ?)",
                           (z, x, size - 1 - y, png(256, 256, rgba)))
    db.commit()
    db.close()


if __name__ == "__main__":
    main()
