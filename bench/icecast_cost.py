#!/usr/bin/env python3
"""Cost per stream against a real Icecast: N listeners on one loopback
Icecast mount (fed in real time by ffmpeg, 128 kbit/s MP3, a title change
every --title-every seconds through the admin interface), recorded by one
driftharbour-record, run after run.

Each run starts a fresh recorder, waits until every stream has a file, and
measures the CPU time of every thread of the recorder (schedstat, in
nanoseconds) over a steady window of --window seconds. Printed: every run's
CPU ms per stream-minute with the disk's dirty and write-back memory at the
window's start and how busy the whole machine was during the window
(other processes' CPU and the hypervisor's steal), then the median, the fastest and slowest run and their
ratio. With --recorder-build the other build's recorder runs alternately
with ours, so both see the same disk and load.

The disk state is stated, not left to chance: before each run the script
calls sync() and waits (up to 30 s) until the kernel's dirty and write-back
pages are below 16 MB (--disk-state as-is skips that; --dirty-mb N then
writes N MB right before each run, to show what a benchmark that wrote
gigabytes just before does to the figures).

    bench/icecast_cost.py                            # N = 100, 5 runs, 20 s windows
    bench/icecast_cost.py --runs 7 --recorder-build build/before
    bench/icecast_cost.py --streams 10 --runs 3 --window 10 --disk-state as-is
    bench/icecast_cost.py --runs 3 --dirty-mb 3000

Exit status: 0 measured, 1 a run failed, 77 icecast2 or ffmpeg missing.
Only 127.0.0.1 is contacted.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

import icecast_e2e as e2e  # noqa: E402  (the end-to-end test's Icecast setup)
from process_usage import cpu_ns_of  # noqa: E402

CLEAN_DIRTY_KB = 16 * 1024
SOURCE_SECONDS = 120


def meminfo_kb(*keys):
    values = {}
    with open("/proc/meminfo") as info:
        for line in info:
            name, _, rest = line.partition(":")
            if name in keys:
                values[name] = int(rest.split()[0])
    return [values.get(key, 0) for key in keys]


def machine_ticks():
    """All CPUs' busy and stolen ticks, from /proc/stat."""
    with open("/proc/stat") as stat:
        fields = [int(value) for value in stat.readline().split()[1:]]
    busy = sum(fields[:3]) + sum(fields[5:7])  # user, nice, system, irq, softirq
    return busy, fields[7] if len(fields) > 7 else 0, sum(fields)


def settle_disk(timeout=30.0):
    """sync(), then wait until dirty and write-back pages are few."""
    os.sync()
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and sum(meminfo_kb("Dirty", "Writeback")) > CLEAN_DIRTY_KB:
        time.sleep(0.2)


class BenchHarness(e2e.Harness):
    """The end-to-end test's Icecast, allowed enough listeners."""

    def __init__(self, listeners):
        super().__init__(recorderCommand=None)
        self.listeners = listeners

    def WriteConfig(self, port):
        path = super().WriteConfig(port)
        with open(path) as stream:
            config = stream.read()
        config = config.replace("<clients>20</clients>", f"<clients>{self.listeners + 50}</clients>")
        with open(path, "w") as stream:
            stream.write(config)
        return path

    def EncodeSource(self):
        path = os.path.join(self.root, "bench-source.mp3")
        encoder = self.Start("ffmpeg-encode-bench", [
            "ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error",
            "-f", "lavfi", "-i", f"anoisesrc=d={SOURCE_SECONDS}:c=pink:r=44100:a=0.3:s=7",
            "-ac", "2", "-c:a", "libmp3lame", "-b:a", "128k",
            "-write_xing", "0", "-id3v2_version", "0", "-f", "mp3", path])
        if encoder.wait(timeout=300) != 0:
            raise e2e.TestFailure("ffmpeg could not encode the source")
        return path


class TitleChanger(threading.Thread):
    """A new title on the mount every `every` seconds, as a station's
    playout does; every listener meets it at once."""

    def __init__(self, harness, every):
        super().__init__(daemon=True)
        self.harness, self.every = harness, every
        self.stopping = threading.Event()
        self.changes = 0

    def run(self):
        while not self.stopping.wait(self.every):
            self.changes += 1
            self.harness.SetTitle(e2e.kMount, f"Bench Song {self.changes}")

    def Stop(self):
        self.stopping.set()
        self.join()


def file_count(directory):
    with os.scandir(directory) as entries:
        return sum(1 for entry in entries if entry.is_file() and entry.stat().st_size > 0)


def make_dirty(out, megabytes):
    """Leaves megabytes of another program's writes dirty on the disk, as a
    benchmark that wrote gigabytes just before does. Returns the file."""
    path = os.path.join(out, "dirty.bin")
    block = os.urandom(1 << 20)
    with open(path, "wb") as stream:
        for _ in range(megabytes):
            stream.write(block)
    return path


def one_run(harness, recorder, port, n, window, disk_state, changer, out, dirty_mb=0):
    if disk_state == "synced":
        settle_disk()
    dirty_file = make_dirty(out, dirty_mb) if dirty_mb > 0 else None
    directory = tempfile.mkdtemp(dir=out)
    urls = [f"http://127.0.0.1:{port}{e2e.kMount}?listener={i}" for i in range(n)]
    process = subprocess.Popen([recorder, "--quiet", "--no-smart-splitting", "--dir", directory] + urls,
                               stdout=subprocess.DEVNULL, start_new_session=True)
    try:
        # Every stream has a file once each holds audio (all share a title,
        # so the names differ only in their "(n)").
        deadline = time.monotonic() + 60
        while file_count(directory) < n and time.monotonic() < deadline:
            if process.poll() is not None:
                raise e2e.TestFailure(f"the recorder ended with {process.returncode}")
            time.sleep(0.5)
        if file_count(directory) < n:
            raise e2e.TestFailure("not every stream recorded within 60 s")
        time.sleep(2.0)  # past the connection bursts
        dirty, writeback = meminfo_kb("Dirty", "Writeback")
        changes = changer.changes
        before = machine_ticks()
        start, cpu = time.monotonic(), cpu_ns_of([process.pid])
        time.sleep(window)
        elapsed, used = time.monotonic() - start, cpu_ns_of([process.pid]) - cpu
        after = machine_ticks()
        changes = changer.changes - changes
    finally:
        harness.Stop(process)
    shutil.rmtree(directory, ignore_errors=True)
    if dirty_file:
        os.remove(dirty_file)
    total = max(1, after[2] - before[2])
    machine = ((after[0] - before[0]) / total, (after[1] - before[1]) / total)
    return used / 1e6 / (n * elapsed / 60.0), dirty, writeback, changes, machine


def summary(figures):
    low, high = min(figures), max(figures)
    return (f"median {statistics.median(figures):6.1f}   min {low:6.1f}   max {high:6.1f}   "
            f"spread {high / low if low > 0 else float('inf'):4.2f}x")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--streams", type=int, default=100)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--window", type=float, default=20.0, help="seconds measured per run")
    parser.add_argument("--title-every", type=float, default=10.0)
    parser.add_argument("--disk-state", choices=["synced", "as-is"], default="synced")
    parser.add_argument("--dirty-mb", type=int, default=0,
                        help="write this many MB to the disk (not synced) right before each run")
    parser.add_argument("--build", default="build/default")
    parser.add_argument("--recorder-build", default=None,
                        help="another build whose driftharbour-record runs alternately (a 'before')")
    parser.add_argument("--out", default=None, help="where the recordings go (default: a temporary directory)")
    args = parser.parse_args()
    if e2e.ToolsMissing():
        print("icecast2 or ffmpeg missing")
        return e2e.kSkipStatus

    recorders = [("driftharbour-record", os.path.join(args.build, "src/cli/driftharbour-record"))]
    if args.recorder_build:
        recorders.append(("other build", os.path.join(args.recorder_build, "src/cli/driftharbour-record")))
    harness = BenchHarness(args.streams)
    out = tempfile.mkdtemp(prefix="dh-icecast-cost-", dir=args.out)
    results = {name: [] for name, _ in recorders}
    try:
        source = harness.EncodeSource()
        harness.StartServer()
        harness.StartSource(e2e.kMount, source, "audio/mpeg", "mp3")
        harness.SetTitle(e2e.kMount, "Bench Song 0")
        changer = TitleChanger(harness, args.title_every)
        changer.start()
        print(f"Cost per stream against Icecast, N = {args.streams}, {args.window:.0f} s windows, "
              f"a title every {args.title_every:.0f} s, disk {args.disk_state}"
              f"{f', then {args.dirty_mb} MB written' if args.dirty_mb else ''}, files on {out}:")
        for run in range(args.runs):
            for name, recorder in recorders:
                figure, dirty, writeback, changes, (busy, steal) = one_run(harness, recorder, harness.port, args.streams, args.window,
                                                            args.disk_state, changer, out, args.dirty_mb)
                results[name].append(figure)
                print(f"  run {run + 1} {name:22s} {figure:6.1f} ms CPU per stream-minute   "
                      f"(dirty {dirty / 1024:5.0f} MB, write-back {writeback / 1024:4.0f} MB, "
                      f"{changes} title changes; machine busy {busy:4.0%}, stolen {steal:4.0%})", flush=True)
        changer.Stop()
        for name, figures in results.items():
            print(f"  {name:28s} {summary(figures)}")
    except e2e.TestFailure as failure:
        print(f"failed: {failure}")
        harness.PrintLogs()
        return 1
    finally:
        harness.Teardown()
        harness.RemoveDirectory()
        shutil.rmtree(out, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
