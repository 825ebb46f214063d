#!/usr/bin/env python3
"""Writes the cut fixtures and, independently of the program, the files a cut must produce.

A keysound file of three keysounds (gap 100 ticks, 96 ticks a quarter, 120 BPM), its chart's
#WAV lines, and a recording rendered from time 0 of the keysound file (one gap of silence first):
16-bit mono at 8,000 Hz, a JUNK chunk before "fmt " and a LIST chunk after "data". The expected
cut files follow the WAV rules directly: seconds = ticks x 500000 / 1e6 / 96 plus one gap (the
recording starts at time 0), bytes = round half to even of seconds x 16000, down to a whole frame
of 2 bytes; header bytes up to the "data" tag kept except the JUNK chunk (padding), RIFF and
data sizes rewritten.
Run from this folder: python3 make_fixtures.py
"""
import os
import struct

TPQ, TEMPO, GAP = 96, 500000, 100
KEYSOUNDS = [(60, 48, 100, "A60-24-100"), (64, 24, 90, "A64-12-90"), (67, 12, 80, "A67-6-80")]
RATE, BYTE_RATE, ALIGN = 8000, 16000, 2


def keysound_midi():
    track = bytes([0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xC7, 0x00])
    for i, (note, ticks, velocity, _) in enumerate(KEYSOUNDS):
        track += bytes([GAP]) + (bytes([0x91]) if i == 0 else b"") + bytes([note, velocity, ticks, note, 0])
    track += bytes([GAP, 0xFF, 0x2F, 0x00])
    return b"MThd" + struct.pack(">IHHH", 6, 1, 1, 96) + b"MTrk" + struct.pack(">I", len(track)) + track


def seconds(ticks):
    return ticks * TEMPO / 1000000 / TPQ


def offset(secs):
    b = round(secs * BYTE_RATE)
    return b - b % ALIGN


def main():
    with open("K-Midi.mid", "wb") as f:
        f.write(keysound_midi())
    with open("song.bms", "wb") as f:
        lines = ["", "*---------------------- HEADER FIELD", "#PLAYER 1", "#BPM01 120.00"]
        lines += ["#WAV%02d %s.OGG" % (i + 1, k[3]) for i, k in enumerate(KEYSOUNDS)]
        f.write("\r\n".join(lines).encode("ascii") + b"\r\n")

    # Note Ons at 100, 248 and 372 ticks; the end of track at 484.
    starts, t = [], 0
    for _, ticks, _, _ in KEYSOUNDS:
        t += GAP
        starts.append(t)
        t += ticks
    # A little short of the last Note Off: the last cut runs past the data chunk, whose missing
    # bytes must come out as zeros, not as the LIST chunk that follows it.
    frames = int((seconds(GAP) + seconds(starts[-1] - starts[0] + KEYSOUNDS[-1][1])) * RATE) - 40
    samples = [0] * frames
    silent = int(seconds(GAP) * RATE)
    for i in range(silent, frames):
        samples[i] = (1000 + 37 * i) % 20000 - 10000
    data = struct.pack("<%dh" % frames, *samples)
    fmt = struct.pack("<HHIIHH", 1, 1, RATE, BYTE_RATE, ALIGN, 16)
    junk = b"JUNK" + struct.pack("<I", 27) + bytes(27) + b"\x00"
    chunks = junk + b"fmt " + struct.pack("<I", 16) + fmt
    header_end = 12 + len(chunks) + 4  # through the "data" tag
    chunks += b"data" + struct.pack("<I", len(data)) + data
    chunks += b"LIST" + struct.pack("<I", 12) + b"INFOISFT" + struct.pack("<I", 0x7F7F7F7F)
    recording = b"RIFF" + struct.pack("<I", 4 + len(chunks)) + b"WAVE" + chunks
    with open("render.wav", "wb") as f:
        f.write(recording)

    os.makedirs("expected", exist_ok=True)
    first_note = starts[0]
    for i, (_, ticks, _, stem) in enumerate(KEYSOUNDS):
        start = starts[i] - first_note
        stop = starts[i + 1] - first_note if i + 1 < len(KEYSOUNDS) else start + ticks
        a = offset(seconds(start) + seconds(GAP))
        b = offset(seconds(stop) + seconds(GAP))
        size = b - a
        body = data[a:b] + bytes(max(0, size - max(0, len(data) - a)))
        head = bytearray(recording[:12] + recording[12 + len(junk):header_end])
        head[4:8] = struct.pack("<I", len(head) - 4 + size)
        with open(os.path.join("expected", stem + ".wav"), "wb") as f:
            f.write(bytes(head) + struct.pack("<I", size) + body[:size])


if __name__ == "__main__":
    main()
