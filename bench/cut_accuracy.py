#!/usr/bin/env python3
"""Cut accuracy: where each song's file ends, against where the song really
ends, for a loopback test station whose songs (bands of noise, 20-60 s) are
separated by 0.3-2 s of digital silence and whose title changes come between
EARLY s early and LATE s late (--lag EARLY:LATE, default 2:5; seeded), served
as MP3 and as AAC (ADTS) with ICY metadata every 8192 bytes.

The recorders take every stream from its first byte:
  meta     driftharbour-record, cutting at the metadata (Smart Splitting, the default)
  silence  driftharbour-record --cut-at-silence, with its own default window
           (6:4, widened around the station's learned title lag), or
           --cut-at-silence=BEFORE:AFTER with --window BEFORE:AFTER
  baseline with --baseline-build DIR: that build's driftharbour-record
           --cut-at-silence (its own default), for a before/after in one run
  ripper   streamripper with its own silence search (its defaults), when
           it is installed

The truth comes from decoding the served streams: each gap between two songs
is found in the decoded audio, and a cut is placed right at the gap's middle,
where half the silence belongs to each song. Each recorded file is found in
the served stream by its bytes (tags stripped); it ends where its last
complete frame ends. For every gap, the file end nearest it counts: printed
are the median, 95th percentile and worst distance in ms per format and
recorder, how many cuts fell inside the gap, the same for the titles that
came late and those that came early, and the CPU time of the
driftharbour-record processes per stream-minute with cutting at silence on
and off (getrusage of each child). Every file is decoded once as a check.

    bench/cut_accuracy.py [--recorder-build DIR] [--baseline-build DIR] [--songs 30] [--seed 1]
                          [--speed 8] [--window default|BEFORE:AFTER] [--lag 2:5]

--recorder-build takes the build tree whose src/cli/driftharbour-record runs
(default build/default). Everything talks to 127.0.0.1 only.
"""
import argparse
import bisect
import os
import random
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

RATE = 44100
METAINT = 8192
BITRATE = 128
FORMATS = {
    "mp3": {"samples": 1152, "type": "audio/mpeg",
            "encode": ["-c:a", "libmp3lame", "-b:a", "128k", "-write_xing", "0", "-id3v2_version", "0", "-f", "mp3"]},
    "aac": {"samples": 1024, "type": "audio/aacp", "encode": ["-c:a", "aac", "-b:a", "128k", "-f", "adts"]},
}


def run(arguments, **kwargs):
    return subprocess.run(arguments, check=True, capture_output=True, **kwargs).stdout


def make_program(count, seed):
    """Songs and gaps in seconds, seeded: [(song seconds, band Hz, gap seconds)]."""
    rng = random.Random(seed)
    return [(rng.uniform(20, 60), 250 * (1 + index % 24), rng.uniform(0.3, 2.0)) for index in range(count)]


def encode(program, work, name):
    graph, labels = [], ""
    for index, (seconds, band, gap) in enumerate(program):
        graph.append(f"anoisesrc=r={RATE}:c=white:seed={index + 1}:a=0.4:d={seconds:.3f},"
                     f"bandpass=f={band}:width_type=o:w=1[s{index}]")
        graph.append(f"anullsrc=r={RATE}:cl=mono,atrim=duration={gap:.3f}[g{index}]")
        labels += f"[s{index}][g{index}]"
    graph = ";".join(graph) + f";{labels}concat=n={2 * len(program)}:v=0:a=1," \
                              f"aformat=sample_fmts=fltp:sample_rates={RATE}:channel_layouts=stereo[out]"
    script = os.path.join(work, "graph.txt")
    with open(script, "w") as out:
        out.write(graph)
    path = os.path.join(work, f"station.{name}")
    run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-filter_complex_script", script, "-map", "[out]"]
        + FORMATS[name]["encode"] + [path])
    with open(path, "rb") as stream:
        return path, stream.read()


def frame_table(path):
    frames = []
    for line in run(["ffprobe", "-v", "error", "-show_entries", "packet=pos,size", "-of", "compact=p=0", path],
                    text=True).split():
        fields = dict(field.split("=") for field in line.split("|"))
        frames.append((int(fields["pos"]), int(fields["size"])))
    return frames


def find_gaps(path, program):
    """The gaps between songs on the decoded timeline, in samples: the runs of
    at least 100 ms in which no sample reaches -80 dBFS (ffmpeg's
    silencedetect), the one nearest each asked gap."""
    log = subprocess.run(["ffmpeg", "-nostdin", "-v", "info", "-i", path, "-af",
                          "silencedetect=noise=-80dB:d=0.1", "-f", "null", "-"],
                         check=True, capture_output=True, text=True).stderr
    runs, start = [], None
    for line in log.splitlines():
        if "silence_start:" in line:
            start = float(line.split("silence_start:")[1].split()[0])
        elif "silence_end:" in line and start is not None:
            runs.append((start * RATE, float(line.split("silence_end:")[1].split()[0]) * RATE))
            start = None
    gaps, nominal = [], 0.0
    for seconds, _, gap in program[:-1]:
        nominal += seconds
        middle = (nominal + gap / 2) * RATE
        gaps.append(min(runs, key=lambda span: abs((span[0] + span[1]) / 2 - middle)))
        nominal += gap
    return gaps


def title_schedule(program, frames, samples, seed, early, late_most):
    """(byte offset, title) of each title change: song i's title at the
    metadata block nearest its start plus a lateness from -early to
    +late_most s."""
    rng = random.Random(seed * 7 + 1)
    changes, start = [(0, "Harbour Band 00 - Song 00")], 0.0
    for index in range(1, len(program)):
        start += program[index - 1][0] + program[index - 1][2]
        late = rng.uniform(-early + 0.25, late_most - 0.25)  # a block's half either side stays within
        frame = max(0, min(len(frames) - 1, round((start + late) * RATE / samples)))
        block = max(1, round(frames[frame][0] / METAINT))
        changes.append((block * METAINT, f"Harbour Band {index:02d} - Song {index:02d}"))
    return changes


class Station:
    """A loopback ICY server: /<format>/<client> sends that format's stream
    once, from its first byte, paced at speed times its byte rate, with
    metadata every METAINT bytes; afterwards it keeps the connection open."""

    def __init__(self, streams, speed):
        self.streams = streams  # name -> (bytes, changes, seconds)
        self.speed = speed
        self.served = set()
        self.finished = 0
        self.lock = threading.Lock()
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.closing = threading.Event()
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while not self.closing.is_set():
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self.serve, args=(client,), daemon=True).start()

    def serve(self, client):
        with client:
            request = b""
            while b"\r\n\r\n" not in request:
                chunk = client.recv(4096)
                if not chunk:
                    return
                request += chunk
            path = request.split(b" ", 2)[1].decode()
            name = path.strip("/").split("/")[0]
            with self.lock:
                fresh = name in self.streams and path not in self.served
                self.served.add(path)
            if not fresh:
                client.sendall(b"HTTP/1.0 404 Not Found\r\n\r\n")
                return
            metadata = any(line.split(b":", 1)[0].strip() == b"icy-metadata" and line.split(b":", 1)[1].strip() == b"1"
                           for line in request.lower().split(b"\r\n")[1:] if b":" in line)
            audio, changes, seconds = self.streams[name]
            head = (f"ICY 200 OK\r\nContent-Type: {FORMATS[name]['type']}\r\nicy-name: Harbour Bench\r\n"
                    f"icy-br: {BITRATE}\r\n" + (f"icy-metaint: {METAINT}\r\n" if metadata else "") + "\r\n")
            client.sendall(head.encode())
            per_tick = max(METAINT, int(len(audio) / seconds * self.speed * 0.05))
            sent, title, next_change, began = 0, None, 0, time.monotonic()
            try:
                while sent < len(audio):
                    out = bytearray()
                    while len(out) < per_tick and sent < len(audio):
                        block = audio[sent:sent + METAINT]
                        sent += len(block)
                        out += block
                        if metadata and len(block) == METAINT:
                            while next_change < len(changes) and changes[next_change][0] <= sent:
                                next_change += 1
                            current = changes[next_change - 1][1]
                            text = b""
                            if current != title:
                                title = current
                                text = f"StreamTitle='{title}';StreamUrl='';".encode()
                            length = (len(text) + 15) // 16
                            out += bytes([length]) + text.ljust(16 * length, b"\0")
                    client.sendall(out)
                    wait = began + sent / (len(audio) / seconds * self.speed) - time.monotonic()
                    if wait > 0:
                        time.sleep(wait)
                with self.lock:
                    self.finished += 1
                self.closing.wait()
            except OSError:
                pass

    def close(self):
        self.closing.set()
        self.listener.close()


def strip_tags(data):
    if data[:3] == b"ID3" and len(data) >= 10:
        size = 10 + ((data[6] & 0x7F) << 21 | (data[7] & 0x7F) << 14 | (data[8] & 0x7F) << 7 | (data[9] & 0x7F))
        size += 10 if data[5] & 0x10 else 0
        data = data[size:]
    if len(data) >= 128 and data[-128:-125] == b"TAG":
        data = data[:-128]
    return data


def file_ends(directory, stream, frames, samples):
    """Where each recorded file's audio ends, in samples of the stream's
    decoded timeline, and how many files could not be placed or decoded."""
    ends, unplaced, undecodable = [], 0, 0
    frame_ends = [position + size for position, size in frames]
    for root, _, names in os.walk(directory):
        for name in names:
            path = os.path.join(root, name)
            with open(path, "rb") as recorded:
                data = strip_tags(recorded.read())
            if len(data) < 4096:
                continue
            middle = len(data) // 2
            found = stream.find(data[middle:middle + 4096])
            offset = found - middle
            if found < 0 or stream[offset:offset + len(data)] != data:
                unplaced += 1
                continue
            end = offset + len(data)
            complete = bisect.bisect_right(frame_ends, end)  # frames that end in the file
            if complete:
                ends.append(complete * samples)
            if subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "null", "-"],
                              capture_output=True).returncode != 0:
                undecodable += 1
    return sorted(ends), unplaced, undecodable


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(fraction * (len(ordered) - 1))))]


def recorder_of(build):
    recorder = os.path.join(build, "src/cli/driftharbour-record")
    if not os.access(recorder, os.X_OK):
        sys.exit(f"{recorder} is missing: build it first (cmake --build {build} --target driftharbour-record)")
    return recorder


def start_recorders(build, baseline, port, work, names, window):
    recorder = recorder_of(build)
    methods = [("meta", [recorder, "--quiet"]),
               ("silence", [recorder, "--quiet", "--cut-at-silence" + ("" if window == "default" else "=" + window)])]
    if baseline:
        methods.append(("baseline", [recorder_of(baseline), "--quiet", "--cut-at-silence"]))
    if shutil.which("streamripper") is not None:
        methods.append(("ripper", ["streamripper"]))
    else:
        print("streamripper is not installed (bench/setup.sh installs it): its row is left out")
    processes = {}
    for name in names:
        url = f"http://127.0.0.1:{port}/{name}"
        for method, command in methods:
            directory = os.path.join(work, f"{method}-{name}")
            os.makedirs(directory)
            if method == "ripper":
                command = command + [f"{url}/{method}", "-d", directory, "-s", "--quiet"]
            else:
                command = command + ["--dir", directory, f"{url}/{method}"]
            processes[(method, name)] = (subprocess.Popen(command, stdout=subprocess.DEVNULL,
                                                          stderr=subprocess.DEVNULL), directory)
    return processes


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--recorder-build", default="build/default")
    parser.add_argument("--songs", type=int, default=30)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--speed", type=float, default=8.0)
    parser.add_argument("--formats", default="mp3,aac")
    parser.add_argument("--baseline-build")
    parser.add_argument("--window", default="default")
    parser.add_argument("--lag", default="2:5", help="EARLY:LATE, the seconds titles come early and late at most")
    parser.add_argument("--keep", help="keep the recordings in this directory")
    args = parser.parse_args()
    names = args.formats.split(",")
    early, late_most = (float(part) for part in args.lag.split(":"))
    work = args.keep or tempfile.mkdtemp(prefix="cut-accuracy-")
    os.makedirs(work, exist_ok=True)
    try:
        program = make_program(args.songs, args.seed)
        seconds = sum(song + gap for song, _, gap in program)
        print(f"{args.songs} songs, {seconds / 60:.1f} min per stream, served at {args.speed:g}x; "
              f"recorder {args.recorder_build}, search window {args.window}, titles {early:g} s early "
              f"to {late_most:g} s late")
        streams, truth = {}, {}
        for name in names:
            path, audio = encode(program, work, name)
            frames = frame_table(path)
            samples = FORMATS[name]["samples"]
            changes = title_schedule(program, frames, samples, args.seed, early, late_most)
            streams[name] = (audio, changes, seconds)
            gaps = find_gaps(path, program)
            # How late each gap's title came, in seconds (negative: early).
            starts = [position for position, _ in frames]
            lateness = [(bisect.bisect_right(starts, offset) - 1) * samples / RATE - (start + stop) / 2 / RATE
                        for (offset, _), (start, stop) in zip(changes[1:], gaps)]
            truth[name] = (frames, gaps, lateness)

        station = Station(streams, args.speed)
        processes = start_recorders(args.recorder_build, args.baseline_build, station.port, work, names,
                                    args.window)
        deadline = time.monotonic() + seconds / args.speed * 3 + 60
        while station.finished < len(processes) and time.monotonic() < deadline:
            time.sleep(0.5)
        time.sleep(2)  # the last bytes through the sockets
        cpu = {}
        for key, (process, _) in processes.items():
            if process.poll() is not None:
                sys.exit(f"{key[0]} recorder of {key[1]} ended early with status {process.returncode}")
        for key, (process, _) in processes.items():
            process.send_signal(signal.SIGTERM)
        for key, (process, _) in processes.items():
            _, status, usage = os.wait4(process.pid, 0)
            process.returncode = os.waitstatus_to_exitcode(status)
            cpu[key] = usage.ru_utime + usage.ru_stime
        station.close()

        print(f"\n{'format':6} {'recorder':8} {'cuts':>5} {'in gap':>6} {'median':>7} {'p95':>7} {'worst':>7}  "
              f"(ms from the middle of the gap)")
        methods = [method for method in ("meta", "silence", "baseline", "ripper") if (method, names[0]) in processes]
        for name in names:
            frames, gaps, lateness = truth[name]
            samples = FORMATS[name]["samples"]
            for method in methods:
                ends, unplaced, undecodable = file_ends(processes[(method, name)][1], streams[name][0], frames,
                                                        samples)
                if not ends:
                    print(f"{name:6} {method:8} no files")
                    continue
                rows = {"all": ([], []), "late": ([], []), "early": ([], [])}
                for (start, stop), late in zip(gaps, lateness):
                    end = min(ends, key=lambda sample: abs(sample - (start + stop) / 2))
                    error = abs(end - (start + stop) / 2) * 1000 / RATE
                    for row in ("all", "late" if late > 0 else "early"):
                        rows[row][0].append(error)
                        rows[row][1].append(start <= end <= stop)
                notes = (f"  {unplaced} files not found in the stream" if unplaced else "") + \
                        (f"  {undecodable} files do not decode" if undecodable else "")
                for row, (errors, inside) in rows.items():
                    if errors:
                        label = method if row == "all" else f"  {row}"
                        print(f"{name:6} {label:8} {len(errors):5} {sum(inside):6} {statistics.median(errors):7.0f} "
                              f"{percentile(errors, 0.95):7.0f} {max(errors):7.0f}{notes if row == 'all' else ''}")

        minutes = seconds / 60
        print(f"\nCPU of driftharbour-record per stream-minute (user + system, getrusage):")
        for name in names:
            off, on = cpu[("meta", name)] * 1000 / minutes, cpu[("silence", name)] * 1000 / minutes
            print(f"{name:6} cutting off {off:7.1f} ms   at silence {on:7.1f} ms   ratio {on / max(off, 1e-9):.2f}")
            if ("baseline", name) in cpu:
                print(f"{'':6} baseline at silence {cpu[('baseline', name)] * 1000 / minutes:7.1f} ms")
            if ("ripper", name) in cpu:
                print(f"{'':6} streamripper {cpu[('ripper', name)] * 1000 / minutes:6.1f} ms")
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
