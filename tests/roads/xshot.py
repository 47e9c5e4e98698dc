"""A PNG of one X window, read straight from the X server (GetImage over the
display's Unix socket), with the standard library only."""
import os
import socket
import struct
import zlib


def _recv(sock, n):
    data = b""
    while len(data) < n:
        part = sock.recv(n - len(data))
        if not part:
            raise OSError("the X server closed the connection")
        data += part
    return data


def _png(width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)
    raw = b"".join(b"\x00" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


def shoot(display, x, y, width, height, path):
    """Writes the screen's rectangle (x, y, width, height) of `display` (":N") to `path` as an RGB PNG."""
    number = display.split(":")[1].split(".")[0]
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    sock.settimeout(20)
    sock.connect("/tmp/.X11-unix/X" + number)
    try:
        sock.sendall(struct.pack("<BxHHHHxx", ord("l"), 11, 0, 0, 0))
        head = _recv(sock, 8)
        if head[0] != 1:
            raise OSError("the X server refused the connection")
        setup = _recv(sock, struct.unpack("<H", head[6:8])[0] * 4)
        vendor, formats = struct.unpack("<H", setup[16:18])[0], setup[21]
        root = struct.unpack("<I", setup[32 + (vendor + 3) // 4 * 4 + 8 * formats:][:4])[0]
        # GetImage (73), ZPixmap, all planes; rows of 32-bit BGRX pixels.
        sock.sendall(struct.pack("<BBHIhhHHI", 73, 2, 5, root, x, y, width, height, 0xFFFFFFFF))
        reply = _recv(sock, 32)
        if reply[0] != 1:
            raise OSError("GetImage failed (X error %d)" % reply[1])
        data = _recv(sock, struct.unpack("<I", reply[4:8])[0] * 4)
    finally:
        sock.close()
    stride = len(data) // height
    rows = []
    for y in range(height):
        line = data[y * stride:y * stride + width * 4]
        rgb = bytearray(width * 3)
        rgb[0::3] = line[2::4]
        rgb[1::3] = line[1::4]
        rgb[2::3] = line[0::4]
        rows.append(bytes(rgb))
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(_png(width, height, rows))
    os.replace(tmp, path)
