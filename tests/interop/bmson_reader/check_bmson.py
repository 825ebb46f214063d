#!/usr/bin/python3
"""Converts songs with zentrowe-cli into bmson charts and reads them back with the npm package
"bmson" (the reader web players use; we did not write it), next to the same songs' BMS charts
read with the npm package "bms".

The songs: the demo song's tracks, seeded random songs (several divisions, tempo changes,
chords, overlapping and held notes), a song of 2,000 keysounds and a song with notes past
measure 999, in plain, long-note and percussion mode. What each chart must hold is worked out
here from the MIDI notes as mido reads them:

- every Note On is a bmson note at its exact tick (y; beat y / division in the reader), in the
  sound channel of its keysound, named name + note + "-" + length in 1/192 of a measure (ties to
  even) + "-" + velocity + ".ogg"; a note ends at the oldest open Note On of its channel and
  note, and in percussion mode every keysound is 100 ticks long;
- a long note is held for exactly its MIDI length in ticks;
- the bmson chart holds the same notes in the same lanes as the BMS chart of the same song:
  flooring each bmson start (and long-note end) to its 1/192 of a measure gives the BMS chart's
  notes, column for column;
- the first tempo and every later change are 60,000,000 / microseconds exactly, at their tick;
- the BMS chart of the 2,000-keysound song and of the song past measure 999 is refused, the
  bmson one holds every note.

Usage: [NODE_PATH=.../node_modules] check_bmson.py ZENTROWE_CLI DEMO_MIDI WORK_FOLDER
Exit 0 if every chart agrees, 1 with a list of differences, 77 (skipped) if mido or node or the
npm packages are missing.
"""
import collections
import json
import os
import random
import re
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
NODE_MODULES = os.environ.get("NODE_PATH") or os.path.join(HERE, "node_modules")
if shutil.which("node") is None or not all(os.path.isdir(os.path.join(NODE_MODULES, p)) for p in ("bms", "bmson")):
    print("node or the npm packages bms and bmson are missing (scripts/install-deps test; npm ci --prefix "
          "FOLDER with this folder's package files, then NODE_PATH=FOLDER/node_modules)")
    sys.exit(77)

CLI, DEMO, WORK = sys.argv[1], sys.argv[2], sys.argv[3]
# Which songs to check, so that CTest can run them as tests of their own: demo (with a build of
# it), random (random1: seeds 1 to 4, random2: 5 to 8), limits, or all of them.
GROUP = sys.argv[4] if len(sys.argv) > 4 else "all"


def wanted(group):
    return GROUP in ("all", group)
COLUMNS = {0: None, 1: "1", 2: "2", 3: "3", 4: "4", 5: "5", 6: "6", 7: "7", 8: "SC"}

failures = []


def fail(case, message):
    failures.append((case, message))


def round_half_even(value):
    return round(Fraction(value))


# --- What the MIDI file holds ------------------------------------------------------------------


def tempo_changes(song):
    changes = []
    for track in song.tracks:
        now = 0
        for message in track:
            now += message.time
            if message.type == "set_tempo":
                changes.append((now, message.tempo))
    return sorted(changes, key=lambda change: change[0])


def track_notes(song, index, percussion):
    """(start, end, note, velocity) of every note the chart holds, ends paired oldest first."""
    now = 0
    open_notes = collections.defaultdict(collections.deque)
    notes = []
    for message in song.tracks[index]:
        now += message.time
        if message.type not in ("note_on", "note_off") or not 0 < message.note < 127:
            continue
        key = (message.channel, message.note)
        if message.type == "note_on" and message.velocity > 0:
            if percussion:
                notes.append((now, now + 100, message.note, message.velocity))
            else:
                open_notes[key].append((now, message.velocity))
        elif open_notes[key]:
            start, velocity = open_notes[key].popleft()
            notes.append((start, now, message.note, velocity))
    for key, starts in open_notes.items():
        notes += [(start, now, key[1], velocity) for start, velocity in starts]
    return notes


def keysound_file(note, duration, velocity, measure_ticks):
    return f"A{note}-{round_half_even(Fraction(duration * 192, measure_ticks))}-{velocity}.ogg"


# --- Running the converter and the readers -----------------------------------------------------


def convert(case, midi_path, track, mode, chart_format):
    out = os.path.join(WORK, case, chart_format)
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    command = [CLI, "convert", midi_path, "--track", str(track), "--out", out, "--mode", mode, "--long-min", "4",
               "--chart-format", chart_format]
    run = subprocess.run(command, capture_output=True, text=True)
    base = os.path.splitext(os.path.basename(midi_path))[0]
    return run, os.path.join(out, base + "." + chart_format)


def read_charts(paths):
    reader = subprocess.run(["node", os.path.join(HERE, "read_bmson.js")] + paths, capture_output=True, text=True)
    if reader.returncode != 0:
        fail("reader", reader.stderr.strip())
        return {}
    return {read["path"]: read for read in map(json.loads, reader.stdout.splitlines())}


# --- Checks ------------------------------------------------------------------------------------


def slot_beat(tick, measure_ticks):
    """The beat of a tick floored to its 1/192 of a measure, as the BMS chart places it."""
    slots = tick // measure_ticks * 192 + (tick % measure_ticks) * 192 // measure_ticks
    return Fraction(slots * 4, 192)


def check(case, song, title, notes, mode, bmson, bms):
    division = song.ticks_per_beat
    measure_ticks = 4 * division
    raw = bmson["raw"]
    info = raw["info"]
    if raw.get("version") != "1.0.0" or info.get("mode_hint") != "beat-7k" or info.get("resolution") != division \
            or info.get("judge_rank") != 100 or info.get("total") != 100 or bmson["title"] != title \
            or "artist" in info:
        fail(case, f"version or info: {raw.get('version')} {info}")

    # Every note at its exact tick with its keysound; long notes held exactly.
    want = collections.Counter((start, keysound_file(note, end - start, velocity, measure_ticks))
                               for start, end, note, velocity in notes)
    got = collections.Counter((n["y"], channel["name"]) for channel in raw["sound_channels"] for n in channel["notes"])
    if want != got:
        fail(case, f"notes: missing {list((want - got).items())[:5]}, extra {list((got - want).items())[:5]}")
    lengths = collections.Counter((start, keysound_file(note, end - start, velocity, measure_ticks), end - start)
                                  for start, end, note, velocity in notes)
    long_notes = collections.Counter((n["y"], channel["name"], n["l"]) for channel in raw["sound_channels"]
                                     for n in channel["notes"] if n["l"] != 0)
    if long_notes - lengths or (mode != "long" and long_notes):
        fail(case, f"long notes not held as long as their MIDI notes: {list((long_notes - lengths).items())[:5]}")
    if any(n["c"] is not False or n["x"] not in COLUMNS for channel in raw["sound_channels"] for n in channel["notes"]):
        fail(case, "a note with c other than false or a lane out of 0..8")

    # What the reader makes of it: beats y / division, columns as the lanes say.
    read = collections.Counter((Fraction(n["beat"]), n["column"], n["file"],
                                None if n["endBeat"] is None else Fraction(n["endBeat"])) for n in bmson["notes"])
    wanted = collections.Counter((Fraction(n["y"] / division), COLUMNS[n["x"]], channel["name"],
                                  None if n["l"] == 0 else Fraction((n["y"] + n["l"]) / division))
                                 for channel in raw["sound_channels"] for n in channel["notes"])
    if read != wanted:
        fail(case, f"the reader sees other notes: {list((read - wanted).items())[:3]} "
                   f"for {list((wanted - read).items())[:3]}")

    # The same notes in the same lanes as the BMS chart, once floored to its slots.
    floored = collections.Counter((slot_beat(n["y"], measure_ticks), COLUMNS[n["x"]], channel["name"].lower(),
                                   None if n["l"] == 0 else
                                   slot_beat(n["y"], measure_ticks) +
                                   Fraction(4 * (n["l"] * 192 // measure_ticks), 192))
                                  for channel in raw["sound_channels"] for n in channel["notes"])
    in_bms = collections.Counter((Fraction(n["beat"]).limit_denominator(192), n["column"], n["file"].lower(),
                                  None if n["endBeat"] is None else Fraction(n["endBeat"]).limit_denominator(192))
                                 for n in bms["notes"])
    if floored != in_bms:
        fail(case, f"lanes differ from the BMS chart: {list((floored - in_bms).items())[:3]} "
                   f"against {list((in_bms - floored).items())[:3]}")

    # Tempos exact, at their ticks.
    changes = tempo_changes(song)
    last = max(start for start, _, _, _ in notes)
    initial = [micros for tick, micros in changes if tick == 0]
    want_initial = 60000000 / (initial[-1] if initial else 500000)
    want_tempos = [[tick / division, 60000000 / micros] for tick, micros in changes if 0 < tick <= last]
    if bmson["initialBPM"] != want_initial or bmson["tempos"] != want_tempos:
        fail(case, f"tempos {bmson['initialBPM']} {bmson['tempos']}, want {want_initial} {want_tempos}")
    bars = bmson["barLines"]
    if bars != [4.0 * k for k in range(len(bars))] or bars[-1] * division <= last:
        fail(case, f"bar lines {bars[:4]}...{bars[-2:]} do not reach past tick {last}")


def check_build():
    """`build` with convert's lanes and the full track (`--lanes seed --difficulties insane`) writes
    the bmson chart `convert` writes, but for its title, artist, the extension of its sound files
    (each one present), the BGM slices after them, the first at the start, and the whole measures
    of lead-in before everything."""
    case = "build-demo-2"
    out = os.path.join(WORK, case)
    shutil.rmtree(out, ignore_errors=True)
    run = subprocess.run([CLI, "build", DEMO, "--track", "2", "--out", out, "--chart-format", "bmson", "--format",
                          "wav", "--title", "Ode \"\u6b22\"", "--artist", "Us", "--lanes", "seed",
                          "--difficulties", "insane", "--bgm", "slices"], capture_output=True, text=True)
    if run.returncode != 0:
        fail(case, f"zentrowe-cli exited {run.returncode}: {run.stderr.strip()}")
        return
    with open(os.path.join(out, "ode-to-joy_X.bmson"), encoding="utf-8") as built_file, \
            open(os.path.join(WORK, "demo-2-plain", "bmson", "ode-to-joy.bmson"), encoding="utf-8") as converted_file:
        built, converted = json.load(built_file), json.load(converted_file)
    if (built["info"]["title"], built["info"]["artist"]) != ("Ode \"\u6b22\"", "Us"):
        fail(case, f"title and artist {built['info']}")
    channels = built["sound_channels"]
    sounds = [channel for channel in channels if not channel["name"].startswith("bgm-")]
    slices = channels[len(sounds):]
    starts = [channel["notes"][0]["y"] if len(channel["notes"]) == 1 else -1 for channel in slices]
    measure = 4 * built["info"]["resolution"]
    lead = starts[0] if starts else 0
    if (not slices or [c["name"] for c in slices] != [f"bgm-{i + 1:03}.wav" for i in range(len(slices))]
            or lead <= 0 or lead % measure != 0 or starts != sorted(set(starts))
            or any(c["notes"][0] != {"x": 0, "y": c["notes"][0]["y"], "l": 0, "c": False} for c in slices)):
        fail(case, f"the BGM slices are not bgm-001.wav at the start and on, one note each: {slices}")
    # The build renders each note as long as it lasts in seconds under the song's four tempos, so
    # it tells convert's keysounds apart by their sounding length ("-s38"); merged back by name,
    # they hold convert's notes.
    def by_name(sound_channels, shift):
        notes = {}
        for channel in sound_channels:
            name = re.sub(r"-s[0-9]+$", "", channel["name"][:-4]) + ".wav"
            notes.setdefault(name, []).extend(dict(note, y=note["y"] + shift) for note in channel["notes"])
        return {name: sorted(held, key=lambda note: (note["y"], note["x"])) for name, held in notes.items()}

    if (by_name(sounds, 0) != by_name(converted["sound_channels"], lead)
            or any(not os.path.isfile(os.path.join(out, c["name"])) for c in channels)):
        fail(case, "the sound channels are not those of convert, named after the WAV files written")


# --- Songs -------------------------------------------------------------------------------------


def write_song(path, division, tempos, events):
    """tempos: (tick, microseconds); events: (tick, kind, channel, note, velocity) of track 2."""
    song = mido.MidiFile(type=1, ticks_per_beat=division)
    for items, make in ((tempos, lambda item: mido.MetaMessage("set_tempo", tempo=item[1], time=0)),
                        (events, lambda item: mido.Message("note_on" if item[1] == "on" else "note_off",
                                                           channel=item[2], note=item[3], velocity=item[4]))):
        track = mido.MidiTrack()
        now = 0
        for item in sorted(items, key=lambda item: item[0]):
            message = make(item)
            message.time = item[0] - now
            now = item[0]
            track.append(message)
        song.tracks.append(track)
    song.save(path)


def random_song(seed):
    rng = random.Random(seed)
    division = rng.choice([1, 7, 96, 480, 960, 384])
    events = []
    now = 0
    for _ in range(rng.randint(60, 160)):
        now += rng.choice([0, 0, 1, division // 4 or 1, division // 3 or 1, division, 2 * division, rng.randint(1, 9)])
        for _ in range(rng.choice([1, 1, 1, 2, 4, 8])):
            note = rng.randint(30, 90)
            length = rng.choice([1, division // 2 or 1, division, 3 * division, rng.randint(1, 6 * division + 1)])
            channel = rng.choice([0, 0, 1])
            events.append((now, "on", channel, note, rng.choice([40, 64, 100, 127])))
            events.append((now + length, "off", channel, note, 0))
    tempos = [(0, rng.choice([500000, 428571, 333333, 612345]))] if seed % 3 else []
    tempos += sorted({(rng.randint(1, now), rng.choice([300000, 517241, 600001, 1000000]))
                      for _ in range(seed % 4 * 3)})
    return division, tempos, events


def main():
    os.makedirs(WORK, exist_ok=True)
    cases = []  # (case, midi path, track, mode)
    demo = mido.MidiFile(DEMO)
    for index, track in enumerate(demo.tracks if wanted("demo") else []):
        if any(message.type == "note_on" for message in track):
            for mode in ("plain", "long", "percussion"):
                cases.append((f"demo-{index + 1}-{mode}", DEMO, index + 1, mode))
    for seed in [seed for seed in range(1, 9) if wanted("random") or wanted(f"random{(seed - 1) // 4 + 1}")]:
        path = os.path.join(WORK, f"random{seed}.mid")
        write_song(path, *random_song(seed))
        for mode in ("plain", "long", "percussion"):
            cases.append((f"random{seed}-{mode}", path, 2, mode))

    # Past the BMS limits: 2,000 distinct keysounds, and notes in measures 1,000 and 1,500.
    many = os.path.join(WORK, "keysounds2000.mid")
    write_song(many, 480, [(0, 500000)], [event for k in range(2000) for event in
                                           ((120 * k, "on", 0, 40 + k % 40, 1 + k // 40),
                                            (120 * k + 10, "off", 0, 40 + k % 40, 0))])
    late = os.path.join(WORK, "measure1500.mid")
    write_song(late, 4, [(0, 400000), (16 * 1200 + 5, 700000)],
               [(0, "on", 0, 60, 90), (1, "off", 0, 60, 0),
                (16 * 999 + 3, "on", 0, 61, 90), (16 * 999 + 9, "off", 0, 61, 0),
                (16 * 1500 + 7, "on", 0, 62, 90), (16 * 1501 + 2, "off", 0, 62, 0),
                (16 * 1500 + 7, "on", 0, 69, 91), (16 * 1500 + 8, "off", 0, 69, 0)])
    for path, name in ((many, "keysounds2000"), (late, "measure1500")) if wanted("limits") else []:
        for mode in ("plain", "long", "percussion"):
            case = f"{name}-{mode}"
            refused, _ = convert(case, path, 2, mode, "bms")
            if refused.returncode == 0:
                fail(case, "the BMS chart was not refused")
            cases.append((case, path, 2, mode))

    pending = []
    for case, path, track, mode in cases:
        charts = []
        for chart_format in ("bmson", "bms"):
            if chart_format == "bms" and case.startswith(("keysounds2000", "measure1500")):
                charts.append(None)
                continue
            run, chart = convert(case, path, track, mode, chart_format)
            if run.returncode != 0:
                fail(case, f"{chart_format}: zentrowe-cli exited {run.returncode}: {run.stderr.strip()}")
                break
            charts.append(chart)
        else:
            pending.append((case, path, track, mode, charts))
    reads = read_charts([chart for *_, charts in pending for chart in charts if chart is not None])
    for case, path, track, mode, (bmson_path, bms_path) in pending:
        song = mido.MidiFile(path)
        title = os.path.splitext(os.path.basename(path))[0]
        notes = track_notes(song, track - 1, mode == "percussion")
        if bmson_path not in reads:
            fail(case, "not read")
            continue
        bms = reads.get(bms_path) if bms_path else None
        if bms is None:
            # No BMS chart to compare lanes with: every note still keeps its exact tick.
            bms = {"notes": [{"beat": float(slot_beat(n["y"], 4 * song.ticks_per_beat)), "column": COLUMNS[n["x"]],
                              "file": c["name"], "endBeat": None if n["l"] == 0 else
                              float(slot_beat(n["y"], 4 * song.ticks_per_beat) +
                                    Fraction(4 * (n["l"] * 192 // (4 * song.ticks_per_beat)), 192))}
                             for c in reads[bmson_path]["raw"]["sound_channels"] for n in c["notes"]]}
            if len(reads[bmson_path]["raw"]["sound_channels"]) != len({keysound_file(note, end - start, velocity,
                                                                                     4 * song.ticks_per_beat)
                                                                      for start, end, note, velocity in notes}):
                fail(case, "not one sound channel per keysound")
        check(case, song, title, notes, mode, reads[bmson_path], bms)

    if wanted("demo"):  # compares a build with the demo's converted chart
        check_build()

    if failures:
        for case, message in failures:
            print(f"{case}: {message}")
        return 1
    print(f"{len(pending)} bmson charts agree with their songs, their readers and their BMS charts")
    return 0


sys.exit(main())
