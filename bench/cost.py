#!/usr/bin/env python3
"""Cost per stream: N concurrent 128 kbit/s loopback streams (icy-bench-server,
paced in real time) recorded for a while by ONE driftharbour-record process,
beside N streamripper processes and N curl processes at the same N.

Prints CPU milliseconds per stream-minute (user + system time of the
recording processes, from getrusage of the children) and resident memory
per stream (VmRSS summed over the processes near the end of the run, / N;
for the peers also the proportional set size, PSS), and checks that
driftharbour-record lost no byte: every stream's files, in title order,
must be exactly the stream's audio from its first byte on, and hold all
that the server sent but what was still in flight in the sockets at the stop.

    bench/cost.py [--streams 1,100,1000] [--seconds 60] [--peers-max 100]
"""
import argparse
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time

RATE = 16000  # 128 kbit/s
METAINT = 16000
TITLE_EVERY = 480_000  # a title change every 30 s
PATTERN_BYTES = 1048573


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


def children_cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def memory_of(pids):
    rss = pss = 0
    for pid in pids:
        try:
            with open(f"/proc/{pid}/smaps_rollup") as rollup:
                for line in rollup:
                    if line.startswith("Rss:"):
                        rss += int(line.split()[1])
                    elif line.startswith("Pss:"):
                        pss += int(line.split()[1])
        except OSError:
            pass
    return rss / 1024, pss / 1024  # MB


def raise_file_limit():
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))


def start_server(build, port):
    server = subprocess.Popen(
        [os.path.join(build, "bench/icy-bench-server"), "--port", str(port), "--rate", str(RATE),
         "--metaint", str(METAINT), "--title-every", str(TITLE_EVERY), "--tick-ms", "100"],
        stdout=subprocess.PIPE, text=True)
    server.stdout.readline()
    return server


def stop_server(server):
    server.send_signal(signal.SIGTERM)
    out, _ = server.communicate()
    sent = {}
    for line in out.splitlines():
        path, count = line.rsplit(" ", 1)
        sent[path] = sent.get(path, 0) + int(count)
    return sent


def cpu_of(pids):
    ticks = 0
    for pid in pids:
        try:
            with open(f"/proc/{pid}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
            ticks += int(fields[11]) + int(fields[12])  # utime, stime
        except OSError:
            pass
    return ticks / os.sysconf("SC_CLK_TCK")


def measure(processes, seconds, stop):
    """Runs the processes for `seconds` and stops them. Returns (cpu seconds
    over the whole run, cpu seconds per second in the steady state from 20 %
    to 90 % of the run, rss MB, pss MB near the end)."""
    pids = [p.pid for p in processes]
    before = children_cpu_seconds()
    time.sleep(seconds * 0.2)
    window_start, cpu_start = time.perf_counter(), cpu_of(pids)
    time.sleep(seconds * 0.7)
    window, cpu_window = time.perf_counter() - window_start, cpu_of(pids) - cpu_start
    rss, pss = memory_of(pids)
    time.sleep(seconds * 0.1)
    stop(processes)
    for process in processes:
        process.wait()
    return children_cpu_seconds() - before, cpu_window / window, rss, pss


def signal_all(processes):
    for process in processes:
        if process.poll() is None:
            process.send_signal(signal.SIGTERM)


def run_ours(server_build, build, port, n, seconds, out, table, extra=()):
    urls = [f"http://127.0.0.1:{port}/s/{i}" for i in range(n)]
    server = start_server(server_build, port)
    # The recorder takes one --dir for all; the titles carry the stream number.
    recorder = subprocess.Popen(
        [os.path.join(build, "src/cli/driftharbour-record"), "--quiet", "--no-smart-splitting", "--dir", out]
        + list(extra) + urls)
    cpu, steady, rss, pss = measure([recorder], seconds, signal_all)
    sent = stop_server(server)
    lost = check_ours(out, n, sent, table)
    return cpu, steady, rss, pss, lost


def check_ours(out, n, sent, table):
    files = {}
    for name in os.listdir(out):
        if name.startswith("S") and name.endswith(".mp3"):
            files.setdefault(int(name[1:6]), []).append(name)
    problems = []
    for i in range(n):
        names = sorted(files.get(i, []))
        data = b"".join(open(os.path.join(out, name), "rb").read() for name in names)
        audio_sent = sent.get(f"/s/{i}", 0)
        # The first interval belongs to the first title; bytes still in
        # flight at the stop are not lost (the server counts what it handed
        # to its socket, the recorder writes what it read).
        if audio_sent - len(data) > 2 * METAINT or len(data) > audio_sent:
            problems.append(f"stream {i}: {len(data)} bytes recorded of {audio_sent} sent")
        if data != expected_audio(table, i, 0, len(data)):
            problems.append(f"stream {i}: recorded bytes differ from the stream's audio")
    return problems


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
    cpu, steady, rss, pss = measure(processes, seconds, signal_all)
    stop_server(server)
    return cpu, steady, rss, pss


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--streams", default="1,100,1000")
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--peers-max", type=int, default=100,
                        help="largest N at which the one-process-per-stream peers run (default 100)")
    parser.add_argument("--build", default="build/default")
    parser.add_argument("--recorder-build", default=None,
                        help="another build whose driftharbour-record is measured as well (a 'before')")
    parser.add_argument("--port", type=int, default=18200)
    args = parser.parse_args()
    raise_file_limit()
    table = pattern()
    # Each open file is synced every 10 s by default; "sync off" syncs only
    # at close, to show what the periodic sync costs.
    builds = [("driftharbour-record", args.build, ()),
              ("driftharbour-record (sync off)", args.build, ("--sync-interval", "0"))]
    if args.recorder_build:
        builds.append(("driftharbour-record (other build)", args.recorder_build, ()))

    rows = []
    failures = []
    notes = []
    for n in [int(x) for x in args.streams.split(",")]:
        for name, build, extra in builds:
            out = tempfile.mkdtemp(prefix="dh-cost-")
            try:
                cpu, steady, rss, pss, lost = run_ours(args.build, build, args.port, n, args.seconds, out, table,
                                                       extra)
            finally:
                shutil.rmtree(out, ignore_errors=True)
            rows.append((n, name, cpu, steady, rss, None))
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
            rows.append((n, kind + (" -o" if kind == "curl" else ""), cpu, steady, rss, pss))

    print(f"Cost per stream: 128 kbit/s loopback streams (metaint {METAINT}, paced every 100 ms), "
          f"{args.seconds:g} s per run")
    print("  CPU: ms per stream-minute over the whole run (start-up included), and in the steady state")
    print(f"  {'N':>5}  {'recorder':36s} {'CPU whole run':>14s} {'CPU steady':>11s} {'RSS MB/str':>11s} {'PSS MB/str':>11s}")
    for n, name, cpu, steady, rss, pss in rows:
        per_minute = cpu * 1000 / n / (args.seconds / 60)
        steady_minute = steady * 1000 * 60 / n
        pss_text = f"{pss / n:11.2f}" if pss is not None else f"{'(1 proc)':>11s}"
        print(f"  {n:5d}  {name:36s} {per_minute:14.1f} {steady_minute:11.1f} {rss / n:11.2f} {pss_text}")
    for note in notes:
        print("  " + note)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
