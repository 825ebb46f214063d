#!/usr/bin/python3
"""Reads files written by programs we did not write, and checks that zentrowe-cli sees in them
what those programs say they hold.

Debian's python3-mido writes a handful of songs (format 0 and 1, several divisions, running
status, sysex, key pressure, long deltas, names in code page 936 and in UTF-8). For every file
we compare `zentrowe-cli tracks` and `zentrowe-cli events` with what mido reads back, and the
note counts and tempo list with what midicsv (a C tool) prints.

Usage: check_readers.py ZENTROWE_CLI WORK_FOLDER
Exit 0 if everything agrees, 1 with a list of differences otherwise, 77 (skipped) if mido or
midicsv is missing.
"""
import os
import random
import shutil
import subprocess
import sys

try:
    import mido
except ImportError:
    print("python3-mido is not installed (scripts/install-deps test installs it)")
    sys.exit(77)

if shutil.which("midicsv") is None:
    print("midicsv is not installed (scripts/install-deps test installs it)")
    sys.exit(77)

CLI = sys.argv[1]
WORK = sys.argv[2]

LABELS = {
    "note_on": "Note on",
    "note_off": "Note off",
    "polytouch": "Key Pressure",
    "control_change": "Control Change ",
    "program_change": "Program Change",
    "aftertouch": "Chan Press",
    "pitchwheel": "Pitch bend",
}


def meta(kind, **fields):
    return mido.MetaMessage(kind, **fields)


def msg(kind, **fields):
    return mido.Message(kind, **fields)


def song_format0():
    """Format 0, 96 ticks: every channel message type on three channels, sysex, running status."""
    track = mido.MidiTrack()
    track.append(meta("track_name", name="Format zero", time=0))
    track.append(meta("set_tempo", tempo=400000, time=0))
    track.append(meta("time_signature", numerator=3, denominator=4, time=0))
    track.append(msg("program_change", channel=0, program=40, time=0))
    track.append(msg("program_change", channel=9, program=0, time=0))
    track.append(msg("sysex", data=[0x7E, 0x7F, 0x09, 0x01], time=0))
    for i in range(24):
        track.append(msg("note_on", channel=0, note=60 + i % 12, velocity=90, time=24 if i else 0))
        track.append(msg("note_on", channel=0, note=60 + i % 12, velocity=0, time=12))  # running status
        track.append(msg("polytouch", channel=1, note=60, value=i, time=0))
        track.append(msg("control_change", channel=1, control=7, value=100 - i, time=0))
        track.append(msg("note_on", channel=9, note=36 + i % 3, velocity=100, time=0))
        track.append(msg("note_off", channel=9, note=36 + i % 3, velocity=0, time=6))
        track.append(msg("aftertouch", channel=2, value=i, time=0))
        track.append(msg("pitchwheel", channel=2, pitch=i * 100 - 8192, time=0))
    track.append(meta("set_tempo", tempo=600000, time=96))
    song = mido.MidiFile(type=0, ticks_per_beat=96)
    song.tracks.append(track)
    return song


def song_format1(division, charset, names, seed):
    """Format 1: a conductor with tempo and key changes, then melody tracks with random notes
    (some deltas written FF xx) and a tempo change inside a later track."""
    rng = random.Random(seed)
    song = mido.MidiFile(type=1, ticks_per_beat=division, charset=charset)
    conductor = mido.MidiTrack()
    conductor.append(meta("track_name", name=names[0], time=0))
    conductor.append(meta("key_signature", key="Eb", time=0))
    for k, tempo in enumerate([500000, 454545, 600000, 250000]):
        conductor.append(meta("set_tempo", tempo=tempo, time=0 if k == 0 else division * 4))
    song.tracks.append(conductor)
    for t, name in enumerate(names[1:]):
        track = mido.MidiTrack()
        track.append(meta("track_name", name=name, time=0))
        channel = 9 if t == 2 else t
        track.append(msg("program_change", channel=channel, program=rng.randrange(128), time=0))
        if t == 1:
            track.append(meta("text", text="第二轨 text" if charset != "latin1" else "second, text", time=0))
            track.append(meta("set_tempo", tempo=750000, time=division * 4))
        for _ in range(rng.randrange(50, 150)):
            note = rng.randrange(128)
            wait = rng.choice([0, 1, division // 2, division, 16256, 16300, 16383, 20000])
            track.append(msg("note_on", channel=channel, note=note, velocity=rng.randrange(1, 128), time=wait))
            track.append(msg("note_off", channel=channel, note=note, velocity=64, time=rng.randrange(1, division)))
        song.tracks.append(track)
    return song


SONGS = {
    "format0-96.mid": song_format0,
    "format1-480-gbk.mid": lambda: song_format1(480, "gbk", ["欢乐颂", "主旋律", "低音 Bass", "鼓组"], 1),
    "format1-960-utf8.mid": lambda: song_format1(960, "utf-8", ["指挥", "小提琴", "大提琴", "打击乐"], 2),
    "format1-24.mid": lambda: song_format1(24, "latin1", ["Conductor", "Lead", "Pad", "Kit"], 3),
    "format1-32767.mid": lambda: song_format1(32767, "utf-8", ["速度", "A", "B", "C"], 4),
}


def run(*args, encoding="utf-8"):
    done = subprocess.run(args, capture_output=True)
    if done.returncode != 0:
        raise RuntimeError("{} failed ({}): {}".format(" ".join(args), done.returncode, done.stderr.decode()))
    return done.stdout.decode(encoding)


def midicsv_view(path):
    """Note counts per track and the tempo list, as midicsv prints them."""
    notes = {}
    tempos = []
    for line in run("midicsv", path, encoding="latin1").splitlines():
        fields = [f.strip() for f in line.split(",")]
        if len(fields) < 3:
            continue
        track, time, kind = int(fields[0]), int(fields[1]), fields[2]
        if kind == "Start_track":
            notes[track] = 0
        elif kind == "Note_on_c" and int(fields[5]) != 0:
            notes[track] += 1
        elif kind == "Tempo":
            tempos.append((time, int(fields[3])))
    return [notes[k] for k in sorted(notes)], sorted(tempos, key=lambda e: e[0])


def check(path, problems):
    name = os.path.basename(path)
    song = mido.MidiFile(path, charset=getattr(check, "charsets")[name])

    def differ(what, ours, theirs):
        if ours == theirs:
            return
        if isinstance(ours, list) and isinstance(theirs, list) and len(ours) == len(theirs):
            at = next(i for i, (a, b) in enumerate(zip(ours, theirs)) if a != b)
            what, ours, theirs = "{} (item {})".format(what, at), ours[at], theirs[at]
        problems.append("{}: {}: zentrowe-cli says {!r}, the other reader {!r}".format(name, what, ours, theirs))

    rows = [line.split("\t") for line in run(CLI, "tracks", path).splitlines()]
    differ("number of tracks", len(rows), len(song.tracks))
    our_tempos = []
    for number, (row, track) in enumerate(zip(rows, song.tracks), start=1):
        label = "track {}".format(number)
        differ(label + " label", row[0], "音轨 {:02d}".format(number))
        differ(label + " note count", int(row[1]),
               sum(1 for m in track if m.type == "note_on" and m.velocity > 0))
        names = [m.name for m in track if m.type == "track_name"]
        differ(label + " name", row[2], names[-1] if names else "")
        programs = [m for m in track if m.type == "program_change"]
        if programs and programs[-1].channel == 9:
            differ(label + " instrument", row[3:], ["打击乐器", "Drums 鼓"])
        else:
            differ(label + " has an instrument", row[4] != "", bool(programs))

        events = [line.split("\t", 2) for line in run(CLI, "events", path, "--track", str(number)).splitlines()]
        differ(label + " event count", len(events), len(track))
        differ(label + " deltas", [int(e[0]) for e in events], [m.time for m in track])
        differ(label + " event labels", [e[1] for e in events],
               ["FF" if m.is_meta or m.type == "sysex" else LABELS[m.type] for m in track])
        time = 0
        for (delta, kind, description), message in zip(events, track):
            time += int(delta)
            if message.type == "set_tempo":
                our_tempos.append((time, int(description.rsplit(" ", 1)[1])))
            if message.type in ("track_name", "text"):
                differ(label + " text", description, message.name if message.type == "track_name" else message.text)
            if message.type in ("note_on", "note_off"):
                differ(label + " note", description.split(" ")[1], "Num={}".format(message.note))

    their_tempos = []
    for track in song.tracks:
        time = 0
        for message in track:
            time += message.time
            if message.type == "set_tempo":
                their_tempos.append((time, message.tempo))
    their_tempos.sort(key=lambda e: e[0])
    our_tempos.sort(key=lambda e: e[0])
    differ("tempo list", our_tempos, their_tempos)

    csv_notes, csv_tempos = midicsv_view(path)
    differ("note counts (midicsv)", [int(r[1]) for r in rows], csv_notes)
    differ("tempo list (midicsv)", our_tempos, csv_tempos)


def main():
    os.makedirs(WORK, exist_ok=True)
    check.charsets = {}
    problems = []
    for name, make in SONGS.items():
        song = make()
        path = os.path.join(WORK, name)
        song.save(path)
        check.charsets[name] = song.charset
        check(path, problems)
    for problem in problems:
        print(problem)
    print("{} files checked, {} differences".format(len(SONGS), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
