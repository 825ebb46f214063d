"""A General MIDI song of 25 tracks and about 3 minutes, as a band would write it, for the benches.

Drums (kick and snare, hi-hats and cymbals, toms and hand percussion on channel 10), two basses on
the chord roots, six chord parts (piano, electric piano, strings, organ, guitar, brass) in their
own rhythms and voicings, six melodies over the scale, an arpeggio, a counter-line and doubled
parts that share a channel with the part they double (as arrangers put a second violin on the
strings' channel). Velocities and lengths vary as a player's do, from a fixed seed, so the song
is the same bytes on every run: about 17,000 notes, more sounds than base-36 codes name, which a
build merges into some 1,160 keysound files.

  python3 bench/band_song.py OUT.mid      (standard library only)
"""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools"))
from make_demo_song import track  # noqa: E402  (one MIDI track writer for the tools)

DIVISION = 480
BEAT = DIVISION
MEASURE = 4 * BEAT
BPM = 124
MEASURES = 92  # 3 minutes at 124 BPM
DRUMS = 9

# I vi IV V, then ii V I vi, a bar each; the second half a whole step up.
PROGRESSION = [(0, "maj"), (9, "min"), (5, "maj"), (7, "maj"), (2, "min"), (7, "maj"), (0, "maj"), (9, "min")]
CHORD_TONES = {"maj": (0, 4, 7, 11), "min": (0, 3, 7, 10)}
SCALE = (0, 2, 4, 5, 7, 9, 11)


class Dice:
    """A linear congruential generator: the same song on every run and every Python."""

    def __init__(self, seed):
        self.state = seed

    def below(self, count):
        self.state = (self.state * 6364136223846793005 + 1442695040888963407) % (1 << 64)
        return (self.state >> 33) % count


def chord_at(measure):
    root, kind = PROGRESSION[measure % len(PROGRESSION)]
    return (root + (2 if measure >= MEASURES // 2 else 0), kind)


def note(events, channel, start, length, pitch, velocity):
    pitch = max(0, min(127, pitch))
    velocity = max(1, min(127, velocity))
    events.append((start, 1, bytes([0x90 | channel, pitch, velocity])))
    events.append((start + max(1, length), 0, bytes([0x80 | channel, pitch, 0])))  # before a strike at its tick


def drums(dice, pattern):
    """pattern: (drum note, ticks apart, base velocity, chance in 8 of a hit)."""
    events = []
    for measure in range(MEASURES):
        for drum, step, velocity, chance in pattern:
            for at in range(0, MEASURE, step):
                fill = measure % 8 == 7 and at >= MEASURE // 2
                if dice.below(8) < chance or (fill and drum in (45, 47, 50, 38)):
                    accent = 12 if at % BEAT == 0 else 0
                    note(events, DRUMS, measure * MEASURE + at, step // 2, drum,
                         velocity + accent + dice.below(24) - 12)
    return events


def bass(channel, dice, step):
    events = []
    for measure in range(MEASURES):
        root, kind = chord_at(measure)
        for at in range(0, MEASURE, step):
            tone = (0, 7, 12, CHORD_TONES[kind][1])[dice.below(4)] if at else 0
            length = step - dice.below(step // 2)
            note(events, channel, measure * MEASURE + at, length, 28 + root + tone, 76 + dice.below(40))
    return events


def chords(channel, dice, octave, rhythm, voices):
    events = []
    for measure in range(MEASURES):
        root, kind = chord_at(measure)
        tones = CHORD_TONES[kind][:voices]
        for start, length in rhythm:
            inversion = dice.below(len(tones))
            velocity = 58 + dice.below(50)
            for k, tone in enumerate(tones):
                lift = 12 if k < inversion else 0
                note(events, channel, measure * MEASURE + start, length - dice.below(BEAT // 4),
                     octave + root + tone + lift, velocity + dice.below(10))
    return events


def melody(channel, dice, low, span, steps):
    """A line that walks the scale from `low` over `span` scale steps, in `steps` (ticks)."""
    events = []
    degree = span // 2
    for measure in range(MEASURES):
        root, _ = chord_at(measure)
        at = 0
        while at < MEASURE:
            step = steps[dice.below(len(steps))]
            if dice.below(6) > 0:  # a rest now and then, as a singer breathes
                degree = max(0, min(span, degree + dice.below(5) - 2))
                pitch = low + root + 12 * (degree // 7) + SCALE[degree % 7]
                length = step - dice.below(step // 3 + 1)
                note(events, channel, measure * MEASURE + at, length, pitch, 62 + dice.below(60))
            at += step
    return events


def arpeggio(channel, dice, octave, step):
    events = []
    for measure in range(MEASURES):
        root, kind = chord_at(measure)
        tones = CHORD_TONES[kind]
        for k, at in enumerate(range(0, MEASURE, step)):
            pitch = octave + root + tones[k % 4] + 12 * ((k // 4) % 2)
            note(events, channel, measure * MEASURE + at, step + dice.below(step), pitch, 50 + dice.below(50))
    return events


# (channel, program, pan, the part's notes from a seeded dice); channel 10 is the drum kit.
PARTS = [
    (0, 81, 64, lambda d: melody(0, d, 60, 12, [BEAT // 2, BEAT // 2, BEAT, BEAT // 4, 3 * BEAT // 2])),  # lead
    (DRUMS, 0, 64, lambda d: drums(d, [(36, BEAT, 100, 6), (38, 2 * BEAT, 96, 8), (37, BEAT // 2, 60, 1)])),
    (DRUMS, 0, 64, lambda d: drums(d, [(42, BEAT // 2, 70, 7), (46, MEASURE, 80, 3), (49, 2 * MEASURE, 96, 8),
                                       (51, BEAT, 66, 3)])),
    (DRUMS, 0, 64, lambda d: drums(d, [(45, BEAT // 2, 84, 0), (47, BEAT // 2, 84, 0), (50, BEAT // 2, 84, 0),
                                       (60, BEAT // 2, 70, 2), (63, BEAT, 74, 2), (70, BEAT // 4, 50, 3)])),
    (1, 33, 64, lambda d: bass(1, d, BEAT // 2)),  # finger bass
    (2, 0, 52, lambda d: chords(2, d, 48, [(0, BEAT), (BEAT + BEAT // 2, BEAT // 2), (2 * BEAT, 2 * BEAT)], 4)),
    (3, 4, 80, lambda d: chords(3, d, 60, [(BEAT // 2, BEAT // 2), (3 * BEAT // 2, BEAT), (3 * BEAT, BEAT)], 3)),
    (4, 48, 40, lambda d: chords(4, d, 48, [(0, MEASURE)], 4)),  # strings
    (5, 16, 88, lambda d: chords(5, d, 60, [(0, 2 * BEAT), (2 * BEAT, 2 * BEAT)], 3)),  # organ
    (6, 25, 30, lambda d: chords(6, d, 52, [(at, BEAT // 2) for at in range(0, MEASURE, BEAT // 2)], 3)),
    (7, 61, 96, lambda d: chords(7, d, 60, [(3 * BEAT // 2, BEAT // 2), (3 * BEAT, BEAT // 2)], 3)),  # brass
    (8, 73, 70, lambda d: melody(8, d, 72, 10, [BEAT, BEAT // 2, 2 * BEAT])),  # flute
    (10, 65, 58, lambda d: melody(10, d, 60, 11, [BEAT // 2, BEAT, BEAT // 3])),  # alto sax
    (11, 40, 76, lambda d: melody(11, d, 67, 12, [BEAT, 2 * BEAT, BEAT // 2])),  # violin
    (12, 56, 48, lambda d: melody(12, d, 60, 9, [BEAT // 2, BEAT, 3 * BEAT // 2])),  # trumpet
    (13, 11, 100, lambda d: melody(13, d, 72, 14, [BEAT // 4, BEAT // 2])),  # vibraphone
    (14, 46, 20, lambda d: arpeggio(14, d, 60, BEAT // 4)),  # harp
    (15, 38, 64, lambda d: bass(15, d, BEAT // 4)),  # synth bass
    (9 + 0, 0, 64, lambda d: drums(d, [(39, 2 * BEAT, 80, 4), (54, BEAT // 2, 58, 4), (69, BEAT // 4, 48, 3)])),
    (4, 48, 40, lambda d: melody(4, d, 55, 10, [2 * BEAT, MEASURE, BEAT])),  # second violins, on the strings
    (2, 0, 52, lambda d: melody(2, d, 72, 12, [BEAT // 2, BEAT // 4, BEAT])),  # piano right hand
    (8, 73, 70, lambda d: melody(8, d, 84, 7, [BEAT, 2 * BEAT])),  # piccolo line, on the flute
    (12, 56, 48, lambda d: chords(12, d, 55, [(0, BEAT // 2), (2 * BEAT, BEAT // 2)], 3)),  # trumpet stabs
    (3, 4, 80, lambda d: arpeggio(3, d, 72, BEAT // 2)),  # electric piano's right hand
    (13, 11, 100, lambda d: melody(13, d, 60, 7, [BEAT, BEAT // 2])),  # vibraphone's low line
]


def write(path):
    conductor = [(0, 0, b"\xff\x51\x03" + (60000000 // BPM).to_bytes(3, "big")),
                 (0, 0, b"\xff\x58\x04\x04\x02\x18\x08")]
    tracks = [track(conductor)]
    for k, (channel, program, pan, part) in enumerate(PARTS):
        setup = [(0, 0, bytes([0xB0 | channel, 7, 100])), (0, 0, bytes([0xB0 | channel, 10, pan]))]
        if channel != DRUMS:
            setup.append((0, 0, bytes([0xC0 | channel, program])))
        tracks.append(track(setup + part(Dice(1000 + k))))
    with open(path, "wb") as out:
        out.write(b"MThd" + struct.pack(">IHHH", 6, 1, len(tracks), DIVISION))
        for data in tracks:
            out.write(data)


if __name__ == "__main__":
    write(sys.argv[1])
