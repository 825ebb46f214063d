#!/usr/bin/env python3
"""A 3,000-keysound track converted with --codes 62, read by the npm package bms; 3,844 keysounds
refused with a sentence that counts them.

Usage: NODE_PATH=.../node_modules check_base62.py ZENTROWE_CLI WORK_FOLDER
Exit 0 if the parser sees every note where the song has it, under its base-62 code and with its
keysound file among the parser's definitions for that code; 1 with the differences; 77
(skipped) if mido, node or the package is missing.

The package folds header names to lower case ("#WAV0a" and "#WAV0A" are one header to it, each
value kept in file order), so it cannot tell such two keysounds apart when it plays: the check
asks only that the file is among the values it keeps for the code.
"""

import json
import os
import shutil
import subprocess
import sys

try:
    import mido
except ImportError:
    print("python3-mido is missing")
    sys.exit(77)

NODE_MODULES = os.environ.get("NODE_PATH", "")
if shutil.which("node") is None or not os.path.isdir(os.path.join(NODE_MODULES, "bms")):
    print("node or the npm package bms is missing")
    sys.exit(77)

DIGITS = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"

READER = r"""
const fs = require('fs')
const bms = require('bms')
const compiled = bms.Compiler.compile(bms.Reader.read(fs.readFileSync(process.argv[1])))
const chart = compiled.chart
const notes = bms.Notes.fromBMSChart(chart).all().map((n) => [n.beat, n.keysound])
const codes = [...new Set(notes.map((n) => n[1]))]
const files = {}
for (const code of codes) files[code] = chart.headers.getAll('wav' + code) || []
process.stdout.write(JSON.stringify({warnings: compiled.warnings.length,
  malformed: compiled.malformedSentences, base: chart.headers.get('base'), notes, files}))
"""


def write_song(path, count):
    """Keysound k: note 30 + k mod 60 at velocity 1 + k // 60, 120 ticks from tick 240 k."""
    track = mido.MidiTrack()
    track.append(mido.MetaMessage("set_tempo", tempo=500000, time=0))
    now = 0
    for k in range(count):
        note, velocity = 30 + k % 60, 1 + k // 60
        track.append(mido.Message("note_on", note=note, velocity=velocity, time=240 * k - now))
        track.append(mido.Message("note_off", note=note, velocity=64, time=120))
        now = 240 * k + 120
    song = mido.MidiFile(type=0, ticks_per_beat=480)
    song.tracks.append(track)
    song.save(path)


def main():
    cli, work = sys.argv[1], sys.argv[2]
    os.makedirs(work, exist_ok=True)
    problems = []

    midi = os.path.join(work, "keysounds3000.mid")
    write_song(midi, 3000)
    out = os.path.join(work, "base62")
    run = subprocess.run([cli, "convert", midi, "--track", "1", "--out", out, "--codes", "62"],
                         capture_output=True, text=True)
    if run.returncode != 0:
        print("convert failed:", run.stderr)
        return 1
    chart = os.path.join(out, "keysounds3000.bms")
    read = subprocess.run(["node", "-e", READER, chart], capture_output=True, text=True)
    if read.returncode != 0:
        print("the parser failed:", read.stderr)
        return 1
    parsed = json.loads(read.stdout)
    if parsed["warnings"] or parsed["malformed"]:
        problems.append(f"{parsed['warnings']} warnings, {parsed['malformed']} malformed lines")
    if parsed["base"] != "62":
        problems.append(f"#BASE read as {parsed['base']!r}")
    notes = sorted(parsed["notes"])
    if len(notes) != 3000:
        problems.append(f"{len(notes)} notes, not 3000")
    for k, (beat, code) in enumerate(notes[:3000]):
        expected_code = DIGITS[(k + 1) // 62] + DIGITS[(k + 1) % 62]
        expected_file = f"A{30 + k % 60}-12-{1 + k // 60}.OGG"
        if beat != k / 2 or code != expected_code:
            problems.append(f"keysound {k}: beat {beat} code {code}, expected beat {k / 2} code {expected_code}")
        elif expected_file not in parsed["files"].get(code, []):
            problems.append(f"code {code}: {expected_file} not among {parsed['files'].get(code)}")
        if len(problems) > 10:
            break

    midi = os.path.join(work, "keysounds3844.mid")
    write_song(midi, 3844)
    refused = os.path.join(work, "refused")
    run = subprocess.run([cli, "convert", midi, "--track", "1", "--out", refused, "--codes", "62"],
                         capture_output=True, text=True)
    if run.returncode != 1 or "the track has 3844 keysounds" not in run.stderr or "bmson" not in run.stderr:
        problems.append(f"3844 keysounds: exit {run.returncode}, stderr {run.stderr!r}")
    if os.path.exists(os.path.join(refused, "keysounds3844.bms")):
        problems.append("3844 keysounds: a chart was written")

    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
