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
