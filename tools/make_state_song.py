#!/usr/bin/env python3
"""Writes a song whose channels change as it plays, to check that keysounds carry their state.

A format 1 Standard MIDI File, division 480, 4/4 at 120 BPM, 16 measures (32 s):
  track 1  conductor: tempo, the song's name
  track 2  melody on channel 1: eighths, a new program every 4 measures (piano, violin, flute,
           trumpet), volume rising each measure, pan moving, expression on every note, and a
           pitch bend held over three notes of every fourth measure
  track 3  strings on channel 2: a note a beat under the sustain pedal, lifted at each bar line
  track 4  drums on channel 10: kick, snare and hi-hat
Every note of tracks 2 and 3 thus sounds with another state than the same note elsewhere; a build
that renders keysounds without their channel's state sounds unlike the song.
Standard library only: python3 tools/make_state_song.py OUT.mid
"""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_demo_song import track  # noqa: E402  (one MIDI track writer for the tools)

DIVISION = 480
Q = DIVISION
MEASURES = 16
SCALE = [60, 62, 64, 65, 67, 69, 71, 72]
PROGRAMS = [0, 40, 73, 56]


def control(channel, number, value):
    return bytes([0xB0 | channel, number, value])


def melody():
    events = []
    for bar in range(MEASURES):
        start = bar * 4 * Q
        if bar % 4 == 0:
            events.append((start, 0, bytes([0xC0, PROGRAMS[bar // 4]])))
        events.append((start, 0, control(0, 7, 70 + bar * 3)))
        events.append((start, 0, control(0, 10, (bar * 17) % 128)))
        for i in range(8):
            at = start + i * Q // 2
            note = SCALE[(bar + i * 3) % 8]
            events.append((at, 0, control(0, 11, 60 + (i * 9) % 67)))
            if bar % 4 == 2 and i in (3, 6):
                bend = 0x2000 + (2048 if i == 3 else 0)  # up a whole tone's worth, then back
                events.append((at, 0, bytes([0xE0, bend & 0x7F, bend >> 7])))
            events.append((at, 1, bytes([0x90, note, 70 + (i * 7) % 50])))
            events.append((at + Q // 2 - 20, 0, bytes([0x80, note, 0])))
    return events


def strings():
    events = [(0, 0, bytes([0xC1, 48]))]
    for bar in range(MEASURES):
        start = bar * 4 * Q
        events.append((start, 0, control(1, 64, 127)))
        for k, note in enumerate([48, 55, 60] if bar % 2 == 0 else [45, 52, 57]):
            events.append((start + k * Q, 1, bytes([0x91, note, 60])))
            events.append((start + k * Q + Q, 0, bytes([0x81, note, 0])))
        events.append((start + 4 * Q - 10, 0, control(1, 64, 0)))
    return events


def drums():
    events = []
    for eighth in range(MEASURES * 8):
        at = eighth * Q // 2
        for note, velocity in [(42, 70)] + [(36, 100)] * (eighth % 4 == 0) + [(38, 95)] * (eighth % 4 == 2):
            events.append((at, 1, bytes([0x99, note, velocity])))
            events.append((at + 60, 0, bytes([0x89, note, 0])))
    return events


def main(path):
    name = b"State song"
    conductor = [(0, 0, b"\xff\x51\x03" + (500000).to_bytes(3, "big")), (0, 0, b"\xff\x03" + bytes([len(name)]) + name)]
    header = b"MThd" + struct.pack(">IHHH", 6, 1, 4, DIVISION)
    with open(path, "wb") as out:
        out.write(header + track(conductor) + track(melody()) + track(strings()) + track(drums()))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make_state_song.py OUT.mid")
    main(sys.argv[1])
