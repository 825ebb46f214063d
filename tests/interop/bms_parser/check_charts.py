#!/usr/bin/python3
"""Converts songs with zentrowe-cli and reads the charts back with the npm package "bms" (a BMS
parser we did not write) and "K-Midi.mid" back with python3-mido.

The songs: the demo song's melody and bass tracks, a few songs written with mido by hand (chords
in one lane, doubled note-offs, the same note on two channels, notes held across bar lines) and
seeded random songs (several divisions, tempo changes, overlapping notes, chords). Each is
converted in plain and in long-note mode, the drum track and some random songs in percussion
mode. What the chart should hold is worked out here from the
MIDI notes as mido reads them and from the chart rules:

- a note's start slot: measure = start // (4 * division), slot = floor(rest * 192 / measure
  ticks); the parser's beat is 4 * (measure + slot / 192), its time in seconds comes from the
  chart's tempo lines, each tempo change floored to its slot the same way;
- a note sits on the lane of its note number (note mod 7 -> 16, 11, 12, 13, 14, 15, 18), or, when
  that lane is taken, on another lane or the background channel 01, at the same time;
- its keysound file is name + note + "-" + length in 1/192 of a measure (ties to even) + "-" +
  velocity + ".OGG", numbered in the order the notes end;
- in long-note mode a note held at least (long-note minimum - 1) slots, and at least one, is a
  long note ending at start slot + floor(held ticks * 192 / measure ticks); no two notes of one
  lane overlap;
- in percussion mode every Note On with a velocity is a note at its own time, keysounds are told
  apart by note and velocity alone, and every keysound is 100 ticks long.

"K-Midi.mid" holds one note per keysound in table order at 96 ticks per quarter, each held
round(96 / division * duration) ticks (ties to even), with --gap ticks before every note and
before the end of track, at the song's tempo or the one --bpm gives; bank selects and program
changes come only at the end of a note (delta 0), and every note plays on a channel given a program
(channel 10 in percussion mode).

Usage: [NODE_PATH=.../node_modules] check_charts.py ZENTROWE_CLI DEMO_MIDI WORK_FOLDER
Exit 0 if every chart agrees, 1 with a list of differences, 77 (skipped) if mido or node or the
npm package is missing.
"""
import json
import os
import random
import shutil
import subprocess
import sys
from fractions import Fraction

try:
    import mido
except ImportError:
    print("python3-mido is not installed (scripts/install-deps test installs it)")
    sys.exit(77)

HERE = os.path.dirname(os.path.abspath(__file__))
# The parser comes from `npm ci` run on this folder's package-lock.json, into NODE_PATH (CTest's
# set-up test does it) or beside this script.
NODE_MODULES = os.environ.get("NODE_PATH") or os.path.join(HERE, "node_modules")
if shutil.which("node") is None or not os.path.isdir(os.path.join(NODE_MODULES, "bms")):
    print("node or the npm package bms is missing (scripts/install-deps test; npm ci --prefix FOLDER "
          "with this folder's package files, then NODE_PATH=FOLDER/node_modules)")
    sys.exit(77)

CLI, DEMO, WORK = sys.argv[1], sys.argv[2], sys.argv[3]
# Which songs to check, so that CTest can run them as tests of their own: songs (the demo and the
# hand-written ones), random (seeds 1 to 12), random1 or random2 (its halves), or all of them.
GROUP = sys.argv[4] if len(sys.argv) > 4 else "all"

SLOTS = 192
LANE_COLUMNS = ["SC", "1", "2", "3", "4", "5", "6"]  # channels 16, 11, 12, 13, 14, 15, 18 as the parser names them
DIGITS36 = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"

failures = []
seen = {"long notes": 0, "moved notes": 0, "background notes": 0}


def fail(case, message):
    failures.append((case, message))


def base36(value):
    return DIGITS36[value // 36] + DIGITS36[value % 36]


def round_half_even(value):
    return round(Fraction(value))  # Python rounds a Fraction half to even


# --- What the MIDI file holds, read by mido -------------------------------------------------


def absolute(track):
    now = 0
    for message in track:
        now += message.time
        yield now, message


def track_notes(song, track_index):
    """Notes of one track in the order of their ends: a note end closes the oldest pending start
    of its channel and note; notes 0 and 127 are never charted; unclosed starts are no notes."""
    pending = {}
    notes = []
    for time, message in absolute(song.tracks[track_index]):
        if message.type not in ("note_on", "note_off") or message.note in (0, 127):
            continue
        key = (message.channel, message.note)
        if message.type == "note_on" and message.velocity > 0:
            pending.setdefault(key, []).append((time, message.velocity))
        elif pending.get(key):
            start, velocity = pending[key].pop(0)
            notes.append({"note": message.note, "start": start, "end": time, "velocity": velocity})
    return notes


def track_strikes(song, track_index):
    """Percussion: every Note On with a velocity, in file order, is a note; lengths do not count
    (every keysound is 100 ticks long)."""
    strikes = []
    for time, message in absolute(song.tracks[track_index]):
        if message.type == "note_on" and message.velocity > 0 and message.note not in (0, 127):
            strikes.append({"note": message.note, "start": time, "end": time + 100, "velocity": message.velocity})
    return strikes


def tempo_map(song):
    """Tempo changes of every track in file order, Set Tempo events of 0 left out."""
    changes = []
    for track in song.tracks:
        for time, message in absolute(track):
            if message.type == "set_tempo" and message.tempo != 0:
                changes.append((time, message.tempo))
    return changes


def slot_position(ticks, measure_ticks):
    """Start of a note or tempo change in slots from the start of the song (floored to its slot)."""
    return (ticks // measure_ticks) * SLOTS + (ticks % measure_ticks) * SLOTS // measure_ticks


def seconds_at(position, tempo_positions):
    """Seconds at a slot position through the chart's tempo lines: (slot position, microseconds)
    sorted by position, the later of two changes at one slot winning; 500000 before the first."""
    seconds = Fraction(0)
    previous, micros = 0, 500000
    for at, tempo in tempo_positions:
        if at > position:
            break
        seconds += Fraction(at - previous, 48) * micros / 1000000
        previous, micros = at, tempo
    return seconds + Fraction(position - previous, 48) * micros / 1000000


# --- One conversion ---------------------------------------------------------------------------


def convert(case, midi_path, track, mode, options):
    out = os.path.join(WORK, case)
    os.makedirs(out, exist_ok=True)
    command = [CLI, "convert", midi_path, "--track", str(track), "--out", out, "--mode", mode] + options
    run = subprocess.run(command, capture_output=True, text=True)
    if run.returncode != 0:
        fail(case, f"zentrowe-cli exited {run.returncode}: {run.stderr.strip()}")
        return None
    base = os.path.splitext(os.path.basename(midi_path))[0]
    return os.path.join(out, base + ".bms"), os.path.join(out, "K-Midi.mid")


def expected_keysounds(notes, measure_ticks, name, start_value, percussion=False):
    """The keysound table in the order notes are handled, with codes and file names."""
    table = {}
    for note in notes:
        duration = 100 if percussion else note["end"] - note["start"]
        identity = (note["note"], duration, note["velocity"])
        if identity not in table:
            length = round_half_even(Fraction(duration * SLOTS, measure_ticks))
            table[identity] = {
                "code": base36(start_value + len(table) + 1),
                "file": f"{name}{note['note']}-{length}-{note['velocity']}.OGG",
                "note": note["note"],
                "duration": duration,
                "velocity": note["velocity"],
            }
        note["keysound"] = table[identity]
    return list(table.values())


def check_chart(case, parsed, song, notes, mode, threshold):
    tpq = song.ticks_per_beat
    measure_ticks = 4 * tpq
    if parsed["warnings"] or parsed["malformed"]:
        fail(case, f"the parser warned {parsed['warnings']} times, {parsed['malformed']} malformed lines")

    tempos = tempo_map(song)
    tempo_positions = sorted(((slot_position(t, measure_ticks), micros) for t, micros in tempos),
                             key=lambda change: change[0])
    slowest = max([micros for _, micros in tempos] + [500000])
    # "#BPM" values carry two decimals: a beat may last up to 0.005 / (BPM - 0.005) longer or shorter.
    relative_error = Fraction(1, 200) / (Fraction(60000000, slowest) - Fraction(1, 200))

    # Expected chart notes, grouped by what the parser lets us tell apart: position and code (two
    # keysounds can share a file name: 191 and 192 ticks both round to 48 slots at 768 a measure).
    expected = {}
    for note in notes:
        position = slot_position(note["start"], measure_ticks)
        held = (note["end"] - note["start"]) * SLOTS // measure_ticks
        is_long = mode == "long" and held > 0 and held >= threshold
        key = (position, note["keysound"]["code"])
        expected.setdefault(key, []).append({"note": note["note"], "long": is_long, "end": position + held})

    by_column = {}
    actual = {}
    for got in parsed["notes"]:
        position = round(got["beat"] * 48)
        if abs(got["beat"] * 48 - position) > 1e-6:
            fail(case, f"note at beat {got['beat']} is not on a slot")
        end = None
        if got["endBeat"] is not None:
            end = round(got["endBeat"] * 48)
            if abs(got["endBeat"] * 48 - end) > 1e-6:
                fail(case, f"long note end at beat {got['endBeat']} is not on a slot")
        seconds = seconds_at(position, tempo_positions)
        if abs(Fraction(got["seconds"]) - seconds) > Fraction(1, 10**6) + seconds * relative_error:
            fail(case, f"note at slot position {position} plays at {got['seconds']} s, the tempo map says {float(seconds)}")
        if got["file"] is None:
            fail(case, f"note at slot position {position} has code {got['code']}, which no #WAV line defines")
        actual.setdefault((position, got["code"].upper()), []).append({"column": got["column"], "end": end})
        if got["column"] is not None:
            by_column.setdefault(got["column"], []).append((position, end))

    for key in sorted(set(expected) | set(actual), key=lambda k: (k[0], k[1] or "")):
        want, have = expected.get(key, []), actual.get(key, [])
        if len(want) != len(have):
            fail(case, f"slot position {key[0]} code {key[1]}: {len(want)} notes in the MIDI track, "
                       f"{len(have)} in the chart")
            continue
        for note, got in zip(want, have):
            own = LANE_COLUMNS[note["note"] % 7]
            seen["long notes"] += got["end"] is not None
            if got["column"] is None:
                seen["background notes"] += 1
                if got["end"] is not None:
                    fail(case, f"slot position {key[0]} {key[1]}: a background note with an end")
                continue
            if got["column"] not in LANE_COLUMNS:
                fail(case, f"slot position {key[0]} {key[1]}: on column {got['column']}, not one of the seven lanes")
            if note["long"] and got["end"] != note["end"]:
                fail(case, f"slot position {key[0]} {key[1]}: long note should end at {note['end']}, ends at {got['end']}")
            if not note["long"] and got["end"] is not None:
                fail(case, f"slot position {key[0]} {key[1]}: a normal note became a long note ending at {got['end']}")
            if got["column"] != own:
                seen["moved notes"] += 1
                # Moved: only because its own lane was taken at that time.
                blockers = [(p, e) for p, e in by_column.get(own, [])
                            if (p == key[0] if mode != "long" else (e if e is not None else p) >= key[0] - 1)]
                if not blockers:
                    fail(case, f"slot position {key[0]} {key[1]}: moved from lane {own} to {got['column']}, "
                               f"which was free")

    if mode == "long":
        for column, spans in by_column.items():
            spans.sort()
            for (start_a, end_a), (start_b, end_b) in zip(spans, spans[1:]):
                if start_b <= (end_a if end_a is not None else start_a):
                    fail(case, f"lane {column}: a note at {start_b} overlaps the one from {start_a} to {end_a}")
            for start, end in spans:
                if end is not None and end <= start:
                    fail(case, f"lane {column}: long note from {start} ends at {end}")
    return expected


def check_wavs(case, parsed, keysounds):
    want = [[entry["code"], entry["file"]] for entry in keysounds]
    if parsed["wavs"] != want:
        fail(case, f"#WAV lines {parsed['wavs'][:5]}... differ from {want[:5]}...")


def check_keysound_midi(case, path, keysounds, song, gap, bpm, mode):
    kmidi = mido.MidiFile(path)
    if kmidi.ticks_per_beat != 96 or len(kmidi.tracks) != 1:
        fail(case, f"K-Midi.mid: {kmidi.ticks_per_beat} ticks per quarter, {len(kmidi.tracks)} tracks")
        return
    if bpm is not None:
        tempo = round_half_even(Fraction(60000000) / Fraction(bpm))
    else:
        tempos = tempo_map(song)
        tempo = tempos[-1][1] if tempos else 500000
    messages = list(kmidi.tracks[0])
    want = [("set_tempo", 0, tempo)]
    for entry in keysounds:
        duration = round_half_even(Fraction(96, song.ticks_per_beat) * entry["duration"])
        want.append(("note_on", gap, entry["note"], entry["velocity"]))
        want.append(("note_on", duration, entry["note"], 0))
    want.append(("end_of_track", gap))
    have = []
    programmed = set()
    for m in messages:
        if m.type in ("control_change", "program_change"):
            if m.time != 0:
                fail(case, f"K-Midi.mid: a {m.type} {m.time} ticks after the event before moves the notes")
            if m.type == "program_change":
                programmed.add(m.channel)
        elif m.type == "set_tempo":
            have.append((m.type, m.time, m.tempo))
        elif m.type in ("note_on", "note_off"):
            if m.channel not in programmed or (mode == "percussion" and m.channel != 9):
                fail(case, f"K-Midi.mid: note {m.note} plays on channel {m.channel + 1} without its program")
            have.append(("note_on", m.time, m.note, m.velocity if m.type == "note_on" else 0))
        else:
            have.append((m.type, m.time))
    if have != want:
        first = next((i for i, (a, b) in enumerate(zip(have, want)) if a != b), min(len(have), len(want)))
        fail(case, f"K-Midi.mid event {first}: {have[first:first + 2]} instead of {want[first:first + 2]}")


def run_case(case, midi_path, track, mode, long_min=24, gap=100, bpm=None, name="A", start_code="00"):
    options = ["--long-min", str(long_min), "--gap", str(gap), "--name", name, "--start-code", start_code]
    if bpm is not None:
        options += ["--bpm", bpm]
    written = convert(case, midi_path, track, mode, options)
    if written is None:
        return None
    song = mido.MidiFile(midi_path)
    percussion = mode == "percussion"
    notes = track_strikes(song, track - 1) if percussion else track_notes(song, track - 1)
    keysounds = expected_keysounds(notes, 4 * song.ticks_per_beat, name, int(start_code, 36), percussion)
    chart, kmidi = written
    check_keysound_midi(case, kmidi, keysounds, song, gap, bpm, mode)
    return chart, (case, song, notes, mode, long_min - 1, keysounds)


# --- Songs ------------------------------------------------------------------------------------


def write_song(path, division, tempos, tracks):
    """tempos: (tick, microseconds); tracks: lists of (tick, kind, channel, note, velocity), with
    kind "on" or "off"; events of one tick keep their list order."""
    song = mido.MidiFile(type=1, ticks_per_beat=division)
    conductor = mido.MidiTrack()
    now = 0
    for tick, micros in tempos:
        conductor.append(mido.MetaMessage("set_tempo", tempo=micros, time=tick - now))
        now = tick
    song.tracks.append(conductor)
    for events in tracks:
        track = mido.MidiTrack()
        now = 0
        for tick, kind, channel, note, velocity in sorted(events, key=lambda e: e[0]):
            kind = "note_on" if kind == "on" else "note_off"
            track.append(mido.Message(kind, channel=channel, note=note, velocity=velocity, time=tick - now))
            now = tick
        song.tracks.append(track)
    song.save(path)
    return path


def note(events, start, length, number, velocity=100, channel=0, off_as_on=False):
    events.append((start, "on", channel, number, velocity))
    if off_as_on:
        events.append((start + length, "on", channel, number, 0))
    else:
        events.append((start + length, "off", channel, number, 64))


def hand_written_songs():
    songs = []
    # 480 ticks: a chord of four notes in one lane (60, 67, 74, 81), notes across bar lines,
    # doubled note-offs, the same note on two channels, a key struck again while it sounds.
    events = []
    for number in (60, 67, 74, 81):
        note(events, 0, 480, number)
    note(events, 1700, 900, 62)            # crosses the first bar line
    note(events, 1920, 100, 62, channel=1)  # same note, another channel
    note(events, 3840, 480, 64)
    events.append((4320, "off", 0, 64, 0))  # a second note-off with nothing pending
    note(events, 4000, 4000, 65)            # struck again while it sounds
    note(events, 4100, 200, 65)
    for k in range(16):                     # every lane at one slot, and more
        note(events, 9600, 240 + 10 * k, 50 + k, velocity=60 + k, off_as_on=True)
    songs.append(("hand480", write_song(os.path.join(WORK, "hand480.mid"), 480,
                                        [(0, 500000), (3840, 400000), (5000, 750000)], [events])))
    # 96 ticks, no Set Tempo: the song plays at 120 BPM and K-Midi.mid gets 500000.
    events = []
    for k in range(40):
        note(events, 24 * k, 12 + (k % 3) * 40, 36 + (k * 5) % 30, velocity=100 - k)
    songs.append(("notempo96", write_song(os.path.join(WORK, "notempo96.mid"), 96, [], [events])))
    return songs


def random_song(seed):
    rng = random.Random(seed)
    division = rng.choice([24, 96, 120, 192, 240, 480, 960, 1000])
    measure = 4 * division
    length = rng.randint(8, 24) * measure
    tempos = [(0, rng.randint(300000, 1000000))] if rng.random() < 0.8 else []
    for _ in range(rng.randint(0, 6)):
        tempos.append((rng.randrange(1, length), rng.randint(250000, 1200000)))
    tempos.sort()
    events = []
    time = 0
    while time < length:
        chord = rng.choice([1, 1, 1, 2, 3, 5, 8])
        base = rng.randint(30, 90)
        for k in range(chord):
            number = base + rng.choice([0, 3, 4, 7, 7, 14, 12, rng.randint(-20, 20)]) if k else base
            number = max(1, min(126, number))
            held = rng.choice([1, division // 8 or 1, division // 4, division // 2, division, 2 * division,
                               rng.randint(1, 6 * division)])
            note(events, time, held, number, velocity=rng.choice([40, 80, 100, 127]),
                 channel=rng.choice([0, 0, 1]), off_as_on=rng.random() < 0.3)
        time += rng.choice([1, division // 16 or 1, division // 4, division // 2, division, rng.randint(1, division)])
    path = write_song(os.path.join(WORK, f"random{seed}.mid"), division, tempos, [events])
    return f"random{seed}", path


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK, exist_ok=True)
    demo = os.path.join(WORK, "ode-to-joy.mid")
    shutil.copyfile(DEMO, demo)

    cases = []  # (case, midi path, track, mode, options)
    songs = GROUP in ("all", "songs")
    for track in (2, 3) if songs else ():
        cases.append((f"demo-track{track}-plain", demo, track, "plain", {}))
        cases.append((f"demo-track{track}-long", demo, track, "long", {}))
    if songs:
        cases.append(("demo-track4-percussion", demo, 4, "percussion", {}))
    for name, path in hand_written_songs() if songs else ():
        cases.append((f"{name}-plain", path, 2, "plain", {"gap": 0, "name": "Keys", "start_code": "0a"}))
        cases.append((f"{name}-long", path, 2, "long", {"gap": 200, "bpm": "140"}))
        cases.append((f"{name}-long-min-1", path, 2, "long", {"long_min": 1}))
    seeds = {"all": range(1, 13), "random": range(1, 13), "random1": range(1, 7), "random2": range(7, 13)}
    for seed in seeds.get(GROUP, ()):
        name, path = random_song(seed)
        rng = random.Random(seed * 7919)
        gap = rng.choice([0, 1, 100, 127, 128, 300])
        cases.append((f"{name}-plain", path, 2, "plain", {"gap": gap}))
        cases.append((f"{name}-long", path, 2, "long",
                      {"gap": gap, "long_min": rng.choice([-3, 0, 1, 2, 12, 24, 48]),
                       "bpm": rng.choice([None, "97.5", "200"])}))
        if seed % 3 == 0:
            cases.append((f"{name}-percussion", path, 2, "percussion", {"gap": gap, "start_code": "1z"}))

    pending = []
    for case, path, track, mode, options in cases:
        done = run_case(case, path, track, mode, **options)
        if done is not None:
            pending.append(done)

    reader = subprocess.run(["node", os.path.join(HERE, "read_charts.js")] + [chart for chart, _ in pending],
                            capture_output=True, text=True)
    if reader.returncode != 0:
        fail("bms parser", reader.stderr.strip())
    else:
        parsed = [json.loads(line) for line in reader.stdout.splitlines()]
        total_notes = 0
        for chart_json, (_, (case, song, notes, mode, threshold, keysounds)) in zip(parsed, pending):
            check_wavs(case, chart_json, keysounds)
            check_chart(case, chart_json, song, notes, mode, threshold)
            total_notes += len(notes)
        print(f"{len(parsed)} charts, {total_notes} notes read back by the bms parser: "
              + ", ".join(f"{count} {kind}" for kind, count in seen.items()))
        # The songs are made to hold every kind; a check that met none of one kind checked nothing.
        for kind, count in seen.items():
            if count == 0:
                fail("all charts", f"no {kind} met, so their checks ran on nothing")

    if failures:
        print(f"{len(failures)} differences:")
        shown = {}
        for case, message in failures:
            shown[case] = shown.get(case, 0) + 1
            if shown[case] <= 5:
                print(f"  {case}: {message}")
            elif shown[case] == 6:
                print(f"  {case}: ...")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
