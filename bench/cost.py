#!/usr/bin/env python3
"""Cost per stream: N concurrent 128 kbit/s loopback streams (icy-bench-server,
paced in real time) recorded for a while by driftharbour-record, beside N
streamripper processes and N curl processes at the same N (those up to
--peers-max).

Prints CPU milliseconds per stream-minute (user + system time of the
recording processes, from /proc/PID/stat, from the start to the stop and
in the steady state once every stream records), resident memory per stream
(VmRSS summed over the processes near the end of the run, / N; for the peers
also the proportional set size, PSS), the seconds until every stream
recorded (its first file on the disk: one metadata interval after it
connected), and checks that driftharbour-record lost no byte: every stream's
files, in title order, must be exactly the stream's audio from its first
byte on, and hold every byte the server sent: the server stops first, and
the recorders only once they have written all it sent.

One recorder process holds every stream while the descriptor limit allows
(four descriptors a stream: its socket, curl's wake-up pair, its file);
above that the streams are split over as many recorders as the limit needs,
each given the whole list and its --shard, as on a machine whose limit
cannot be raised. The table says how many processes ran.

--reload N adds the service scenario: N entries from a settings file record;
then the file loses its first tenth and gains as many new entries, and
SIGHUP makes the recorders apply it. Checked: every remaining entry kept its
one connection and lost no byte, every removed one stopped with what it had,
every new one records from its first byte.

    bench/cost.py [--streams 1,100,1000,10000] [--seconds 60] [--peers-max 100] [--reload 10000]
"""
import argparse
import math
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from process_usage import cpu_of, memory_of

RATE = 16000  # 128 kbit/s
METAINT = 16000
TITLE_EVERY = 480_000  # a title change every 30 s
PATTERN_BYTES = 1048573
DESCRIPTORS_PER_STREAM = 4
SPARE_DESCRIPTORS = 64


def pattern():
    state = 12345
    out = bytearray(PATTERN_BYTES)
    for i in range(PATTERN_BYTES):
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        out[i] = (state >> 16) & 0xFF
    return bytes(out)


def expected_audio(table, stream, start, length):
    out = bytearray()
    offset = (start + stream * 7919) % PATTERN_BYTES
    while len(out) < length:
        take = min(length - len(out), PATTERN_BYTES - offset)
        out += table[offset:offset + take]
        offset = 0
    return bytes(out)


def raise_file_limit():
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    return hard


def recorders_for(n, hard_limit):
    """How many recorder processes N streams need under the descriptor
    limit; a tenth to spare, since shards are not exactly even."""
    per_process = max(1, int((hard_limit - SPARE_DESCRIPTORS) // DESCRIPTORS_PER_STREAM * 0.9))
    return max(1, math.ceil(n / per_process))


def start_server(build, port):
    server = subprocess.Popen(
        [os.path.join(build, "bench/icy-bench-server"), "--port", str(port), "--rate", str(RATE),
         "--metaint", str(METAINT), "--title-every", str(TITLE_EVERY), "--tick-ms", "100"],
        stdout=subprocess.PIPE, text=True)
    server.stdout.readline()
    return server


def stop_server(server):
    """Stops the server; returns the audio bytes sent and the connections
    made, per path."""
    server.send_signal(signal.SIGTERM)
    out, _ = server.communicate()
    sent = {}
    connections = {}
    for line in out.splitlines():
        path, count = line.rsplit(" ", 1)
        sent[path] = sent.get(path, 0) + int(count)
        connections[path] = connections.get(path, 0) + 1
    return sent, connections


def recording_streams(out):
    """The streams that have a file in out (named "S<n> T<t>.mp3")."""
    streams = set()
    with os.scandir(out) as entries:
        for entry in entries:
            if entry.name.startswith("S") and entry.name.endswith(".mp3"):
                streams.add(int(entry.name[1:6]))
    return streams


def poll_until(deadline, condition, interval=0.5):
    while time.perf_counter() < deadline:
        if condition():
            return True
        time.sleep(interval)
    return condition()


def measure(processes, seconds, stop, out, n, events=None):
    """Runs the processes for `seconds` and stops them. Returns (cpu seconds
    from the start to the stop, cpu seconds per second in the steady state, rss MB,
    pss MB near the end, seconds until every stream recorded or None).
    The steady state runs from when every stream records (at the earliest
    20 % into the run) to 90 %. events(now) may act during the run and
    returns the time until which the steady window must wait."""
    pids = [p.pid for p in processes]
    start = time.perf_counter()
    ready = None

    def all_recording():
        nonlocal ready
        if ready is None and len(recording_streams(out)) >= n:
            ready = time.perf_counter() - start
        return ready is not None

    poll_until(start + seconds * 0.8, all_recording)
    window_start = max(start + seconds * 0.2, time.perf_counter() + 1)
    if events:
        window_start = max(window_start, events(start))
    time.sleep(max(0.0, window_start - time.perf_counter()))
    window_start, cpu_start = time.perf_counter(), cpu_of(pids)
    time.sleep(max(1.0, start + seconds * 0.9 - window_start))
    window, cpu_window = time.perf_counter() - window_start, cpu_of(pids) - cpu_start
    rss, pss = memory_of(pids)
    time.sleep(max(0.0, start + seconds - time.perf_counter()))
    # The whole run is from the start to the stop: what the stop itself costs
    # (waiting for the recorders to write what the server sent last, then
    # closing thousands of files) is not recording.
    whole = cpu_of(pids)
    stop(processes)
    for process in processes:
        process.wait()
    return whole, cpu_window / window, rss, pss, ready


def signal_all(processes, number=signal.SIGTERM):
    for process in processes:
        if process.poll() is None:
            process.send_signal(number)


def recorded_bytes(out):
    total = 0
    with os.scandir(out) as entries:
        for entry in entries:
            if entry.is_file():
                total += entry.stat().st_size
    return total


def source_first(server, out, result):
    """A stop that ends the streams at the server first and stops the
    recorders once they have written everything it sent: then every byte
    the server counts must be on the disk, none excused as in flight.
    result receives what stop_server returns."""
    def stop(processes):
        result.extend(stop_server(server))
        deadline = time.perf_counter() + 120
        last = -1
        while time.perf_counter() < deadline:
            size = recorded_bytes(out)
            if size == last:
                break
            last = size
            time.sleep(1.0)
        signal_all(processes)
    return stop


def start_recorders(build, processes, arguments, stdout=None):
    command = os.path.join(build, "src/cli/driftharbour-record")
    return [subprocess.Popen([command] + (["--shard", f"{k}/{processes}"] if processes > 1 else []) + arguments,
                             stdout=stdout)
            for k in range(processes)]


def run_ours(server_build, build, port, n, seconds, out, table, hard_limit, extra=()):
    urls = [f"http://127.0.0.1:{port}/s/{i}" for i in range(n)]
    server = start_server(server_build, port)
    processes = recorders_for(n, hard_limit)
    # The recorder takes one --dir for all; the titles carry the stream number.
    recorders = start_recorders(build, processes,
                                ["--quiet", "--no-smart-splitting", "--dir", out] + list(extra) + urls)
    served = []
    cpu, steady, rss, pss, ready = measure(recorders, seconds, source_first(server, out, served), out, n)
    sent, _ = served
    lost = check_ours(out, range(n), sent, table)
    return cpu, steady, rss, pss, ready, processes, lost


def recorded_files(out):
    files = {}
    for name in os.listdir(out):
        if name.startswith("S") and name.endswith(".mp3"):
            files.setdefault(int(name[1:6]), []).append(name)
    return files


def check_ours(out, streams, sent, table, files=None, whole=True):
    """Problems with the recordings of streams: bytes missing (when whole:
    any the server sent) or not the stream's audio."""
    files = files if files is not None else recorded_files(out)
    problems = []
    for i in streams:
        names = sorted(files.get(i, []))
        data = b"".join(open(os.path.join(out, name), "rb").read() for name in names)
        audio_sent = sent.get(f"/s/{i}", 0)
        # The server stopped first and the recorders wrote all it had sent
        # before they stopped (source_first): a whole recording holds every
        # byte; a stream a reload removed, a prefix.
        if (whole and len(data) != audio_sent) or len(data) > audio_sent:
            problems.append(f"stream {i}: {len(data)} bytes recorded of {audio_sent} sent")
        if data != expected_audio(table, i, 0, len(data)):
            problems.append(f"stream {i}: recorded bytes differ from the stream's audio")
    return problems


def write_list(path, out, streams, port):
    with open(path + ".new", "w") as ini:
        ini.write(f"[Default]\nDownloadDirectory={out}\n[Server]\n")
        for number, i in enumerate(streams):
            # Smart Splitting off, as --no-smart-splitting in URL mode: every
            # byte in exactly one file.
            ini.write(f"Server_{number}=http://127.0.0.1:{port}/s/{i}\nSmartSplitting_{number}=0\n")
    os.replace(path + ".new", path)


def run_reload(build, port, n, seconds, out, table, hard_limit):
    """The reload scenario; returns a row and the problems found."""
    change = n // 10
    kept, removed, added = range(change, n), range(0, change), range(n, n + change)
    work = tempfile.mkdtemp(prefix="dh-reload-")
    ini = os.path.join(work, "Driftharbour.ini")
    write_list(ini, out, range(n), port)
    server = start_server(build, port)
    processes = recorders_for(n, hard_limit)
    recorders = start_recorders(build, processes, ["--quiet", "--settings", ini])
    timings = {}

    def reload_midway(start):
        # Once everything records, and far enough in for a steady window
        # after the new entries started.
        time.sleep(max(0.0, start + seconds * 0.35 - time.perf_counter()))
        write_list(ini, out, list(kept) + list(added), port)
        hup = time.perf_counter()
        cpu_before = cpu_of([r.pid for r in recorders])
        signal_all(recorders, signal.SIGHUP)
        poll_until(start + seconds * 0.8, lambda: set(added) <= recording_streams(out), 0.2)
        timings["started"] = time.perf_counter() - hup if set(added) <= recording_streams(out) else None
        timings["cpu"] = cpu_of([r.pid for r in recorders]) - cpu_before
        return time.perf_counter() + 1

    served = []
    cpu, steady, rss, pss, ready = measure(recorders, seconds, source_first(server, out, served), out, n,
                                           reload_midway)
    sent, connections = served
    shutil.rmtree(work, ignore_errors=True)
    files = recorded_files(out)
    problems = check_ours(out, kept, sent, table, files)
    problems += check_ours(out, added, sent, table, files)
    problems += check_ours(out, removed, sent, table, files, whole=False)
    problems += [f"stream {i}: {connections.get(f'/s/{i}', 0)} connections, not 1"
                 for i in list(kept) + list(added) + list(removed) if connections.get(f"/s/{i}", 0) != 1]
    return (cpu, steady, rss, pss, ready, processes, timings), problems


def run_peer(kind, build, port, n, seconds, out):
    server = start_server(build, port)
    processes = []
    for i in range(n):
        url = f"http://127.0.0.1:{port}/s/{i}"
        if kind == "curl":
            command = ["curl", "-s", "-o", os.path.join(out, f"{i}.mp3"), url]
        else:
            directory = os.path.join(out, str(i))
            command = ["streamripper", url, "-d", directory, "-s", "--quiet"]
        processes.append(subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    cpu, steady, rss, pss, _ = measure(processes, seconds, signal_all, out, 0)
    stop_server(server)
    return cpu, steady, rss, pss


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--streams", default="1,100,1000,10000")
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--peers-max", type=int, default=100,
                        help="largest N at which the one-process-per-stream peers run (default 100)")
    parser.add_argument("--reload", type=int, default=0,
                        help="also run the reload scenario with this many entries (a tenth replaced)")
    parser.add_argument("--no-sync-off", action="store_true", help="skip the sync-off variant")
    parser.add_argument("--build", default="build/default")
    parser.add_argument("--recorder-build", default=None,
                        help="another build whose driftharbour-record is measured as well (a 'before')")
    parser.add_argument("--port", type=int, default=18200)
    args = parser.parse_args()
    hard_limit = raise_file_limit()
    table = pattern()
    # Each open file is synced every 10 s by default; "sync off" syncs only
    # at close, to show what the periodic sync costs.
    builds = [("driftharbour-record", args.build, ())]
    if not args.no_sync_off:
        builds.append(("driftharbour-record (sync off)", args.build, ("--sync-interval", "0")))
    if args.recorder_build:
        builds.append(("driftharbour-record (other build)", args.recorder_build, ()))

    rows = []
    failures = []
    notes = []
    streams = [int(x) for x in args.streams.split(",") if x]
    for n in streams:
        for name, build, extra in builds:
            out = tempfile.mkdtemp(prefix="dh-cost-")
            try:
                cpu, steady, rss, pss, ready, processes, lost = run_ours(
                    args.build, build, args.port, n, args.seconds, out, table, hard_limit, extra)
            finally:
                shutil.rmtree(out, ignore_errors=True)
            rows.append((n, name, processes, cpu, steady, rss, None, ready))
            verdict = "no byte lost" if not lost else f"{len(lost)} problems: " + "; ".join(lost[:3])
            failures += lost
            notes.append(f"N={n} {name}: {verdict}")
        for kind in ("streamripper", "curl"):
            if shutil.which(kind) is None:
                notes.append(f"N={n} {kind}: skipped, not installed (bench/setup.sh installs it)")
                continue
            if n > args.peers_max:
                notes.append(f"N={n} {kind}: skipped, {n} processes are above --peers-max {args.peers_max}")
                continue
            out = tempfile.mkdtemp(prefix="dh-cost-peer-")
            try:
                cpu, steady, rss, pss = run_peer(kind, args.build, args.port, n, args.seconds, out)
            finally:
                shutil.rmtree(out, ignore_errors=True)
            rows.append((n, kind + (" -o" if kind == "curl" else ""), n, cpu, steady, rss, pss, None))

    reload_note = []
    if args.reload:
        n = args.reload
        out = tempfile.mkdtemp(prefix="dh-cost-reload-")
        try:
            (cpu, steady, rss, pss, ready, processes, timings), problems = run_reload(
                args.build, args.port, n, args.seconds, out, table, hard_limit)
        finally:
            shutil.rmtree(out, ignore_errors=True)
        rows.append((n, "driftharbour-record --settings + reload", processes, cpu, steady, rss, None, ready))
        failures += problems
        change = n // 10
        started = timings.get("started")
        reload_note = [
            f"Reload: {n} entries recording, SIGHUP with {change} removed and {change} added "
            f"({n - change} kept, renumbered):",
            f"  new entries all recording {started:.1f} s after the SIGHUP" if started is not None
            else "  new entries not all recording by 80 % of the run",
            f"  CPU from the SIGHUP until then: {timings.get('cpu', 0) * 1000:.0f} ms in all, "
            f"{(timings.get('cpu', 0) - steady * (started or 0)) * 1000:.0f} ms above the steady rate",
            "  " + ("every kept entry kept its one connection and lost no byte; every removed entry stopped with "
                    "what it had; every new one recorded from its first byte" if not problems
                    else f"{len(problems)} problems: " + "; ".join(problems[:5]))]

    print(f"Cost per stream: 128 kbit/s loopback streams (metaint {METAINT}, paced every 100 ms), "
          f"{args.seconds:g} s per run; descriptor limit {hard_limit} per process")
    print("  CPU: ms per stream-minute from the start to the stop (start-up included), and in the steady state")
    print(f"  {'N':>5}  {'recorder':40s} {'procs':>5s} {'CPU whole run':>14s} {'CPU steady':>11s} "
          f"{'RSS MB/str':>11s} {'PSS MB/str':>11s} {'all rec. s':>10s}")
    for n, name, processes, cpu, steady, rss, pss, ready in rows:
        per_minute = cpu * 1000 / n / (args.seconds / 60)
        steady_minute = steady * 1000 * 60 / n
        pss_text = f"{pss / n:11.2f}" if pss is not None else f"{'':>11}"
        ready_text = f"{ready:10.1f}" if ready is not None else f"{'-':>10}"
        print(f"  {n:5d}  {name:40s} {processes:5d} {per_minute:14.1f} {steady_minute:11.1f} {rss / n:11.3f} "
              f"{pss_text} {ready_text}")
    for note in notes + reload_note:
        print("  " + note)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
