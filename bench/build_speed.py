#!/usr/bin/env python3
"""Times whole-song builds, first and again, against oggenc encoding the same renders.

For each song: a first build with an empty cache, a rebuild that changes only --difficulties
(every sound is kept from the first), and the same rebuild with --no-cache, whose folder must be
byte for byte the cached one's; then oggenc (vorbis-tools) encodes, in stereo at the build's
quality and on every core, the renders the first build kept. Peak memory is each build's own.

oggenc runs as one process per file, --jobs of them at once (every core by default), each file
stereo at the build's quality (-q 5 is its 0.5).

Songs: the demo (track 2), rock1 --track 4 (/usr/share/mma/lib/pflib/rock1.mid, package mma),
band, a generated General MIDI song of 25 tracks and 3 minutes (bench/band_song.py, --track 2, its
lead), and any MIDI file given as NAME=PATH:TRACK with --song.

  bench/build_speed.py --cli build/rel/src/cli/zentrowe-cli [--only demo,rock1,band] [--jobs N] [--first-only]
                       [--song gm=/work/songs/gmstriving.mid:2]

A benchmark is a command, never a test: nothing here runs under CTest.
"""
import argparse
import filecmp
import os
import resource
import shutil
import struct
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

import band_song

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

ENTRY_TAG = b"ZWKEPT\r\n"


def run(arguments, env):
    """Seconds, processor seconds (user and system) and peak resident megabytes of one command,
    which must succeed."""
    start = time.monotonic()
    child = subprocess.Popen(arguments, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(child.pid, 0)
    seconds = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(" ".join(arguments) + " failed:\n" + child.stderr.read().decode(errors="replace"))
    return seconds, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024


def same_folders(first, second):
    names = sorted(os.listdir(first))
    if names != sorted(os.listdir(second)):
        return False
    _, mismatch, errors = filecmp.cmpfiles(first, second, [n for n in names if os.path.isfile(os.path.join(first, n))],
                                          shallow=False)
    return not mismatch and not errors


def kept_renders(cache, into):
    """The renders a build kept, as 32-bit float stereo WAV files for oggenc (which reads them as
    they are: no conversion in Python, which took minutes for a big song)."""
    files = []
    folder = os.path.join(cache, "zentrowe", "renders")
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as entry:
            data = entry.read()
        if not data.startswith(ENTRY_TAG):
            continue
        key_length = struct.unpack_from("<I", data, 12)[0]
        offset = 16 + key_length + 16
        size = (len(data) - offset) // 8 * 8
        if size == 0:
            continue  # a silent sound is never written
        header = (b"RIFF" + struct.pack("<I", 36 + size) + b"WAVEfmt " +
                  struct.pack("<IHHIIHH", 16, 3, 2, 44100, 44100 * 8, 8, 32) + b"data" + struct.pack("<I", size))
        path = os.path.join(into, name + ".wav")
        with open(path, "wb") as out:
            out.write(header)
            out.write(data[offset:offset + size])
        files.append(path)
    return files


def oggenc_seconds(files, jobs):
    """Seconds and processor seconds of oggenc over `files`."""
    def encode(path):
        subprocess.run(["oggenc", "-Q", "-q", "5", "-o", path + ".ogg", path], check=True)
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    with ThreadPoolExecutor(jobs) as pool:
        list(pool.map(encode, files))
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
    return time.monotonic() - start, cpu


def bench(name, midi, tracks, cli, jobs, scratch, first_only):
    cache = os.path.join(scratch, name + "-cache")
    env = dict(os.environ, XDG_CACHE_HOME=cache)
    base = [cli, "build", midi, "--track", tracks, "--jobs", str(jobs)]
    first, first_cpu, first_mb = run(base + ["--out", os.path.join(scratch, name + "-first")], env)
    raw = os.path.join(scratch, name + "-raw")
    os.makedirs(raw)
    files = kept_renders(cache, raw)
    ogg, ogg_cpu = oggenc_seconds(files, jobs)
    # Processor seconds too: on a loaded machine they move less than the clock's.
    line = (f"{name:6} first {first:7.2f} s, {first_cpu:6.2f} cpu s ({first_mb:4.0f} MB)  oggenc {len(files)} renders "
            f"{ogg:7.2f} s, {ogg_cpu:6.2f} cpu s  first build {first / ogg:4.2f}x ({first_cpu / ogg_cpu:4.2f}x cpu)")
    if not first_only:
        again_args = ["--difficulties", "normal,hyper"]
        # Into the first build's folder, as an author rebuilds, and into a new one.
        again, again_cpu, _ = run(base + again_args + ["--out", os.path.join(scratch, name + "-first")], env)
        fresh, fresh_cpu, _ = run(base + again_args + ["--out", os.path.join(scratch, name + "-again")], env)
        plain, _, plain_mb = run(base + again_args + ["--no-cache", "--out", os.path.join(scratch, name + "-plain")],
                                 env)
        same = same_folders(os.path.join(scratch, name + "-again"), os.path.join(scratch, name + "-plain")) and \
            same_folders(os.path.join(scratch, name + "-first"), os.path.join(scratch, name + "-plain"))
        line += (f"  again {again:6.2f} s ({100 * again / first:4.1f} %; cpu {100 * again_cpu / first_cpu:4.1f} %)"
                 f"  again elsewhere {fresh:6.2f} s ({100 * fresh / first:4.1f} %; cpu {100 * fresh_cpu / first_cpu:4.1f} %)"
                 f"  no cache {plain:7.2f} s ({plain_mb:4.0f} MB)  same bytes {'yes' if same else 'NO'}")
    print(line, flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", default=os.path.join(ROOT, "build", "rel", "src", "cli", "zentrowe-cli"))
    parser.add_argument("--only", default="demo,rock1,band")
    parser.add_argument("--song", action="append", default=[], help="NAME=PATH:TRACK, measured after --only")
    parser.add_argument("--jobs", type=int, default=os.cpu_count())
    parser.add_argument("--first-only", action="store_true", help="no rebuilds: the first build against oggenc")
    args = parser.parse_args()
    if shutil.which("oggenc") is None:
        sys.exit("oggenc is missing: apt-get install vorbis-tools")
    with tempfile.TemporaryDirectory(prefix="zentrowe-bench-") as scratch:
        songs = {
            "demo": (os.path.join(ROOT, "data", "demo", "ode-to-joy.mid"), "2"),
            "rock1": ("/usr/share/mma/lib/pflib/rock1.mid", "4"),
            "band": (os.path.join(scratch, "band.mid"), "2"),
        }
        band_song.write(songs["band"][0])
        names = [name for name in args.only.split(",") if name]
        for given in args.song:
            name, _, where = given.partition("=")
            path, _, tracks = where.rpartition(":")
            songs[name] = (path, tracks)
            names.append(name)
        for name in names:
            bench(name, songs[name][0], songs[name][1], os.path.abspath(args.cli), args.jobs, scratch, args.first_only)


if __name__ == "__main__":
    main()
