#!/usr/bin/env python3
"""Writes a generated music library for the scan benchmark.

  bench/make_library.py DIR

2,000 short files in nested folders: 1,180 FLAC with Vorbis comments, 20 FLAC disc images
with cue sheets (10 beside the image, 10 embedded as a CUESHEET comment), 500 MP3 with
ID3v2.3 tags and 300 WAV. ffmpeg makes one small file per format; every other file is that
file with its own tag, written here, so generation takes seconds.
"""
import os
import struct
import subprocess
import sys
import tempfile


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_bases(tmp):
    tone = ["-f", "lavfi", "-i", "sine=frequency=440:duration=%d", "-ac", "2", "-ar", "44100"]

    def gen(seconds, *rest):
        args = ["ffmpeg", "-nostdin", "-y"] + [a % seconds if "%d" in a else a for a in tone] + list(rest)
        run(*args)

    gen(3, "-c:a", "flac", "-map_metadata", "-1", os.path.join(tmp, "base.flac"))
    gen(20, "-c:a", "flac", "-map_metadata", "-1", os.path.join(tmp, "image.flac"))
    gen(3, "-c:a", "libmp3lame", "-b:a", "128k", "-map_metadata", "-1", "-write_xing", "1",
        "-id3v2_version", "0", "-write_id3v1", "0", os.path.join(tmp, "base.mp3"))
    gen(3, "-c:a", "pcm_s16le", "-map_metadata", "-1", "-fflags", "+bitexact", os.path.join(tmp, "base.wav"))
    with open(os.path.join(tmp, "base.flac"), "rb") as f:
        flac = f.read()
    with open(os.path.join(tmp, "image.flac"), "rb") as f:
        image = f.read()
    with open(os.path.join(tmp, "base.mp3"), "rb") as f:
        mp3 = f.read()
    with open(os.path.join(tmp, "base.wav"), "rb") as f:
        wav = f.read()
    return split_flac(flac), split_flac(image), mp3, wav


def split_flac(data):
    """STREAMINFO block body and the audio frames of a FLAC file."""
    assert data[:4] == b"fLaC"
    pos = 4
    streaminfo = None
    while True:
        header = data[pos]
        kind = header & 0x7F
        length = int.from_bytes(data[pos + 1:pos + 4], "big")
        if kind == 0:
            streaminfo = data[pos + 4:pos + 4 + length]
        pos += 4 + length
        if header & 0x80:
            break
    return streaminfo, data[pos:]


def flac_with_comments(parts, comments):
    streaminfo, frames = parts
    vendor = b"lumenar bench"
    body = struct.pack("<I", len(vendor)) + vendor + struct.pack("<I", len(comments))
    for key, value in comments:
        entry = ("%s=%s" % (key, value)).encode("utf-8")
        body += struct.pack("<I", len(entry)) + entry
    out = b"fLaC"
    out += bytes([0]) + len(streaminfo).to_bytes(3, "big") + streaminfo
    out += bytes([0x80 | 4]) + len(body).to_bytes(3, "big") + body
    return out + frames


def synchsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def id3v23(frames):
    body = b""
    for frame_id, text in frames:
        payload = b"\x00" + text.encode("latin-1")   # ISO-8859-1 text
        body += frame_id.encode("ascii") + struct.pack(">I", len(payload)) + b"\x00\x00" + payload
    body += b"\x00" * 256   # padding, as taggers leave it
    return b"ID3\x03\x00\x00" + synchsafe(len(body)) + body


def cue_sheet(artist, album, tracks):
    lines = ['PERFORMER "%s"' % artist, 'TITLE "%s"' % album, 'FILE "%s.flac" WAVE' % album]
    for i in range(tracks):
        lines += ["  TRACK %02d AUDIO" % (i + 1), '    TITLE "Part %d"' % (i + 1),
                  "    INDEX 01 00:%02d:00" % (i * 4)]
    return "\r\n".join(lines) + "\r\n"


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_library.py DIR")
    root = sys.argv[1]
    with tempfile.TemporaryDirectory() as tmp:
        flac, image, mp3, wav = make_bases(tmp)
    count = 0
    # 1,180 FLAC: 59 artists x 4 albums x 5 tracks, three levels deep.
    for a in range(59):
        for b in range(4):
            for t in range(5):
                artist, album = "Artist %02d" % a, "Album %d" % b
                comments = [("TITLE", "Song %d of %s" % (t + 1, album)), ("ARTIST", artist),
                            ("ALBUM", album), ("GENRE", "Rock"), ("DATE", "2001"), ("TRACKNUMBER", str(t + 1))]
                write(os.path.join(root, "FLAC", artist, album, "%02d Song.flac" % (t + 1)),
                      flac_with_comments(flac, comments))
                count += 1
    # 20 disc images: half with a sheet beside, half with the sheet embedded.
    for i in range(20):
        artist, album = "Image Artist %02d" % i, "Disc %02d" % i
        sheet = cue_sheet(artist, album, 5)
        comments = [("ARTIST", artist), ("ALBUM", album)]
        folder = os.path.join(root, "Images", artist)
        if i % 2:
            comments.append(("CUESHEET", sheet))
        else:
            write(os.path.join(folder, album + ".cue"), sheet.encode("utf-8"))
        write(os.path.join(folder, album + ".flac"), flac_with_comments(image, comments))
        count += 1
    # 500 MP3: 25 artists x 4 albums x 5 tracks.
    for a in range(25):
        for b in range(4):
            for t in range(5):
                artist, album = "MP3 Artist %02d" % a, "Record %d" % b
                tag = id3v23([("TIT2", "Tune %d" % (t + 1)), ("TPE1", artist), ("TALB", album),
                              ("TRCK", str(t + 1)), ("TCON", "Pop")])
                write(os.path.join(root, "MP3", artist, album, "%02d Tune.mp3" % (t + 1)), tag + mp3)
                count += 1
    # 300 WAV in 30 folders.
    for a in range(30):
        for t in range(10):
            write(os.path.join(root, "WAV", "Session %02d" % a, "take %02d.wav" % t), wav)
            count += 1
    print(count)


if __name__ == "__main__":
    main()
