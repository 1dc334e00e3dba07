"""What a benchmark reads of its processes from /proc: CPU time and
resident memory. Shared by cost.py and hls_cost.py."""
import os


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


def cpu_ns_of(pids):
    """CPU time in nanoseconds, summed over every thread of the processes
    (/proc/PID/task/TID/schedstat): fine enough for a process that should
    cost less than a clock tick in a minute."""
    total = 0
    for pid in pids:
        try:
            tasks = os.listdir(f"/proc/{pid}/task")
        except OSError:
            continue
        for tid in tasks:
            try:
                with open(f"/proc/{pid}/task/{tid}/schedstat") as stat:
                    total += int(stat.read().split()[0])
            except OSError:
                pass
    return total


# ---- one process's footprint -------------------------------------------------
#
#   bench/process_usage.py [--build build/default] [--baseline OTHER_BUILD]
#
# What one plain ICY stream costs a driftharbour-record process before any
# stream needs FFmpeg: the time to print --help (median of many runs), and,
# while it records one 128 kbit/s stream from bench/icy-bench-server, its
# resident memory (VmRSS, VmHWM) and the shared libraries it has mapped,
# beside `curl -o` of the same stream. --baseline adds the same figures for
# another build's recorder, in the same run (before and after).

def mapped_libraries(pid):
    """The shared objects a process has mapped, by path."""
    paths = set()
    try:
        with open(f"/proc/{pid}/maps") as maps:
            for line in maps:
                fields = line.split()
                if len(fields) >= 6 and ".so" in os.path.basename(fields[5]):
                    paths.add(fields[5])
    except OSError:
        pass
    return paths


def status_kb(pid, key):
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def help_ms(recorder, runs):
    """Median wall and CPU (user + system) milliseconds of `recorder --help`.
    On a busy machine the wall time mostly measures the queue; the CPU time
    is what the program itself costs."""
    import statistics
    import subprocess
    import time
    walls, cpus = [], []
    for _ in range(runs):
        start = time.perf_counter()
        child = subprocess.Popen([recorder, "--help"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, _, usage = os.wait4(child.pid, 0)
        child.returncode = 0
        walls.append((time.perf_counter() - start) * 1000)
        cpus.append((usage.ru_utime + usage.ru_stime) * 1000)
    return statistics.median(walls), statistics.median(cpus)


def one_stream(command, seconds):
    """Runs command for seconds; its VmRSS and VmHWM (MB) and mapped
    libraries at the end."""
    import subprocess
    import time
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(seconds)
    rss = status_kb(process.pid, "VmRSS") / 1024
    hwm = status_kb(process.pid, "VmHWM") / 1024
    libraries = mapped_libraries(process.pid)
    process.terminate()
    process.wait()
    return rss, hwm, libraries


def footprint_main():
    import argparse
    import socket
    import subprocess
    import tempfile
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default="build/default")
    parser.add_argument("--baseline", help="another build directory to compare with")
    parser.add_argument("--seconds", type=float, default=5.0)
    parser.add_argument("--help-runs", type=int, default=50)
    options = parser.parse_args()

    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    server = subprocess.Popen([os.path.join(options.build, "bench/icy-bench-server"), "--port", str(port),
                               "--rate", "16000", "--metaint", "16000", "--tick-ms", "100"],
                              stdout=subprocess.PIPE, text=True)
    server.stdout.readline()
    url = f"http://127.0.0.1:{port}/s/1"
    rows = []
    try:
        builds = [("before", options.baseline)] if options.baseline else []
        builds.append(("after" if options.baseline else "this build", options.build))
        for label, build in builds:
            recorder = os.path.abspath(os.path.join(build, "src/cli/driftharbour-record"))
            with tempfile.TemporaryDirectory() as out:
                rss, hwm, libraries = one_stream([recorder, "--quiet", "--dir", out, url], options.seconds)
            media = sorted(os.path.basename(p) for p in libraries if "libav" in p or "driftharbour-media" in p)
            rows.append((f"driftharbour-record ({label})", *help_ms(recorder, options.help_runs), rss, hwm,
                         len(libraries), ", ".join(media) or "none"))
        with tempfile.TemporaryDirectory() as out:
            rss, hwm, libraries = one_stream(["curl", "-s", "-o", os.path.join(out, "s.mp3"), url], options.seconds)
        rows.append(("curl -o", float("nan"), float("nan"), rss, hwm, len(libraries), "none"))
    finally:
        server.terminate()
        server.communicate()
    print(f"one plain ICY stream, {options.seconds:.0f} s; --help median of {options.help_runs} runs")
    print(f"load average {os.getloadavg()[0]:.1f} on {os.cpu_count()} CPUs")
    print(f"{'process':34} {'--help ms':>9} {'CPU ms':>7} {'RSS MB':>7} {'peak MB':>7} {'.so':>4}  FFmpeg mapped")
    for name, help_wall, help_cpu, rss, hwm, count, media in rows:
        print(f"{name:34} {help_wall:9.1f} {help_cpu:7.1f} {rss:7.1f} {hwm:7.1f} {count:4d}  {media}")


if __name__ == "__main__":
    footprint_main()
