#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_frame into corpus/ (see fuzz_frame.cpp for
the layout: operation byte, seed byte, then frame and raw records)."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
BLOCK = 1960
OP_FETCH, OP_LIST, OP_DELETE, OP_UPLOAD = 0, 2, 3, 4


def frame(cmd, payload, corrupt=None):
    tag = 0x80 if corrupt is None else 0xC0 | (corrupt & 0x3F)
    return bytes([tag, cmd]) + struct.pack('<H', len(payload)) + payload


def raw(data):
    out = b''
    for i in range(0, len(data), 0x7F):
        part = data[i:i + 0x7F]
        out += bytes([len(part)]) + part
    return out


def blocks(cmd, content):
    count = max(1, (len(content) + BLOCK - 1) // BLOCK)
    out = []
    for n in range(count):
        data = content[n * BLOCK:(n + 1) * BLOCK]
        head = struct.pack('<IHhII', len(content), len(data), count, n, n * BLOCK)
        out.append(frame(cmd, head + data))
    return out


def window_end(cmd, numbers=None):
    if numbers is None:
        return frame(3, struct.pack('<BBh', cmd, 0, -1))
    return frame(3, struct.pack('<BBh', cmd, 0, len(numbers)) + b''.join(struct.pack('<I', n) for n in numbers))


HANDSHAKE_ACK = frame(1, bytes([255]))
content = bytes((i * 13) & 0xFF for i in range(5000))
fetch = blocks(87, content)
listing = b''.join(n + b'\0' + struct.pack('<II', s, t) for n, s, t in
                   [(b'A0601.txt', 5000, 1700000000), (b'\xc7\xf8\xd3\xf2.gmt', 300, 1)]) + b'\0'

seeds = {
    'fetch_ok.bin': bytes([OP_FETCH, 1]) + HANDSHAKE_ACK + fetch[0] + fetch[1] + window_end(87, [0, 1, 2])
    + fetch[2] + window_end(87),
    'fetch_missing_block.bin': bytes([OP_FETCH, 9]) + HANDSHAKE_ACK + raw(b'$$\r\n$VI garbage')
    + fetch[0] + fetch[2] + window_end(87, [0, 1, 2]) + fetch[1] + fetch[1] + window_end(87),
    'fetch_corrupt.bin': bytes([OP_FETCH, 200]) + HANDSHAKE_ACK + frame(87, fetch[0][4:], corrupt=30)
    + window_end(87),
    'fetch_error.bin': bytes([OP_FETCH, 3]) + HANDSHAKE_ACK + frame(2, struct.pack('<BBh', 55, 0, 1)),
    'list.bin': bytes([OP_LIST, 5]) + HANDSHAKE_ACK + blocks(114, listing)[0] + window_end(114),
    'delete.bin': bytes([OP_DELETE, 7]) + HANDSHAKE_ACK + frame(1, bytes([115])),
    'upload.bin': bytes([OP_UPLOAD, 2]) + HANDSHAKE_ACK + frame(1, bytes([148]))
    + frame(1, struct.pack('<BBh', 3, 0, 2) + struct.pack('<II', 0, 1))
    + frame(2, struct.pack('<BBh', 3, 0, 1) + struct.pack('<I', 1))
    + frame(1, struct.pack('<BBh', 3, 0, -1)),
    'upload_refused.bin': bytes([OP_UPLOAD, 4]) + HANDSHAKE_ACK + frame(2, struct.pack('<BBh', 3, 1, 48)),
    'dollars.bin': bytes([OP_FETCH, 11]) + raw(b'$VII$$VII$\r$$\r' * 4) + frame(1, b'$$$' + bytes([255])),
}
os.makedirs(os.path.join(HERE, 'corpus'), exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(HERE, 'corpus', name), 'wb') as f:
        f.write(data)
