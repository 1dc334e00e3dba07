#!/usr/bin/env python3
"""Sharding without Kubernetes: N recorder processes on one list, started
through the container's entrypoint as StatefulSet pods driftharbour-0 ..
driftharbour-(N-1) would be, record from a loopback icy-bench-server. Checks
that every entry was recorded by exactly one process (one connection per
stream at the server, one file per stream on the disk), then starts N+1
processes and reports which share of the entries moved, and where.

    deploy/shard-check.py [--entries 400] [--shards 3] [--seconds 6] [--build build/default]
"""
import argparse
import collections
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
LINE = re.compile(r"^\[([0-9a-f]+(?:-\d+)?)\] http://127\.0\.0\.1:\d+/s/(\d+): Connected$")


def run(build, port, entries, shards, seconds):
    """Runs `shards` recorders on one list; returns {stream: [shard, ...]},
    the server's connection count per stream and the files per stream."""
    work = tempfile.mkdtemp(prefix="dh-shard-")
    try:
        out = os.path.join(work, "rec")
        os.mkdir(out)
        with open(os.path.join(work, "Driftharbour.ini"), "w") as ini:
            ini.write(f"[Default]\nDownloadDirectory={out}\n[Server]\n")
            for i in range(entries):
                ini.write(f"Server_{i}=http://127.0.0.1:{port}/s/{i}\n")
        server = subprocess.Popen(
            [os.path.join(build, "bench/icy-bench-server"), "--port", str(port), "--rate", "16000",
             "--metaint", "16000", "--tick-ms", "100"], stdout=subprocess.PIPE, text=True)
        server.stdout.readline()
        env = dict(os.environ)
        env["PATH"] = os.path.join(build, "src/cli") + os.pathsep + env["PATH"]
        env["SETTINGS_FILE"] = os.path.join(work, "Driftharbour.ini")
        env["METRICS_ADDRESS"] = "127.0.0.1:0"
        env["SHARD_COUNT"] = str(shards)
        recorders = []
        for k in range(shards):
            env["POD_NAME"] = f"driftharbour-{k}"
            recorders.append(subprocess.Popen(
                ["sh", os.path.join(HERE, "container/entrypoint.sh"), "--duration", str(seconds)],
                env=dict(env), stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True))
        owners = collections.defaultdict(list)
        for k, recorder in enumerate(recorders):
            output, _ = recorder.communicate(timeout=seconds + 60)
            for line in output.splitlines():
                match = LINE.match(line)
                if match:
                    owners[int(match.group(2))].append(k)
        server.send_signal(signal.SIGTERM)
        served, _ = server.communicate()
        connections = collections.Counter(int(line.split()[0][3:]) for line in served.splitlines())
        files = collections.Counter(int(name[1:6]) for name in os.listdir(out) if name.startswith("S"))
        return owners, connections, files
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--entries", type=int, default=400)
    parser.add_argument("--shards", type=int, default=3)
    parser.add_argument("--seconds", type=int, default=6)
    parser.add_argument("--build", default="build/default")
    parser.add_argument("--port", type=int, default=0, help="the test server's port (0: a free one)")
    args = parser.parse_args()
    if args.port == 0:
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            args.port = probe.getsockname()[1]

    problems = []
    owners, connections, files = run(args.build, args.port, args.entries, args.shards, args.seconds)
    for i in range(args.entries):
        if len(owners[i]) != 1 or connections[i] != 1 or files[i] != 1:
            problems.append(f"stream {i}: shards {owners[i]}, {connections[i]} connections, {files[i]} files")
    sizes = collections.Counter(k for i in range(args.entries) for k in owners[i])
    print(f"{args.shards} recorders, {args.entries} entries: "
          + ", ".join(f"shard {k} {sizes[k]}" for k in range(args.shards))
          + f"; recorded exactly once: {args.entries - len(problems)} of {args.entries}")

    # The same port: the URLs, and so their hashes, must be the same.
    grown, _, _ = run(args.build, args.port, args.entries, args.shards + 1, args.seconds)
    moved = [i for i in range(args.entries) if owners[i] != grown[i]]
    elsewhere = [i for i in moved if grown[i] != [args.shards]]
    share = len(moved) / args.entries
    print(f"{args.shards + 1} recorders: {len(moved)} of {args.entries} entries moved ({share:.1%}; "
          f"ideal {1 / (args.shards + 1):.1%}), {len(elsewhere)} of them to an old shard")
    problems += [f"stream {i} moved from shard {owners[i]} to {grown[i]}" for i in elsewhere]
    for problem in problems[:10]:
        print("  " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
