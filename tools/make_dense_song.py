#!/usr/bin/env python3
"""Writes a dense song for stress runs (scripts/stress-build) where no example song is installed.

A format 1 Standard MIDI File, division 480, 4/4 at 140 BPM, 64 measures:
  track 1  conductor: tempo, time signature
  track 2  guitar (program 25): six-string strums on every eighth note, down and up, the chord
           changing each measure, velocities and lengths varied so that most strums make new
           keysounds (about a thousand)
  track 3  drums: channel 10, kick, snare and hi-hat
Standard library only: python3 tools/make_dense_song.py OUT.mid
"""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_demo_song import track  # noqa: E402  (one MIDI track writer for the tools)

DIVISION = 480
E = DIVISION // 2
MEASURES = 64
CHORDS = [[40, 47, 52, 56, 59, 64], [45, 52, 57, 61, 64, 69], [43, 47, 50, 55, 59, 67], [38, 45, 50, 54, 57, 62]]


def main(path):
    conductor = [(0, 0, b"\xff\x51\x03" + (60000000 // 140).to_bytes(3, "big")), (0, 0, b"\xff\x58\x04\x04\x02\x18\x08")]
    guitar = [(0, 0, b"\xc0\x19")]
    drums = []
    for measure in range(MEASURES):
        chord = CHORDS[measure % len(CHORDS)]
        for eighth in range(8):
            start = (measure * 8 + eighth) * E
            down = eighth % 2 == 0
            strings = chord if down else list(reversed(chord))
            length = E - 20 - 7 * ((measure + eighth) % 9)
            for i, note in enumerate(strings):
                at = start + 12 * i
                velocity = 50 + (measure * 7 + eighth * 11 + i * 5) % 70
                guitar.append((at, 1, bytes([0x90, note + (measure // 16) % 3, velocity])))
                guitar.append((at + length, 0, bytes([0x80, note + (measure // 16) % 3, 0])))
            drum = 36 if eighth % 4 == 0 else 38 if eighth % 4 == 2 else 42
            drums.append((start, 1, bytes([0x99, drum, 90 + eighth * 4])))
            drums.append((start + E // 2, 0, bytes([0x89, drum, 0])))
    header = b"MThd" + struct.pack(">IHHH", 6, 1, 3, DIVISION)
    with open(path, "wb") as out:
        out.write(header + track(conductor) + track(guitar) + track(drums))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make_dense_song.py OUT.mid")
    main(sys.argv[1])
