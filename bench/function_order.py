#!/usr/bin/env python3
"""The order of driftharbour-record's functions in its text.

A plain ICY stream runs about a fifth of the recorder's code, spread over
all of it. On a page fault the kernel maps the whole 64 KiB window around
the page (fault-around), so a process recording one plain stream had the
whole text resident. Linked with lld and --symbol-ordering-file, the
functions named in src/cli/plain-stream.order come first, in that order,
and fill a few windows; the rest follows and stays unmapped until used.

    bench/function_order.py [--build build/default]
        traces a plain stream and writes src/cli/plain-stream.order
    bench/function_order.py --check [--build build/default]
        traces a plain stream and says what it runs that the file misses
    bench/function_order.py --verify RECORDER [--order FILE]
        exits 1 unless RECORDER's text starts with the file's functions

The trace is callgrind's (valgrind) count of the instructions each
function runs while the recorder records one 128 kbit/s stream from
bench/icy-bench-server, a new title every 2 s, for --seconds, from start to
SIGTERM. The file lists the functions hottest first. A function missing
from it (new or renamed since) is only placed after the listed ones: the
program is the same, it just maps a little more. Regenerate the file when
--check reports much missing.
"""
import argparse
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_ORDER = os.path.join(ROOT, "src/cli/plain-stream.order")

HEADER = """\
# The functions driftharbour-record runs while it records one plain ICY
# stream, hottest first: lld places them at the start of the program's
# text (src/cli/CMakeLists.txt). Written by bench/function_order.py; run it
# again after large changes to the recording path.
"""


def trace(build, seconds):
    """Mangled names of the recorder's functions that ran, hottest first."""
    recorder = os.path.abspath(os.path.join(build, "src/cli/driftharbour-record"))
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    server = subprocess.Popen([os.path.join(build, "bench/icy-bench-server"), "--port", str(port),
                               "--rate", "16000", "--metaint", "16000", "--tick-ms", "100",
                               "--title-every", "32000"],
                              stdout=subprocess.PIPE, text=True)
    server.stdout.readline()
    try:
        with tempfile.TemporaryDirectory() as work:
            profile = os.path.join(work, "callgrind.out")
            out = os.path.join(work, "out")
            os.mkdir(out)
            process = subprocess.Popen(["valgrind", "--tool=callgrind", "--demangle=no",
                                        f"--callgrind-out-file={profile}", recorder, "--quiet", "--dir", out,
                                        f"http://127.0.0.1:{port}/s/1"],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(seconds)
            process.send_signal(signal.SIGTERM)
            process.wait(timeout=60)
            report = subprocess.run(["callgrind_annotate", "--threshold=100", profile],
                                    capture_output=True, text=True, check=True).stdout
    finally:
        server.terminate()
        server.communicate()
    return functions_of(report, recorder)


def functions_of(report, program):
    """The mangled names of program's functions in a callgrind_annotate
    report, in its order (hottest first), each once."""
    # "   1,234 ( 0.01%)  file:function [object]"
    line_form = re.compile(r"^\s*[\d,]+\s+\([^)]*\)\s+[^:]*:(\S+) \[(.*)\]$")
    names = []
    for line in report.splitlines():
        match = line_form.match(line)
        if not match or os.path.realpath(match.group(2)) != os.path.realpath(program):
            continue
        name = re.sub(r"'\d+$", "", match.group(1))  # callgrind's recursion marks
        if name.startswith("0x") or name in names:  # 0x...: code without a symbol
            continue
        names.append(name)
    return names


def read_order(path):
    with open(path) as order:
        return [line.strip() for line in order if line.strip() and not line.startswith("#")]


def text_symbols(recorder):
    """(address, size, name) of the recorder's defined code symbols."""
    listing = subprocess.run(["nm", "--defined-only", "-S", recorder], capture_output=True, text=True,
                             check=True).stdout
    symbols = []
    for line in listing.splitlines():
        fields = line.split()
        if len(fields) == 4 and fields[2] in "tTwW":
            symbols.append((int(fields[0], 16), int(fields[1], 16), fields[3]))
    return symbols


def layout_fault(listed, symbols):
    """Why symbols (address, size, name) do not start with the listed
    functions, or None: no unlisted function between the first and the last
    of them, and most of them still in the program."""
    listed = set(listed)
    ordered = [(address, size) for address, size, name in symbols if name in listed]
    found = {name for _, _, name in symbols if name in listed}
    if not listed or len(found) < len(listed) / 2:
        return f"only {len(found)} of the {len(listed)} listed functions are in the program: " \
               "regenerate the list with bench/function_order.py"
    start = min(address for address, _ in ordered)
    end = max(address + size for address, size in ordered)
    ordered_addresses = {address for address, _ in ordered}
    # A listed function's section may hold an unlisted symbol too (a thunk
    # and its function share one), so a few are allowed; an unordered link
    # has hundreds.
    between = [name for address, _, name in symbols
               if start <= address < end and address not in ordered_addresses]
    if len(between) > len(found) // 20:
        return f"{len(between)} unlisted functions lie among the {len(found)} listed ones, " \
               f"for example {between[0]}: was the program linked with lld and the list?"
    return None


def verify(recorder, order_path):
    listed = read_order(order_path)
    symbols = text_symbols(recorder)
    fault = layout_fault(listed, symbols)
    if fault:
        print(f"{recorder}, {order_path}: {fault}")
        return 1
    ordered = [(address, size, name) for address, size, name in symbols if name in set(listed)]
    span = max(address + size for address, size, _ in ordered) - min(address for address, _, _ in ordered)
    found = len({name for _, _, name in ordered})
    print(f"{found} of {len(listed)} listed functions in {span / 1024:.0f} KiB at the start of the text")
    return 0


def check(build, order_path, seconds):
    recorder = os.path.join(build, "src/cli/driftharbour-record")
    listed = set(read_order(order_path))
    sizes = {name: size for _, size, name in text_symbols(recorder)}
    ran = trace(build, seconds)
    missing = [name for name in ran if name not in listed]
    ran_bytes = sum(sizes.get(name, 0) for name in ran)
    missing_bytes = sum(sizes.get(name, 0) for name in missing)
    print(f"a plain stream ran {len(ran)} functions ({ran_bytes / 1024:.0f} KiB); "
          f"{len(missing)} of them ({missing_bytes / 1024:.0f} KiB) are not in {order_path}")
    for name in missing[:20]:
        print(f"  {name}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build/default")
    parser.add_argument("--seconds", type=float, default=10.0)
    parser.add_argument("--order", default=DEFAULT_ORDER)
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--verify", metavar="RECORDER")
    options = parser.parse_args()
    if options.verify:
        return verify(options.verify, options.order)
    if options.check:
        check(options.build, options.order, options.seconds)
        return 0
    names = trace(options.build, options.seconds)
    with open(options.order, "w") as order:
        order.write(HEADER)
        order.write("".join(name + "\n" for name in names))
    print(f"{len(names)} functions written to {options.order}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
