#!/usr/bin/env python3
"""What a recorder costs between shows: 1,000 entries of a settings file,
each with schedules and none of them on, recorded by one
driftharbour-record --settings for 60 s after it has started.

Prints the CPU time the process used in that minute (from
/proc/PID/task/*/schedstat, in nanoseconds, so that less than a clock
tick shows), its resident memory, its threads, and the sockets it holds
and the connections the loopback listener the entries name received (both
must be 0). The goal: under 1 ms of CPU per minute in all, no connection.

    bench/schedule_idle.py [--entries 1000] [--seconds 60] [--recorder-build build/default]
"""
import argparse
import datetime
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time

from process_usage import cpu_ns_of, memory_of


def settings_text(entries, port, directory):
    # Shows that are never on during the run: a weekly one twelve hours
    # away, and a one-off tomorrow, in two zones far apart.
    later = datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(hours=12)
    weekday = later.strftime("%a")
    tomorrow = (later + datetime.timedelta(days=1)).strftime("%Y-%m-%d")
    lines = ["[Default]", "Buffer=50000", f"DownloadDirectory={directory}", "", "[Server]"]
    for n in range(entries):
        lines.append(f"Server_{n}=http://127.0.0.1:{port}/stream{n}")
        lines.append(f"Schedule_{n}_0=Weekly {n}|{weekday}|{later:%H:%M}|2h|UTC")
        lines.append(f"Schedule_{n}_1=Once {n}|{tomorrow}|06:00|1h|America/New_York")
    return "\r\n".join(lines) + "\r\n"


def sockets_of(pid):
    count = 0
    for fd in os.listdir(f"/proc/{pid}/fd"):
        try:
            if os.readlink(f"/proc/{pid}/fd/{fd}").startswith("socket:"):
                count += 1
        except OSError:
            pass
    return count


def threads_of(pid):
    return len(os.listdir(f"/proc/{pid}/task"))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--entries", type=int, default=1000)
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--recorder-build", default=os.path.join(os.path.dirname(__file__), "..", "build", "default"))
    args = parser.parse_args()
    recorder = os.path.join(args.recorder_build, "src", "cli", "driftharbour-record")

    # Where every entry points: a listener that counts who connects.
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(1024)
    listener.setblocking(False)
    port = listener.getsockname()[1]

    with tempfile.TemporaryDirectory() as directory:
        settings = os.path.join(directory, "Driftharbour.ini")
        with open(settings, "w", encoding="ascii", newline="") as out:
            out.write(settings_text(args.entries, port, directory))
        log = open(os.path.join(directory, "recorder.log"), "w+")
        process = subprocess.Popen([recorder, "--settings", settings], stdout=log, stderr=subprocess.STDOUT)
        # Started: every entry has said when its next show is.
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            log.seek(0)
            if log.read().count("next: ") >= args.entries:
                break
            time.sleep(0.2)
        else:
            process.kill()
            sys.exit("the recorder did not announce every entry's next show")
        time.sleep(1)  # the last lines are printed

        cpu_start = cpu_ns_of([process.pid])
        time.sleep(args.seconds)
        cpu_ns = cpu_ns_of([process.pid]) - cpu_start
        rss, _ = memory_of([process.pid])
        sockets = sockets_of(process.pid)
        threads = threads_of(process.pid)
        connections = 0
        try:
            while True:
                listener.accept()[0].close()
                connections += 1
        except BlockingIOError:
            pass
        process.send_signal(signal.SIGTERM)
        status = process.wait(timeout=60)

    per_minute_ms = cpu_ns / 1e6 * 60 / args.seconds
    print(f"{args.entries} entries with schedules, no show on, {args.seconds:.0f} s idle")
    print(f"  CPU:          {cpu_ns / 1e6:.3f} ms ({per_minute_ms:.3f} ms per minute; goal < 1)")
    print(f"  memory (RSS): {rss:.1f} MB ({rss * 1024 / args.entries:.1f} kB per entry)")
    print(f"  threads:      {threads}")
    print(f"  sockets held: {sockets}; connections made: {connections} (goal 0)")
    print(f"  exit status:  {status}")
    ok = per_minute_ms < 1 and sockets == 0 and connections == 0 and status == 0
    print("PASS" if ok else "FAIL")
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
