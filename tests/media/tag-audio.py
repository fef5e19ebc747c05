#!/usr/bin/env python3
# tag-audio.py IN OUT COVER|- FIELD=TEXT...
# Copies an untagged MP3 or FLAC file IN to OUT with text tags (title, artist,
# album, year, genre, comment) and, unless COVER is "-", that picture as the
# front cover: an ID3v2.3 tag before the MP3 stream, Vorbis comments and a
# PICTURE block in the FLAC. gst-launch-1.0 cannot attach a picture tag.
import struct
import sys

src, dst, cover = sys.argv[1:4]
tags = [arg.split("=", 1) for arg in sys.argv[4:]]
data = open(src, "rb").read()
pic = open(cover, "rb").read() if cover != "-" else b""
mime = b"image/png" if pic.startswith(b"\x89PNG") else b"image/jpeg"

if data.startswith(b"fLaC"):
    # Keep the stream's own blocks but for comments and pictures, then add ours.
    pos, blocks = 4, []
    while True:
        head, size = data[pos], int.from_bytes(data[pos + 1:pos + 4], "big")
        if head & 0x7F not in (4, 6):
            blocks.append((head & 0x7F, data[pos + 4:pos + 4 + size]))
        pos += 4 + size
        if head & 0x80:
            break
    texts = [f"{k.upper()}={v}".encode() for k, v in tags]
    blocks.append((4, struct.pack("<II", 0, len(texts)) + b"".join(struct.pack("<I", len(t)) + t for t in texts)))
    if pic:
        blocks.append((6, struct.pack(">II", 3, len(mime)) + mime + struct.pack(">6I", 0, 0, 0, 0, 0, len(pic)) + pic))
    out = b"fLaC" + b"".join(bytes([t | (0x80 if i == len(blocks) - 1 else 0)]) + len(b).to_bytes(3, "big") + b
                             for i, (t, b) in enumerate(blocks)) + data[pos:]
else:
    ids = {"title": "TIT2", "artist": "TPE1", "album": "TALB", "year": "TYER", "genre": "TCON", "comment": "COMM"}
    def frame(fid, body):
        return fid.encode() + struct.pack(">I", len(body)) + b"\0\0" + body
    body = b"".join(frame(ids[k], (b"\0eng\0" if k == "comment" else b"\0") + v.encode("latin-1")) for k, v in tags)
    if pic:
        body += frame("APIC", b"\0" + mime + b"\0\x03\0" + pic)
    n = len(body)
    out = b"ID3\x03\0\0" + bytes((n >> s) & 0x7F for s in (21, 14, 7, 0)) + body + data
open(dst, "wb").write(out)
