#!/usr/bin/env python3
"""Writes the MIDI fixtures of the reading tests and, beside each, the output zentrowe-cli must
give for it, worked out here from the bytes written (not by running our program).

Standard library only: /usr/bin/python3 tests/data/reading/make_fixtures.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def var_len(value):
    groups = [value & 0x7F]
    value >>= 7
    while value:
        groups.insert(0, 0x80 | (value & 0x7F))
        value >>= 7
    return bytes(groups)


def header(fmt, count, division):
    return b"MThd" + struct.pack(">IHHH", 6, fmt, count, division)


def chunk(events, kind=b"MTrk"):
    return kind + struct.pack(">I", len(events)) + events


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def write_text(name, lines):
    with open(os.path.join(HERE, name), "w", encoding="utf-8", newline="\n") as f:
        f.write("".join(line + "\n" for line in lines))


EOT = b"\x00\xff\x2f\x00"

# song.mid: format 1, division 480, three tracks and a foreign chunk between tracks 1 and 2.
conductor = (b"\x00\xff\x03\x06" + "欢乐颂".encode("gbk")
             + b"\x00\xff\x58\x04\x04\x02\x18\x08"
             + b"\x00\xff\x51\x03\x07\xa1\x20"
             + var_len(1920) + b"\xff\x51\x03\x06\xed\xf8"   # 454136 us: 132.119... BPM
             + b"\x00\xff\x59\x02\xfd\x01"
             + EOT)
piano = (b"\x00\xff\x03\x0c" + "Piano 钢琴".encode("utf-8")
         + b"\x00\xc0\x00"
         + b"\x00\x90\x3c\x64"            # C4 on
         + var_len(480) + b"\x3c\x00"      # running status: velocity 0 ends it
         + b"\x00\x3e\x50"                 # D4 on
         + b"\x00\xf0\x05\x7e\x7f\x09\x01\xf7"
         + var_len(480) + b"\x80\x3e\x40"
         + b"\x00\xa0\x3e\x10"             # polyphonic key pressure
         + b"\x00\xb0\x07\x64"
         + b"\x00\xe0\x00\x40"
         + b"\xff\x7f\x90\x40\x7f"         # delta 16383, E4 on
         + b"\x10\xff\x01\x03a\tb"         # text with a TAB
         + b"\x00\x40\x00"                 # running status survives the text event
         + EOT)
drums = (b"\x00\xff\x03\x04" + "鼓组".encode("gbk")
         + b"\x00\xc9\x10"
         + b"\x00\x99\x24\x64"
         + b"\x60\x26\x64"
         + b"\x00\xff\x51\x03\x00\x00\x00"  # a tempo of 0: listed, not recorded
         + EOT)
song = header(1, 3, 480) + chunk(conductor) + chunk(b"\x01\x02\x03", b"XFIH") + chunk(piano) + chunk(drums)
write("song.mid", song)
write_text("song.tracks.txt", [
    "音轨 01\t0\t欢乐颂\t\t",
    "音轨 02\t3\tPiano 钢琴\t钢琴 \tAcoustic Grand Piano 大钢琴（声学钢琴） ",
    "音轨 03\t2\t鼓组\t打击乐器\tDrums 鼓",
])
write_text("song.events-1.txt", [
    "0\tFF\t欢乐颂",
    "0\tFF\tTime Sign    4/4 - 24 clocks- 8 32 ",
    "0\tFF\tTempo  120.00 BPM  500000",
    "1920\tFF\tTempo  132.12 BPM  454136",
    "0\tFF\tKey Sign     FD 01 ",
    "0\tFF\tEnd of track ",
])
write_text("song.events-2.txt", [
    "0\tFF\tPiano 钢琴",
    "0\tProgram Change\tNum=0",
    "0\tNote on\tCannel=0 Num=60 C4 Vol=100",
    "480\tNote on\tCannel=0 Num=60 C4 Vol=0",
    "0\tNote on\tCannel=0 Num=62 D4 Vol=80",
    "0\tFF\tSysE - len: 5",
    "480\tNote off\tCannel=0 Num=62 D4 Vol=64",
    "0\tKey Pressure\tNum=62 Value=16",
    "0\tControl Change \tNum=7 Value=100",
    "0\tPitch bend\tHig=0 Low=64",
    "16383\tNote on\tCannel=0 Num=64 E4 Vol=127",
    "16\tFF\ta\tb",
    "0\tNote on\tCannel=0 Num=64 E4 Vol=0",
    "0\tFF\tEnd of track ",
])
write_text("song.events-3.txt", [
    "0\tFF\t鼓组",
    "0\tProgram Change\tNum=16",
    "0\tNote on\tCannel=9 Num=36 C2 Vol=100",
    "96\tNote on\tCannel=9 Num=38 D2 Vol=100",
    "0\tFF\tTempo  000.00 BPM  0",
    "0\tFF\tEnd of track ",
])

# cut.mid: the header announces three tracks; the file ends inside the second one's Note On.
cut = header(1, 3, 96) + chunk(b"\x00\xff\x03\x01A\x00\x90\x3c\x40" + EOT) + chunk(b"\x00\x90\x3c\x40\x00\x90\x3e\x40" + EOT)
cut = cut[:-len(EOT) - 1]
write("cut.mid", cut)
write_text("cut.tracks.txt", [
    "音轨 01\t1\tA\t\t",
    "音轨 02\t1\t\t\t",
])
write_text("cut.events-2.txt", [
    "0\tNote on\tCannel=0 Num=60 C4 Vol=64",
])

# smpte.mid: division in SMPTE frames (25 fps, 40 ticks a frame).
write("smpte.mid", header(1, 1, 0xE728) + chunk(EOT))

# not-midi.mid: a text file named like a MIDI file.
write("not-midi.mid", b"This is not a MIDI file at all.\n")

# empty-song.mid: a valid header announcing no tracks.
write("empty-song.mid", header(1, 0, 480))
