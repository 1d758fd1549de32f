#!/usr/bin/python3
"""A pack made by GDAL as users make theirs: a GeoTIFF in Web Mercator of one
colour, turned into MBTiles by `gdal_translate -of MBTILES` (JPEG tiles, or
the format given: PNG, WEBP).

make_raster_pack.py OUT.mbtiles WORKDIR R G B [FORMAT]
"""
import subprocess
import sys

from osgeo import gdal, osr

out, work, r, g, b = sys.argv[1], sys.argv[2], *(int(v) for v in sys.argv[3:6])
tile_format = sys.argv[6] if len(sys.argv) > 6 else "JPEG"
# 512 x 512 pixels over 2000 m x 2000 m near Harbin (EPSG:3857 metres).
x0, y0, size, px = 14099000.0, 5713000.0, 512, 2000.0 / 512
tif = work + "/colour.tif"
ds = gdal.GetDriverByName("GTiff").Create(tif, size, size, 3, gdal.GDT_Byte)
ds.SetGeoTransform((x0, px, 0, y0, 0, -px))
srs = osr.SpatialReference()
srs.ImportFromEPSG(3857)
ds.SetProjection(srs.ExportToWkt())
for band, v in zip((1, 2, 3), (r, g, b)):
    ds.GetRasterBand(band).Fill(v)
ds = None
subprocess.run(["gdal_translate", "-q", "-of", "MBTILES", "-co", "TILE_FORMAT=" + tile_format, tif, out],
               check=True)
