#!/usr/bin/env python3
"""Reads BMS charts on its own (no code of zentrowe) and prints what a player meets in each.

Usage: chart_stats.py FOLDER_OR_CHART...

Per chart: lane notes, the share of them whose lane had a note less than 250 ms before (a
repeat), chord notes among those repeats, the share of key notes on keys 3-5, pairs of lane
notes 0.5-30 ms apart, notes per second (lane notes over the time from the first to the last
sounding object), long notes under 200 ms, presses within 80 ms after a release in the same
lane, and #PLAYLEVEL. Exits 1 if a chart breaks a rule the set is built to keep.
"""

import bisect
import re
import sys
from fractions import Fraction
from pathlib import Path

KEY_CHANNELS = {"11": 1, "12": 2, "13": 3, "14": 4, "15": 5, "18": 6, "19": 7, "16": 8}
REPEAT_BUDGET = {"1": 0.05, "2": 0.05, "3": 0.15, "4": 0.30, "5": 0.45}
NAMES = {"1": "B", "2": "N", "3": "H", "4": "A", "5": "X"}


def read_chart(path):
    header = {}
    bpms = {}
    stops = {}
    lengths = {}
    objects = []  # (measure, fraction, channel, code)
    for raw in path.read_bytes().decode("latin-1").splitlines():
        line = raw.strip()
        m = re.match(r"#(\d{3})([0-9A-Za-z]{2}):(.*)$", line)
        if m:
            measure, channel, data = int(m.group(1)), m.group(2).upper(), m.group(3).strip()
            if channel == "02":
                lengths[measure] = Fraction(data)
                continue
            count = len(data) // 2
            for k in range(count):
                code = data[2 * k:2 * k + 2]
                if code != "00":
                    objects.append((measure, Fraction(k, count), channel, code))
            continue
        m = re.match(r"#(BPM|STOP)([0-9A-Za-z]{2})\s+(\S+)", line, re.I)
        if m:
            (bpms if m.group(1).upper() == "BPM" else stops)[m.group(2).upper()] = float(m.group(3))
            continue
        m = re.match(r"#(\w+)\s*(.*)$", line)
        if m:
            header[m.group(1).upper()] = m.group(2).strip()
    return header, bpms, stops, lengths, objects


def timed(header, bpms, stops, lengths, objects):
    """Each object with its time in seconds, walking tempo changes and stops in order."""
    def beat(measure, fraction):
        return 4 * (sum(lengths.get(m, Fraction(1)) for m in range(measure)) + lengths.get(measure, Fraction(1)) * fraction)

    events = []  # (beat, order, kind, value)
    for measure, fraction, channel, code in objects:
        at = beat(measure, fraction)
        if channel == "03":
            events.append((at, 0, "bpm", float(int(code, 16))))
        elif channel == "08":
            events.append((at, 0, "bpm", bpms[code.upper()]))
        elif channel == "09":
            events.append((at, 2, "stop", stops[code.upper()]))
    events.sort()
    tempo = float(header.get("BPM", 130))
    out = []
    marks = [(Fraction(0), 0.0, tempo)]  # beat, seconds, tempo from there
    seconds, last, stopped = 0.0, Fraction(0), 0.0
    for at, _, kind, value in events:
        seconds += float(at - last) * 60 / tempo
        last = at
        if kind == "bpm":
            tempo = value
        else:
            seconds += value / 192 * 4 * 60 / tempo
        marks.append((at, seconds, tempo))
    keys = [m[0] for m in marks]
    for measure, fraction, channel, code in objects:
        at = beat(measure, fraction)
        i = bisect.bisect_right(keys, at) - 1
        mark = marks[i]
        out.append((mark[1] + float(at - mark[0]) * 60 / mark[2], channel, code))
    return out


def stats(path):
    header, bpms, stops, lengths, objects = read_chart(path)
    timed_objects = timed(header, bpms, stops, lengths, objects)
    presses = []  # (seconds, lane)
    long_notes = []  # (start, end, lane)
    open_long = {}
    sounding = []
    for seconds, channel, code in sorted(timed_objects):
        if channel in KEY_CHANNELS:
            presses.append((seconds, KEY_CHANNELS[channel]))
        elif channel[0] == "5" and channel[1:] and ("1" + channel[1]) in KEY_CHANNELS:
            lane = KEY_CHANNELS["1" + channel[1]]
            if lane in open_long:
                long_notes.append((open_long.pop(lane), seconds, lane))
                continue
            open_long[lane] = seconds
            presses.append((seconds, lane))
        elif channel != "01":
            continue
        sounding.append(seconds)
    presses.sort()
    notes = len(presses)
    last_in_lane = {}
    repeats = chord_repeats = 0
    times = [p[0] for p in presses]
    for k, (seconds, lane) in enumerate(presses):
        if lane in last_in_lane and seconds - last_in_lane[lane] < 0.25:
            repeats += 1
            chord = (k > 0 and abs(times[k - 1] - seconds) < 1e-6) or (k + 1 < notes and abs(times[k + 1] - seconds) < 1e-6)
            chord_repeats += 1 if chord else 0
        last_in_lane[lane] = seconds
    key_notes = sum(1 for _, lane in presses if lane <= 7)
    middle = sum(1 for _, lane in presses if 3 <= lane <= 5)
    close_pairs = 0
    for k, seconds in enumerate(times):
        j = bisect.bisect_left(times, seconds + 0.0005, k + 1)
        close_pairs += bisect.bisect_right(times, seconds + 0.030, j) - j
    span = max(1.0, (max(sounding) - min(sounding)) if sounding else 1.0)
    short_long = sum(1 for s, e, _ in long_notes if e - s < 0.2 - 1e-6)
    represses = 0
    for start, end, lane in long_notes:
        represses += sum(1 for seconds, other in presses if other == lane and end <= seconds < end + 0.08 - 1e-6)
    return {
        "chart": path.name, "difficulty": header.get("DIFFICULTY", "?"), "level": header.get("PLAYLEVEL", "?"),
        "notes": notes, "repeats": repeats / notes if notes else 0.0, "chordRepeats": chord_repeats,
        "middle": middle / key_notes if key_notes else 0.0, "closePairs": close_pairs, "nps": notes / span,
        "longNotes": len(long_notes), "shortLong": short_long, "represses": represses,
    }


def main(arguments):
    charts = []
    for argument in arguments:
        path = Path(argument)
        charts += sorted(path.glob("*.bms")) if path.is_dir() else [path] if path.exists() else []
    failed = False
    print(f"{'chart':28} {'lvl':>3} {'notes':>6} {'rep250':>6} {'chordrep':>8} {'keys3-5':>7} {'pairs<30ms':>10} "
          f"{'notes/s':>7} {'LN':>5} {'LN<200':>6} {'re<80':>5}")
    levels = {}
    for chart in charts:
        s = stats(chart)
        budget = REPEAT_BUDGET.get(s["difficulty"], 1.0)
        bad = (s["repeats"] > budget + 1e-9 or s["middle"] > 0.60 or s["closePairs"] > 0 or s["shortLong"] > 0
               or s["represses"] > 0 or (s["difficulty"] == "5" and s["nps"] > 20)
               or (s["difficulty"] in ("1", "2", "3") and s["chordRepeats"] > 0))
        failed |= bad
        levels.setdefault(chart.parent, []).append((s["difficulty"], s["level"]))
        print(f"{s['chart'][:28]:28} {s['level']:>3} {s['notes']:>6} {s['repeats']:>6.3f} {s['chordRepeats']:>8} "
              f"{s['middle']:>7.3f} {s['closePairs']:>10} {s['nps']:>7.2f} {s['longNotes']:>5} {s['shortLong']:>6} "
              f"{s['represses']:>5}{'  FAIL' if bad else ''}")
    for folder, set_levels in levels.items():
        ordered = [int(level) for _, level in sorted(set_levels) if level.isdigit()]
        rising = all(a < b for a, b in zip(ordered, ordered[1:]))
        failed |= not rising
        print(f"{folder.name}: levels {ordered} {'strictly rising' if rising else 'NOT strictly rising'}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
