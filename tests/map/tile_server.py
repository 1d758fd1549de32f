#!/usr/bin/python3
"""A tile server for the map tests, on 127.0.0.1 only.

tile_server.py LOG

Prints its port on the first line of standard output, then serves:
  /base/Z/X/Y.png   an opaque 256 x 256 PNG of (0x30, 0x60, 0xC0)
  /over/Z/X/Y.png   a transparent PNG with a red (0xE0, 0x20, 0x20) square in its middle half
  /noise/Z/X/Y.png  an opaque PNG of about 50 KB (hard to compress)
  /tianditu/...     as /base, for the Tianditu preset's requests
Everything else is 404. Each request's path (with its query) is appended to
LOG as it comes, one line each.
"""
import http.server
import os
import random
import struct
import sys
import zlib

LOG = sys.argv[1]


def png(w, h, pixel):
    rows = b"".join(b"\x00" + b"".join(pixel(x, y) for x in range(w)) for y in range(h))

    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    ihdr = struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(rows))
            + chunk(b"IEND", b""))


BASE = png(256, 256, lambda x, y: bytes((0x30, 0x60, 0xC0, 255)))
OVER = png(256, 256, lambda x, y: bytes((0xE0, 0x20, 0x20, 255)) if 64 <= x < 192 and 64 <= y < 192
           else bytes((0, 0, 0, 0)))
rng = random.Random(7)
NOISE = png(128, 128, lambda x, y: bytes((rng.randrange(256), rng.randrange(256), rng.randrange(256), 255)))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        with open(LOG, "a") as f:
            f.write(self.path + "\n")
        kind = self.path.split("/")[1] if self.path.count("/") > 1 else ""
        body = {"base": BASE, "over": OVER, "noise": NOISE, "tianditu": BASE}.get(kind)
        if body is None:
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        self.send_response(200)
        self.send_header("Content-Type", "image/png")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "public, max-age=86400")
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
