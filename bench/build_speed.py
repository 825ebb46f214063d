#!/usr/bin/env python3
"""Times whole-song builds, first and again, against oggenc encoding the same renders.

For each song: a first build with an empty cache, a rebuild that changes only --difficulties
(every sound is kept from the first) into the same folder and into a new one, and the same
rebuild with --no-cache, whose folder must be byte for byte the cached ones'; then oggenc (vorbis-tools) encodes, in stereo at the build's
quality and on every core, the renders the first build kept. Peak memory is each build's own.

Songs: the demo (track 2), rock1 --track 4 (/usr/share/mma/lib/pflib/rock1.mid, package mma)
and a generated song of 25 tracks and 3 minutes (--track 2, every other note a keysound).

  bench/build_speed.py --cli build/rel/src/cli/zentrowe-cli [--only demo,rock1,dense] [--jobs N]

A benchmark is a command, never a test: nothing here runs under CTest.
"""
import argparse
import filecmp
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
from make_demo_song import track  # noqa: E402  (one MIDI track writer for the tools)

ENTRY_TAG = b"ZWKEPT\r\n"


def dense_song(path, tracks=25, minutes=3, bpm=120):
    """25 tracks on the 16 channels (channel 10 drums), each with its own instrument, pan and
    pattern of pitches, velocities and lengths: about 1,500 keysounds."""
    division = 480
    measures = minutes * bpm // 4
    conductor = [(0, 0, b"\xff\x51\x03" + (60000000 // bpm).to_bytes(3, "big"))]
    all_tracks = [track(conductor)]
    for k in range(tracks):
        channel = 9 if k % 8 == 7 else [c for c in range(16) if c != 9][k % 15]
        events = [(0, 0, bytes([0xC0 | channel, (k * 11) % 112])), (0, 0, bytes([0xB0 | channel, 10, (k * 37) % 128]))]
        step = division // (1 + k % 4)
        base = 36 + (k * 5) % 36 if channel != 9 else 35
        for n in range(measures * 4 * division // step):
            start = n * step
            note = base + (n * (3 + k % 5)) % (12 if channel != 9 else 12)
            velocity = 60 + 16 * ((n + k) % 4)
            length = step * (1 + n % 2) // 2
            events.append((start, 1, bytes([0x90 | channel, note, velocity])))
            events.append((start + length, 0, bytes([0x80 | channel, note, 0])))  # before a strike at its tick
        all_tracks.append(track(events))
    with open(path, "wb") as out:
        out.write(b"MThd" + struct.pack(">IHHH", 6, 1, len(all_tracks), division))
        for data in all_tracks:
            out.write(data)


def run(arguments, env):
    """Seconds, peak resident megabytes and processor seconds (user and system) of one command,
    which must succeed. On a shared machine the processor time tells what the build itself
    costs; the wall time also holds waiting for the disk and for other work."""
    start = time.monotonic()
    child = subprocess.Popen(arguments, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(child.pid, 0)
    seconds = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(" ".join(arguments) + " failed:\n" + child.stderr.read().decode(errors="replace"))
    return seconds, usage.ru_maxrss / 1024, usage.ru_utime + usage.ru_stime


def same_folders(first, second):
    names = sorted(os.listdir(first))
    if names != sorted(os.listdir(second)):
        return False
    _, mismatch, errors = filecmp.cmpfiles(first, second, [n for n in names if os.path.isfile(os.path.join(first, n))],
                                          shallow=False)
    return not mismatch and not errors


def kept_renders(cache, into):
    """The renders a build kept, as raw 16-bit stereo files for oggenc."""
    files = []
    folder = os.path.join(cache, "zentrowe", "renders")
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as entry:
            data = entry.read()
        if not data.startswith(ENTRY_TAG):
            continue
        key_length = struct.unpack_from("<I", data, 12)[0]
        offset = 16 + key_length + 16
        count = (len(data) - offset) // 4
        if count == 0:
            continue  # a silent sound is never written
        samples = struct.unpack_from("<%df" % count, data, offset)
        pcm = struct.pack("<%dh" % count, *(max(-32767, min(32767, round(s * 32767))) for s in samples))
        path = os.path.join(into, name + ".raw")
        with open(path, "wb") as out:
            out.write(pcm)
        files.append(path)
    return files


def oggenc_seconds(files, jobs):
    def encode(path):
        subprocess.run(["oggenc", "-Q", "-r", "-B", "16", "-C", "2", "-R", "44100", "-q", "5", "-o", path + ".ogg", path],
                       check=True)
    start = time.monotonic()
    with ThreadPoolExecutor(jobs) as pool:
        list(pool.map(encode, files))
    return time.monotonic() - start


def bench(name, midi, tracks, cli, jobs, scratch):
    cache = os.path.join(scratch, name + "-cache")
    env = dict(os.environ, XDG_CACHE_HOME=cache)
    base = [cli, "build", midi, "--track", tracks, "--jobs", str(jobs)]
    first, first_mb, first_cpu = run(base + ["--out", os.path.join(scratch, name + "-first")], env)
    again_args = ["--difficulties", "normal,hyper"]
    # Into the first build's folder, as an author rebuilds, and into a new one.
    again, _, again_cpu = run(base + again_args + ["--out", os.path.join(scratch, name + "-first")], env)
    fresh, _, fresh_cpu = run(base + again_args + ["--out", os.path.join(scratch, name + "-again")], env)
    plain, plain_mb, _ = run(base + again_args + ["--no-cache", "--out", os.path.join(scratch, name + "-plain")], env)
    same = same_folders(os.path.join(scratch, name + "-again"), os.path.join(scratch, name + "-plain")) and \
        same_folders(os.path.join(scratch, name + "-first"), os.path.join(scratch, name + "-plain"))
    raw = os.path.join(scratch, name + "-raw")
    os.makedirs(raw)
    files = kept_renders(cache, raw)
    ogg = oggenc_seconds(files, jobs)
    print(f"{name:6} first {first:7.2f} s ({first_cpu:6.2f} s cpu, {first_mb:5.0f} MB)  "
          f"again {again:6.2f} s ({100 * again / first:4.1f} %; cpu {100 * again_cpu / first_cpu:4.1f} %)  "
          f"again elsewhere {fresh:6.2f} s ({100 * fresh / first:4.1f} %; cpu {100 * fresh_cpu / first_cpu:4.1f} %)  "
          f"no cache {plain:7.2f} s ({plain_mb:5.0f} MB)  same bytes {'yes' if same else 'NO'}  "
          f"oggenc {len(files)} renders {ogg:7.2f} s (first build {first / ogg:4.2f}x)", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", default=os.path.join(ROOT, "build", "rel", "src", "cli", "zentrowe-cli"))
    parser.add_argument("--only", default="demo,rock1,dense")
    parser.add_argument("--jobs", type=int, default=os.cpu_count())
    args = parser.parse_args()
    if shutil.which("oggenc") is None:
        sys.exit("oggenc is missing: apt-get install vorbis-tools")
    with tempfile.TemporaryDirectory(prefix="zentrowe-bench-") as scratch:
        songs = {
            "demo": (os.path.join(ROOT, "data", "demo", "ode-to-joy.mid"), "2"),
            "rock1": ("/usr/share/mma/lib/pflib/rock1.mid", "4"),
            "dense": (os.path.join(scratch, "dense.mid"), "2"),
        }
        dense_song(songs["dense"][0])
        for name in args.only.split(","):
            bench(name, songs[name][0], songs[name][1], os.path.abspath(args.cli), args.jobs, scratch)


if __name__ == "__main__":
    main()
