#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into corpus/<target>/.

song_reader: small hand-made files that between them reach every branch of the track walk:
running status, every channel status group, sysex and escape events, every meta type the
describer knows plus an unknown one, odd length bytes, a foreign chunk, a track cut short, a Set
Tempo of 0. The demo song is copied in as a realistic file.

chart_generator: four settings bytes (start code low and high byte, long-note minimum as a signed
byte, name and mode bits) before a song: chords that fill every lane, long notes across measure
lines, notes and tempo changes at measure 1000, the last start code, a division of 0.

commit_journal: the journal a killed build leaves, whole and cut short, and the ones a folder from
anywhere can carry: names up and out of the folder, absolute, through a link, with a backslash,
the staging folder's own name, moves after removals, numbers past 64 bits.

wave_reader: recordings of each sample format the cutter scans, with extra chunks, odd sizes, a
data chunk longer than the file, a byte rate of gigabytes a second, and a file that is not RIFF.

Run: /usr/bin/python3 fuzz/make_seeds.py
"""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus", "song_reader")
CHART_OUT = os.path.join(HERE, "corpus", "chart_generator")
WAVE_OUT = os.path.join(HERE, "corpus", "wave_reader")
JOURNAL_OUT = os.path.join(HERE, "corpus", "commit_journal")


def header(fmt, count, division=480):
    return b"MThd" + struct.pack(">IHHH", 6, fmt, count, division)


def chunk(kind, data):
    return kind + struct.pack(">I", len(data)) + data


def song(fmt, tracks, division=480):
    return header(fmt, len(tracks), division) + b"".join(chunk(b"MTrk", t) for t in tracks)


EOT = bytes([0x00, 0xFF, 0x2F, 0x00])

SEEDS = {
    "running-status": song(0, [bytes([0x00, 0x90, 0x3C, 0x40, 0x10, 0x3E, 0x40, 0x10, 0x3C, 0x00,
                                      0x00, 0x3E, 0x00]) + EOT]),
    "every-channel-group": song(1, [bytes([
        0x00, 0x80, 0x3C, 0x40, 0x00, 0x91, 0x3C, 0x40, 0x00, 0xA2, 0x3C, 0x11,
        0x00, 0xB3, 0x07, 0x64, 0x00, 0xC4, 0x18, 0x00, 0xC9, 0x00, 0x00, 0xD5, 0x30,
        0x00, 0xE6, 0x00, 0x40]) + EOT]),
    "sysex-and-escape": song(1, [bytes([0x00, 0x90, 0x3C, 0x40,
                                        0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7,
                                        0x00, 0xF7, 0x02, 0x01, 0x02,
                                        0x00, 0x3C, 0x00,
                                        0x00, 0xF1, 0x00, 0xFE]) + EOT]),
    "meta-types": song(1, [bytes([
        0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x02, 0x00, 0x07,
        0x00, 0xFF, 0x01, 0x04]) + b"text" + bytes([
        0x00, 0xFF, 0x03, 0x06]) + "主旋".encode("gbk") + "律".encode("utf-8")[:2] + bytes([
        0x00, 0xFF, 0x20, 0x01, 0x09, 0x00, 0xFF, 0x21, 0x02, 0x00, 0x00,
        0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xFF, 0x51, 0x02, 0x00, 0x00, 0x00,
        0x00, 0xFF, 0x54, 0x05, 0x60, 0x00, 0x00, 0x00, 0x00,
        0x00, 0xFF, 0x58, 0x04, 0x06, 0x03, 0x18, 0x08, 0x00, 0xFF, 0x58, 0x04, 0x04, 0xFF, 0x18, 0x08,
        0x00, 0xFF, 0x59, 0x02, 0xFD, 0x01,
        0x00, 0xFF, 0x7F, 0x03, 0x00, 0x00, 0x41,
        0x00, 0xFF, 0x4B, 0x02, 0x01, 0x02]) + EOT]),
    "foreign-chunk": header(1, 2) + chunk(b"XFIH", b"\x01\x02\x03") +
                     chunk(b"MTrk", bytes([0x00, 0x90, 0x3C, 0x40]) + EOT) +
                     chunk(b"MTrk", bytes([0x83, 0x60, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40]) + EOT),
    "cut-short": song(1, [bytes([0x00, 0x90, 0x3C, 0x40]) + EOT,
                          bytes([0x00, 0x90, 0x3C, 0x40, 0x81])])[:-1],
    "long-delta": song(1, [bytes([0xFF, 0x00, 0x90, 0x3C, 0x40]) + EOT]),
    "keysound-file": song(1, [bytes([0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,
                                     0x64, 0x90, 0x3C, 0x64, 0x60, 0x80, 0x3C, 0x40,
                                     0x64, 0x90, 0x3E, 0x50, 0x30, 0x80, 0x3E, 0x40,
                                     0x64, 0xFF, 0x2F, 0x00])], division=96),
}


def var_len(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, 0x80 | (value & 0x7F))
        value >>= 7
    return bytes(out)


def timed_track(events):
    """Track bytes from (absolute tick, event bytes) pairs in time order, then the end of track."""
    out = b""
    now = 0
    for time, event in sorted(events, key=lambda e: e[0]):
        out += var_len(time - now) + bytes(event)
        now = time
    return out + EOT


def note(start, length, number, velocity=100, channel=0):
    return [(start, [0x90 | channel, number, velocity]), (start + length, [0x80 | channel, number, 0x40])]


def tempo(time, micros):
    return (time, [0xFF, 0x51, 0x03, micros >> 16, (micros >> 8) & 0xFF, micros & 0xFF])


def timed_song(events, division=96):
    return song(0, [timed_track(events)], division)


def settings(start_code=0, long_minimum=24, name_and_mode=0):
    return bytes([start_code & 0xFF, start_code >> 8, long_minimum & 0xFF, name_and_mode])


# Division 96: a measure is 384 ticks, a slot 2 ticks.
CHORD = [e for n in range(60, 75) for e in note(0, 96, n)] + [e for n in range(60, 68) for e in note(2, 1, n)]
HELD = (note(0, 1000, 60) + note(100, 20, 67) + note(380, 400, 61, channel=1) + note(380, 8, 61) +
        note(1100, 384 * 3, 62) + [tempo(0, 400000), tempo(384 * 2 + 5, 750000)])
OVERLAP = note(0, 300, 60) + note(10, 50, 60) + note(10, 50, 60, channel=3) + note(20, 0, 67) + [(500, [0x80, 60, 0])]

CHART_SEEDS = {
    "chord-plain": settings() + timed_song(CHORD),
    "held-long-threshold-0": settings(long_minimum=0, name_and_mode=0x04) + timed_song(HELD),
    "held-negative-threshold": settings(start_code=0x1F0, long_minimum=-10, name_and_mode=0x0A) + timed_song(HELD),
    "overlap-percussion": settings(long_minimum=127, name_and_mode=0x0B) + timed_song(OVERLAP),
    "measure-1000": settings() + timed_song(note(384 * 999 + 380, 8, 60) + note(384 * 1000, 8, 61)),
    "tempo-at-measure-1000": settings(name_and_mode=0x04) + timed_song(note(0, 8, 60) + [tempo(384 * 1000, 500000)]),
    "last-start-code": settings(start_code=1294) + timed_song(note(0, 8, 60) + note(8, 8, 61)),
    "division-0": settings() + timed_song(note(0, 8, 60), division=0),
    # Velocities of 0x80 and above, a strum never released, and a note of 2^28 ticks.
    "loud-unended": settings(name_and_mode=0x04) + timed_song(
        [(0, [0x90, 60, 0xCC]), (0, [0x90, 64, 0x80]), (0, [0x90, 0x80, 100]), (2, [0x80, 60, 0])] +
        note(8, 1 << 28, 62) + [(1 << 28, [0xFF, 0x01, 0x00])]),
    "two-tracks": settings(long_minimum=-128, name_and_mode=0x08) + song(1, [
        timed_track([tempo(0, 600000), tempo(96, 300000)]),
        timed_track(note(0, 200, 40) + note(96, 500, 41, velocity=127) + note(200, 96, 0) + note(200, 96, 127))]),
}


def wave(chunks, riff=b"RIFF", form=b"WAVE"):
    body = b""
    for kind, data, *declared in chunks:
        size = declared[0] if declared else len(data)
        body += kind + struct.pack("<I", size) + data + (b"\0" if len(data) % 2 else b"")
    return riff + struct.pack("<I", len(body) + 4) + form + body


def fmt(tag, channels, rate, bits, byte_rate=None, block_align=None):
    block_align = block_align if block_align is not None else channels * bits // 8
    byte_rate = byte_rate if byte_rate is not None else rate * block_align
    return struct.pack("<HHIIHH", tag, channels, rate, byte_rate, block_align, bits)


def extensible(channels, rate, bits, sub_tag):
    guid = struct.pack("<H", sub_tag) + bytes.fromhex("000000001000800000AA00389B71")
    return fmt(0xFFFE, channels, rate, bits) + struct.pack("<HHI", 22, bits, 3) + guid


def pcm16(samples):
    return struct.pack("<%dh" % len(samples), *samples)


QUIET_THEN_LOUD = pcm16([0] * 40 + [12000, -12000] * 20 + [5] * 20)

WAVE_SEEDS = {
    "pcm16-stereo": wave([(b"fmt ", fmt(1, 2, 8000, 16)), (b"data", QUIET_THEN_LOUD)]),
    "float-fact-list": wave([(b"fmt ", fmt(3, 1, 1000, 32)), (b"fact", struct.pack("<I", 64)),
                             (b"LIST", b"INFOISFT\x03\x00\x00\x00ab\x00"),
                             (b"data", struct.pack("<64f", *([0.0] * 10 + [0.5, -0.25] * 27)))]),
    "extensible-24bit": wave([(b"JUNK", bytes(5)), (b"fmt ", extensible(2, 4000, 24, 1)),
                              (b"data", bytes(60) + b"\x00\x40\x00" * 40)]),
    "pcm8-data-past-end": wave([(b"fmt ", fmt(1, 1, 2000, 8)), (b"data", bytes([128] * 30 + [200] * 30), 5000)]),
    "huge-byte-rate": wave([(b"fmt ", fmt(1, 1, 44100, 16, byte_rate=0xFFFFFFF0, block_align=2)),
                            (b"data", QUIET_THEN_LOUD)]),
    "odd-block-align": wave([(b"fmt ", fmt(1, 3, 1000, 8)), (b"bext", b"x"), (b"data", bytes(range(99)))]),
    "not-riff": wave([(b"fmt ", fmt(1, 2, 8000, 16)), (b"data", QUIET_THEN_LOUD)], riff=b"RIFX"),
}


JOURNAL_HEADER = b"zentrowe commit journal 1\n"


def journal(*entries):
    return JOURNAL_HEADER + b"".join(e + b"\0" for e in entries)


JOURNAL_SEEDS = {
    "undo": journal(b"move 2049 131 a.wav", b"move 2049 132 c.wav", b"move 2049 17 song_N.bms", b"remove b.wav"),
    "cut-short": journal(b"move 2049 131 a.wav")[:-3],
    "remove-up-and-out": journal(b"move 1 2 song_N.bms", b"remove ../victims/precious.txt",
                                 b"remove /tmp/victims/abs.txt"),
    "move-up-two": journal(b"move 1 1 ../../planted-outside.txt", b"move 1 1 song_N.bms"),
    "undo-out-of-the-folder": journal(b"move 1 1 ../commit-journal"),
    "through-a-link": journal(b"move 1 1 L/evil.desktop", b"move 1 1 song_N.bms"),
    "backslash": journal(b"move 1 1 ..\\evil.txt"),
    "staging-itself": journal(b"move 1 1 song_N.bms", b"remove .zentrowe-staging"),
    "move-after-remove": journal(b"move 1 1 a.wav", b"remove b.wav", b"move 1 1 c.wav"),
    "huge-numbers": journal(b"move 18446744073709551616 1 a.wav", b"move 1 99999999999999999999 a.wav"),
    "empty-names": journal(b"move 1 1 ", b"remove ", b"remove .", b"remove .."),
    "no-header": b"zentrowe commit journal 2\nmove 1 1 a.wav\0",
}


def write_all(folder, seeds, suffix):
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name + suffix), "wb") as f:
            f.write(data)


def main():
    write_all(OUT, SEEDS, ".mid")
    shutil.copy(os.path.join(HERE, "..", "data", "demo", "ode-to-joy.mid"), os.path.join(OUT, "demo.mid"))
    with open(os.path.join(HERE, "..", "data", "demo", "ode-to-joy.mid"), "rb") as f:
        demo = f.read()
    write_all(CHART_OUT, dict(CHART_SEEDS, **{"demo-long": settings(long_minimum=12, name_and_mode=0x04) + demo}), ".bin")
    write_all(WAVE_OUT, WAVE_SEEDS, ".wav")
    write_all(JOURNAL_OUT, JOURNAL_SEEDS, ".journal")


if __name__ == "__main__":
    main()
