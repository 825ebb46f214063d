#!/usr/bin/env python3
"""Writes data/demo/ode-to-joy.mid, the demo song bundled with Zentrowe.

Beethoven's "Ode to Joy" theme (public domain) as a format 1 Standard MIDI File, division 480:
  track 1  conductor: name "欢乐颂" (code page 936), 4/4, tempo 120 -> 132 -> 112 -> 96 BPM
  track 2  melody: name "主旋律" (code page 936), piano, accented first beats
  track 3  bass: name "低音" (UTF-8), acoustic bass, half notes
  track 4  drums: name "鼓组" (UTF-8), channel 10, kick/snare/hi-hat
Standard library only, so anyone can regenerate it: python3 tools/make_demo_song.py
"""
import os
import struct

DIVISION = 480
Q = DIVISION          # quarter note
H = 2 * Q
DQ = Q + Q // 2
E = Q // 2
MEASURE = 4 * Q


def var_len(value):
    groups = [value & 0x7F]
    value >>= 7
    while value:
        groups.insert(0, 0x80 | (value & 0x7F))
        value >>= 7
    return bytes(groups)


def track(events):
    """events: (absolute tick, order, bytes); returns the MTrk chunk with end of track."""
    events = sorted(events, key=lambda e: (e[0], e[1]))
    out = bytearray()
    now = 0
    last_status = None
    for tick, _, data in events:
        out += var_len(tick - now)
        now = tick
        status = data[0]
        if status < 0xF0 and status == last_status:
            out += data[1:]          # running status
        else:
            out += data
            last_status = status if status < 0xF0 else last_status
    out += b"\x00\xFF\x2F\x00"
    return b"MTrk" + struct.pack(">I", len(out)) + bytes(out)


def meta(kind, payload):
    return bytes([0xFF, kind]) + var_len(len(payload)) + payload


def tempo(bpm):
    return meta(0x51, struct.pack(">I", round(60000000 / bpm))[1:])


def notes(channel, sequence, start=0, velocity=90, accent=100):
    """sequence: (note or None for a rest, length); notes on a bar line get the accent."""
    events = []
    tick = start
    for note, length in sequence:
        if note is not None:
            vel = accent if tick % MEASURE == 0 else velocity
            events.append((tick, 1, bytes([0x90 | channel, note, vel])))
            # Note off as Note On with velocity 0, released a little early (legato gap).
            events.append((tick + length - 10, 0, bytes([0x90 | channel, note, 0])))
        tick += length
    return events


C4, D4, E4, F4, G4, A4, B4, C5 = 60, 62, 64, 65, 67, 69, 71, 72
G3 = 55
phrase_a = [(E4, Q), (E4, Q), (F4, Q), (G4, Q), (G4, Q), (F4, Q), (E4, Q), (D4, Q),
            (C4, Q), (C4, Q), (D4, Q), (E4, Q)]
melody = (phrase_a + [(E4, DQ), (D4, E), (D4, H)]
          + phrase_a + [(D4, DQ), (C4, E), (C4, H)]
          + [(D4, Q), (D4, Q), (E4, Q), (C4, Q), (D4, Q), (E4, E), (F4, E), (E4, Q), (C4, Q),
             (D4, Q), (E4, E), (F4, E), (E4, Q), (D4, Q), (C4, Q), (D4, Q), (G3, H)]
          + phrase_a + [(D4, DQ), (C4, E), (C4, H)])

# Bass roots, two half notes a measure.
C2, D2, E2, F2, G2 = 36, 38, 40, 41, 43
bass_roots = [C2, G2, E2, G2, F2, C2, G2, C2, C2, G2, E2, G2, G2, G2, C2, C2,
              G2, C2, G2, C2, G2, C2, D2, G2, C2, G2, E2, G2, G2, G2, C2, C2]
bass = [(n, H) for n in bass_roots]

KICK, SNARE, HAT = 36, 38, 42
drums = []
for measure in range(16):
    base = measure * MEASURE
    for beat in range(4):
        t = base + beat * Q
        drums.append((t, 1, bytes([0x99, KICK if beat % 2 == 0 else SNARE, 110 if beat == 0 else 96])))
        drums.append((t + 60, 0, bytes([0x99, KICK if beat % 2 == 0 else SNARE, 0])))
    for eighth in range(8):
        t = base + eighth * E
        drums.append((t, 2, bytes([0x99, HAT, 70])))
        drums.append((t + 40, 0, bytes([0x89, HAT, 64])))

conductor = [
    (0, 0, meta(0x03, "欢乐颂".encode("gbk"))),
    (0, 1, meta(0x58, bytes([4, 2, 24, 8]))),
    (0, 2, tempo(120)),
    (4 * MEASURE, 2, tempo(132)),
    (12 * MEASURE, 2, tempo(112)),
    (15 * MEASURE, 2, tempo(96)),
]
melody_track = [(0, 0, meta(0x03, "主旋律".encode("gbk"))), (0, 0, bytes([0xC0, 0]))] + notes(0, melody)
bass_track = [(0, 0, meta(0x03, "低音".encode("utf-8"))), (0, 0, bytes([0xC1, 32]))] + notes(1, bass, velocity=80, accent=88)
drum_track = [(0, 0, meta(0x03, "鼓组".encode("utf-8"))), (0, 0, bytes([0xC9, 0]))] + drums

if __name__ == "__main__":
    chunks = [track(conductor), track(melody_track), track(bass_track), track(drum_track)]
    header = b"MThd" + struct.pack(">IHHH", 6, 1, len(chunks), DIVISION)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "demo", "ode-to-joy.mid")
    with open(path, "wb") as out:
        out.write(header + b"".join(chunks))
    print("wrote", os.path.normpath(path))
