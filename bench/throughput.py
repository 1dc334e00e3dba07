#!/usr/bin/env python3
"""Throughput: one stream served as fast as the loopback allows, recorded by
driftharbour-record with File Splitting on, beside `curl -o` of the same URL.

Prints MB/s of both and their ratio, the CPU time each spent per GB (the
figure that a busy machine changes least), and checks the recording byte for byte:
the recorded files, in title order, must together equal curl's file (the
audio of the first interval is held until its title arrives and goes into
that title's file, so nothing is dropped).

    bench/throughput.py [--mb 1000] [--runs 3] [--build build/default] [--out DIR]
"""
import argparse
import resource
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

METAINT = 16000
TITLE_EVERY = 4_000_000  # a title change every 4 MB


def start_server(build, port, total):
    server = subprocess.Popen(
        [os.path.join(build, "bench/icy-bench-server"), "--port", str(port), "--rate", "0",
         "--metaint", str(METAINT), "--title-every", str(TITLE_EVERY), "--total", str(total)],
        stdout=subprocess.PIPE, text=True)
    server.stdout.readline()  # "listening on ..."
    return server


def stop(process):
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
    process.wait()


def directory_bytes(path):
    return sum(entry.stat().st_size for entry in os.scandir(path))


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def run_curl(url, out):
    target = os.path.join(out, "curl.bin")
    cpu = children_cpu()
    start = time.perf_counter()
    subprocess.run(["curl", "-s", "-o", target, url], check=True)
    return time.perf_counter() - start, children_cpu() - cpu, target


def run_recorder(build, url, out, expected):
    directory = os.path.join(out, "recorded")
    os.makedirs(directory)
    cpu = children_cpu()
    start = time.perf_counter()
    recorder = subprocess.Popen(
        [os.path.join(build, "src/cli/driftharbour-record"), "--quiet", "--no-smart-splitting",
         "--dir", directory, url])
    # The server ends the stream after `total` bytes; the recorder would
    # retry a second later, so the run ends when the bytes are on disk.
    # Looking costs a stat of every file, which on a busy machine takes CPU
    # from the recorder (curl's end is a plain wait): look seldom while much
    # is missing, often near the end, never sleeping past the moment a
    # 4 GB/s recorder could finish.
    deadline = start + 600
    while time.perf_counter() < deadline:
        missing = expected - directory_bytes(directory)
        if missing <= 0:
            break
        time.sleep(min(0.05, max(0.001, missing / 4e9)))
    elapsed = time.perf_counter() - start
    stop(recorder)
    return elapsed, children_cpu() - cpu, directory


def check(curl_file, directory):
    names = sorted(name for name in os.listdir(directory) if "(" not in name)
    with open(curl_file, "rb") as reference:
        for name in names:
            with open(os.path.join(directory, name), "rb") as recorded:
                while True:
                    block = recorded.read(1 << 20)
                    if not block:
                        break
                    if reference.read(len(block)) != block:
                        return f"{name} differs from curl's bytes"
        if reference.read(1):
            return "the recording is shorter than curl's file"
    return "identical"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mb", type=int, default=1000, help="stream length in MB (default 1000)")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--build", default="build/default")
    parser.add_argument("--out", default=None, help="where files go (default: a temporary directory)")
    parser.add_argument("--port", type=int, default=18100)
    parser.add_argument("--recorder-build", default=None,
                        help="another build whose driftharbour-record is measured as well (a 'before')")
    args = parser.parse_args()
    if shutil.which("curl") is None:
        sys.exit("curl is missing (apt-get install curl)")

    total = args.mb * 1_000_000
    total -= total % METAINT
    url = f"http://127.0.0.1:{args.port}/s/1"
    builds = [("driftharbour-record", args.build)]
    if args.recorder_build:
        builds.append(("driftharbour-record (other build)", args.recorder_build))
    results = {name: [] for name in ["curl -o"] + [name for name, _ in builds]}
    cpu_per_gb = {name: [] for name in results}
    verdicts = []
    for run in range(args.runs):
        out = tempfile.mkdtemp(prefix="dh-throughput-", dir=args.out)
        try:
            server = start_server(args.build, args.port, total)
            try:
                seconds, cpu, curl_file = run_curl(url, out)
                results["curl -o"].append(total / seconds / 1e6)
                cpu_per_gb["curl -o"].append(cpu * 1e9 / total)
                for name, build in builds:
                    seconds, cpu, directory = run_recorder(build, url, tempfile.mkdtemp(dir=out), total)
                    results[name].append(total / seconds / 1e6)
                    cpu_per_gb[name].append(cpu * 1e9 / total)
                    verdicts.append(f"run {run + 1}, {name}: {check(curl_file, directory)}")
            finally:
                stop(server)
        finally:
            shutil.rmtree(out, ignore_errors=True)

    print(f"Throughput, one loopback stream of {total / 1e6:.0f} MB (metaint {METAINT}, "
          f"a title every {TITLE_EVERY / 1e6:.0f} MB), best of {args.runs} runs, files on "
          f"{args.out or tempfile.gettempdir()}:")
    best_curl = max(results["curl -o"])
    for name, figures in results.items():
        best = max(figures)
        runs = ", ".join(f"{figure:.0f}" for figure in figures)
        ratio = "" if name == "curl -o" else f"   {best / best_curl:.2f} x curl"
        print(f"  {name:38s} {best:7.0f} MB/s   (runs: {runs}){ratio}")
    # CPU time does not depend on what else the machine runs as much as
    # wall time does: the figure to compare on a busy machine.
    print("CPU seconds (user + system, every thread) per GB, least of the runs:")
    best_cpu = min(cpu_per_gb["curl -o"])
    for name, figures in cpu_per_gb.items():
        ratio = "" if name == "curl -o" else f"   {min(figures) / best_cpu:.2f} x curl"
        runs = ", ".join(f"{figure:.2f}" for figure in figures)
        print(f"  {name:38s} {min(figures):7.2f} s    (runs: {runs}){ratio}")
    for verdict in verdicts:
        print("  " + verdict)
    return 0 if all(v.endswith("identical") for v in verdicts) else 1


if __name__ == "__main__":
    sys.exit(main())
