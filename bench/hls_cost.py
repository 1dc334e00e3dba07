#!/usr/bin/env python3
"""HLS cost per stream: N loopback HLS stations (live sliding-window
playlists, 128 kbit/s AAC, paced in real time) recorded for a while by ONE
driftharbour-record process, beside N `ffmpeg -i URL -c copy` processes of
the same playlists.

Prints CPU milliseconds per stream-minute (user + system time of the
recording processes, from /proc; the whole run and the steady state) and
resident memory per stream (VmRSS summed over the processes near the end of
the run, / N; for ffmpeg also PSS, which shares the libraries out), and
checks what each recorded against what the server handed out: every
stream's audio bytes, with the ID3 tags left out.

With --tls the stations are served over HTTPS: the script makes a CA and a
certificate for 127.0.0.1 with the openssl tool, the recorder trusts the CA
through CURL_CA_BUNDLE (ffmpeg does not check certificates unless told),
and the server counts connections and TLS handshakes (full, and resumed
from a session), reported per stream-minute. --requests-per-connection N
makes the server close each connection after N answers, as servers that
limit keep-alive do, so that session resumption shows.

The stations are served by this script (a threaded http.server on
127.0.0.1). Segments are packed ADTS with an ID3 title tag each (--container
aac, the default: the title carries the stream number, so that one
recorder's files can be told apart) or MPEG-TS cut by ffmpeg's hls muxer
(--container ts, untitled).

    bench/hls_cost.py [--streams 1,100] [--seconds 60] [--segment-seconds 4] [--tls]
                      [--recorder build/default/src/cli/driftharbour-record]
                      [--recorder another/build/driftharbour-record ...]
"""
import argparse
import http.server
import os
import re
import resource
import shutil
import signal
import ssl
import subprocess
import sys
import tempfile
import threading
import time

from process_usage import cpu_of, memory_of

WINDOW = 6  # segments listed in a playlist
TITLE_EVERY = 8  # segments per title
TITLES = 4  # titles before they repeat
POOL_SECONDS = 64  # audio encoded once and served round and round


def run(command):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if result.returncode != 0:
        sys.exit(f"{' '.join(command)} failed:\n{result.stderr.decode(errors='replace')}")
    return result.stdout


def adts_frames(data):
    frames, at = [], 0
    while at + 7 <= len(data):
        if data[at] != 0xFF or (data[at + 1] & 0xF6) != 0xF0:
            sys.exit(f"not ADTS at byte {at}")
        length = ((data[at + 3] & 0x03) << 11) | (data[at + 4] << 3) | (data[at + 5] >> 5)
        frames.append(data[at:at + length])
        at += length
    return frames


def id3_size(data):
    if len(data) < 10 or data[:3] != b"ID3":
        return 0
    size = 0
    for byte in data[6:10]:
        size = (size << 7) | (byte & 0x7F)
    return 10 + size + (10 if data[5] & 0x10 else 0)


def strip_id3(data):
    while (size := id3_size(data)) > 0:
        data = data[size:]
    return data


class Pool:
    """The segments every station serves, in order and round again. Each is
    (audio, tag index or None); the tag is written per stream."""

    def __init__(self, work, container, segment_seconds):
        source = os.path.join(work, "pool.aac")
        # Pink noise keeps the encoder near its bit rate, as music does.
        run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
             f"anoisesrc=color=pink:amplitude=0.3:sample_rate=44100:duration={POOL_SECONDS}",
             "-ac", "2", "-c:a", "aac", "-b:a", "128k", "-f", "adts", source])
        self.container = container
        self.segments = []  # (bytes served without tag, audio bytes in it)
        if container == "aac":
            frames = adts_frames(open(source, "rb").read())
            per_segment = max(1, round(segment_seconds * 44100 / 1024))
            for first in range(0, len(frames) - per_segment + 1, per_segment):
                audio = b"".join(frames[first:first + per_segment])
                self.segments.append((audio, len(audio)))
            self.tags = [self.make_tag(work, index) for index in range(TITLES)]
        else:
            directory = os.path.join(work, "ts")
            os.makedirs(directory)
            run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", source, "-c", "copy", "-f", "hls",
                 "-hls_time", str(segment_seconds), "-hls_list_size", "0",
                 "-hls_segment_filename", os.path.join(directory, "%d.ts"), os.path.join(directory, "list.m3u8")])
            names = [line for line in open(os.path.join(directory, "list.m3u8")).read().splitlines()
                     if line and not line.startswith("#")]
            for name in names[:-1]:  # the last one is short
                path = os.path.join(directory, name)
                sizes = run(["ffprobe", "-v", "error", "-select_streams", "a", "-show_entries", "packet=size",
                             "-of", "default=noprint_wrappers=1:nokey=1", path]).split()
                self.segments.append((open(path, "rb").read(), sum(int(size) for size in sizes)))
            self.tags = []

    @staticmethod
    def make_tag(work, index):
        # ffmpeg writes the tag; the stream number is patched in per stream
        # (same length, so every size in the tag stays right).
        path = os.path.join(work, f"tag{index}.aac")
        run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", "anullsrc=r=44100:cl=mono",
             "-t", "0.05", "-c:a", "aac", "-f", "adts", "-write_id3v2", "1", "-fflags", "+bitexact",
             "-metadata", "artist=S00000", "-metadata", f"title=Song {index}", path])
        data = open(path, "rb").read()
        return data[:id3_size(data)]

    def segment(self, stream, sequence):
        audio, audio_bytes = self.segments[sequence % len(self.segments)]
        if not self.tags:
            return audio, audio_bytes
        tag = self.tags[(sequence // TITLE_EVERY) % TITLES].replace(b"S00000", f"S{stream:05d}".encode())
        return tag + audio, audio_bytes


def make_certificates(work):
    """A CA and a certificate for 127.0.0.1 signed by it: (ca file, cert
    file, key file)."""
    ca_key, ca_cert = os.path.join(work, "ca.key"), os.path.join(work, "ca.pem")
    key, request, cert = (os.path.join(work, name) for name in ("server.key", "server.csr", "server.pem"))
    extensions = os.path.join(work, "server.ext")
    with open(extensions, "w") as file:
        file.write("subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n")
    run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_key, "-out", ca_cert,
         "-days", "2", "-subj", "/CN=hls_cost loopback CA"])
    run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", request,
         "-subj", "/CN=127.0.0.1"])
    run(["openssl", "x509", "-req", "-in", request, "-CA", ca_cert, "-CAkey", ca_key, "-CAcreateserial",
         "-out", cert, "-days", "2", "-extfile", extensions])
    return ca_cert, cert, key


class Stations:
    """The live clock: at any time the playlist ends with the segment that
    the clock has reached and lists WINDOW of them."""

    def __init__(self, pool, segment_seconds):
        self.pool = pool
        self.segment_seconds = segment_seconds
        self.start = time.monotonic()
        self.lock = threading.Lock()
        self.served = {}  # stream -> audio bytes handed out
        self.connections = 0
        self.handshakes = 0  # full TLS handshakes
        self.resumed = 0  # TLS handshakes that resumed a session

    def count_connection(self, handshake=None):
        with self.lock:
            self.connections += 1
            if handshake == "full":
                self.handshakes += 1
            elif handshake == "resumed":
                self.resumed += 1

    def newest(self):
        return WINDOW - 1 + int((time.monotonic() - self.start) / self.segment_seconds)

    def playlist(self, stream):
        newest = self.newest()
        first = max(0, newest - WINDOW + 1)
        ext = "aac" if self.pool.container == "aac" else "ts"
        lines = ["#EXTM3U", "#EXT-X-VERSION:3", f"#EXT-X-TARGETDURATION:{round(self.segment_seconds)}",
                 f"#EXT-X-MEDIA-SEQUENCE:{first}"]
        for sequence in range(first, newest + 1):
            lines += [f"#EXTINF:{self.segment_seconds:.3f},", f"{sequence}.{ext}"]
        return ("\n".join(lines) + "\n").encode()

    def segment(self, stream, sequence):
        if sequence > self.newest() or sequence < self.newest() - 2 * WINDOW:
            return None
        data, audio_bytes = self.pool.segment(stream, sequence)
        with self.lock:
            self.served[stream] = self.served.get(stream, 0) + audio_bytes
        return data


def serve(stations, port, tls=None, per_connection=0):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"  # keep-alive for whoever asks for it
        answered = 0  # on this connection

        def setup(self):
            if tls is not None:
                # The handshake runs here, on the connection's own thread,
                # not in the accepting one.
                try:
                    self.request.do_handshake()
                except (OSError, ssl.SSLError):
                    stations.count_connection()
                    raise
                stations.count_connection("resumed" if self.request.session_reused else "full")
            else:
                stations.count_connection()
            super().setup()

        def do_GET(self):
            match = re.fullmatch(r"/s/(\d+)/(live\.m3u8|(\d+)\.(aac|ts))", self.path)
            body, kind = None, "application/vnd.apple.mpegurl"
            if match and match.group(2) == "live.m3u8":
                body = stations.playlist(int(match.group(1)))
            elif match:
                body = stations.segment(int(match.group(1)), int(match.group(3)))
                kind = "audio/aac" if match.group(4) == "aac" else "video/mp2t"
            if body is None:
                self.send_error(404)
                return
            self.send_response(200)
            self.send_header("Content-Type", kind)
            self.send_header("Content-Length", str(len(body)))
            self.answered += 1
            if per_connection and self.answered >= per_connection:
                # As servers that limit their keep-alive do.
                self.send_header("Connection", "close")
                self.close_connection = True
            self.end_headers()
            try:
                self.wfile.write(body)
            except OSError:
                pass

        def log_message(self, *args):
            pass

    class Server(http.server.ThreadingHTTPServer):
        request_queue_size = 1024
        daemon_threads = True

        def handle_error(self, request, client_address):
            pass  # a client that hung up or refused the certificate

    server = Server(("127.0.0.1", port), Handler)
    if tls is not None:
        server.socket = tls.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def measure(processes, seconds):
    """Runs the processes for `seconds`, then stops them with SIGTERM.
    Returns (cpu seconds over the whole run, cpu seconds per second from 20 %
    to 90 % of the run, rss MB, pss MB near the end)."""
    pids = [p.pid for p in processes]
    time.sleep(seconds * 0.2)
    window_start, cpu_start = time.perf_counter(), cpu_of(pids)
    time.sleep(seconds * 0.7)
    window, cpu_window = time.perf_counter() - window_start, cpu_of(pids) - cpu_start
    rss, pss = memory_of(pids)
    time.sleep(seconds * 0.1)
    cpu = cpu_of(pids)  # before the exit, while /proc still has them
    for process in processes:
        if process.poll() is None:
            process.send_signal(signal.SIGTERM)
    for process in processes:
        try:
            process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    return cpu, cpu_window / window, rss, pss


def recorded_by_stream(out, n, pattern):
    """Audio bytes per stream in out: files whose name holds the stream's
    mark (pattern % i), ID3 tags left out."""
    totals = [0] * n
    for root, _, names in os.walk(out):
        for name in names:
            match = re.search(pattern, name)
            if match and int(match.group(1)) < n:
                with open(os.path.join(root, name), "rb") as file:
                    totals[int(match.group(1))] += len(strip_id3(file.read()))
    return totals


def check(recorded, served, segment_bytes):
    problems = []
    for stream, got in enumerate(recorded):
        sent = served.get(stream, 0)
        # A segment may be in flight at the stop; more than sent is a fault.
        if got > sent or sent - got > 2 * segment_bytes or got == 0:
            problems.append(f"stream {stream}: {got} audio bytes recorded of {sent} served")
    return problems


class Site:
    """Where the stations are served: the scheme, and for HTTPS the server's
    TLS context and the environment that makes the recorder trust it."""

    def __init__(self, work, tls):
        self.tls, self.environment = None, dict(os.environ)
        self.scheme = "https" if tls else "http"
        if tls:
            ca, cert, key = make_certificates(work)
            self.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self.tls.load_cert_chain(cert, key)
            self.environment["CURL_CA_BUNDLE"] = ca

    def url(self, args, stream):
        return f"{self.scheme}://127.0.0.1:{args.port}/s/{stream}/live.m3u8"


def run_recorder(recorder, pool, site, args, n, out):
    stations = Stations(pool, args.segment_seconds)
    server = serve(stations, args.port, site.tls, args.requests_per_connection)
    try:
        urls = [site.url(args, i) for i in range(n)]
        # Smart Splitting copies audio around a title change into both files.
        process = subprocess.Popen([recorder, "--quiet", "--no-smart-splitting", "--dir", out] + urls,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=site.environment)
        cpu, steady, rss, pss = measure([process], args.seconds)
        errors = process.stderr.read().decode(errors="replace").strip()
    finally:
        server.shutdown()
        server.server_close()
    pattern = r"S(\d{5})" if pool.container == "aac" else r"^()$"  # untitled TS: not told apart
    recorded = recorded_by_stream(out, n, pattern)
    problems = check(recorded, stations.served, len(pool.segments[0][0])) if pool.container == "aac" else []
    if pool.container != "aac":
        total = sum(os.path.getsize(os.path.join(r, f)) for r, _, fs in os.walk(out) for f in fs)
        if total == 0:
            problems.append("nothing recorded")
    if problems and errors:
        problems.append("recorder said: " + errors.splitlines()[-1][:200])
    return cpu, steady, rss, pss, stations, problems


def run_ffmpeg(pool, site, args, n, out):
    stations = Stations(pool, args.segment_seconds)
    server = serve(stations, args.port, site.tls, args.requests_per_connection)
    processes = []
    try:
        for i in range(n):
            processes.append(subprocess.Popen(
                ["ffmpeg", "-nostdin", "-v", "error", "-i", site.url(args, i), "-c", "copy", "-f", "adts",
                 os.path.join(out, f"S{i:05d}.aac")],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        cpu, steady, rss, pss = measure(processes, args.seconds)
    finally:
        server.shutdown()
        server.server_close()
    recorded = recorded_by_stream(out, n, r"S(\d{5})")
    return cpu, steady, rss, pss, stations, check(recorded, stations.served, len(pool.segments[0][0]))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--streams", default="1,100")
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--segment-seconds", type=float, default=4)
    parser.add_argument("--container", choices=("aac", "ts"), default="aac")
    parser.add_argument("--tls", action="store_true", help="serve the stations over HTTPS")
    parser.add_argument("--requests-per-connection", type=int, default=0,
                        help="close a connection after this many answers (default 0: never)")
    parser.add_argument("--recorder", action="append",
                        help="a driftharbour-record to measure; give it again to compare builds in one run "
                             "(default build/default/src/cli/driftharbour-record)")
    parser.add_argument("--no-recorder", action="store_true", help="measure ffmpeg only")
    parser.add_argument("--peers-max", type=int, default=100,
                        help="largest N at which one ffmpeg per stream runs (default 100)")
    parser.add_argument("--port", type=int, default=18300)
    args = parser.parse_args()
    recorders = args.recorder or ["build/default/src/cli/driftharbour-record"]
    if shutil.which("ffmpeg") is None:
        sys.exit("ffmpeg is not installed")
    if args.tls and shutil.which("openssl") is None:
        sys.exit("--tls needs the openssl tool")
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))

    work = tempfile.mkdtemp(prefix="dh-hls-")
    rows, notes, failures = [], [], []
    try:
        pool = Pool(work, args.container, args.segment_seconds)
        site = Site(work, args.tls)
        for n in [int(x) for x in args.streams.split(",")]:
            runs = []
            for recorder in ([] if args.no_recorder else recorders):
                name = "driftharbour-record" + (f" #{recorders.index(recorder) + 1}" if len(recorders) > 1 else "")
                if os.access(recorder, os.X_OK):
                    runs.append((name, lambda out, n=n, r=recorder: run_recorder(r, pool, site, args, n, out)))
                    if len(recorders) > 1:
                        notes.append(f"{name}: {recorder}")
                else:
                    notes.append(f"N={n} {name}: skipped, {recorder} is not there")
            if n <= args.peers_max:
                runs.append(("ffmpeg -c copy", lambda out, n=n: run_ffmpeg(pool, site, args, n, out)))
            else:
                notes.append(f"N={n} ffmpeg: skipped, {n} processes are above --peers-max {args.peers_max}")
            for name, action in runs:
                out = tempfile.mkdtemp(prefix="dh-hls-out-")
                try:
                    cpu, steady, rss, pss, stations, problems = action(out)
                finally:
                    shutil.rmtree(out, ignore_errors=True)
                rows.append((n, name, cpu, steady, rss, pss if name.startswith("ffmpeg") else None,
                             stations.connections, stations.handshakes, stations.resumed))
                verdict = "every stream's audio as served" if not problems else \
                    f"{len(problems)} problems: " + "; ".join(problems[:3])
                notes.append(f"N={n} {name}: {verdict}")
                failures += problems
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print(f"HLS cost per stream: 128 kbit/s AAC, {args.container} segments of {args.segment_seconds:g} s, "
          f"{WINDOW}-segment live window, {args.seconds:g} s per run, over {site.scheme.upper()}")
    print("  CPU: ms per stream-minute over the whole run (start-up included), and in the steady state")
    print("  conn/min, TLS full/min, TLS resumed/min: connections and handshakes the server saw, per stream-minute")
    print(f"  {'N':>5}  {'recorder':24s} {'CPU whole run':>14s} {'CPU steady':>11s} {'RSS MB/str':>11s} "
          f"{'PSS MB/str':>11s} {'conn/min':>9s} {'TLS full/min':>13s} {'TLS resumed/min':>16s}")
    for n, name, cpu, steady, rss, pss, connections, handshakes, resumed in rows:
        minutes = n * args.seconds / 60
        per_minute = cpu * 1000 / minutes
        steady_minute = steady * 1000 * 60 / n
        pss_text = f"{pss / n:11.2f}" if pss is not None else f"{'(1 proc)':>11s}"
        tls_text = f"{handshakes / minutes:13.2f} {resumed / minutes:16.2f}" if site.tls else f"{'-':>13s} {'-':>16s}"
        print(f"  {n:5d}  {name:24s} {per_minute:14.1f} {steady_minute:11.1f} {rss / n:11.2f} {pss_text} "
              f"{connections / minutes:9.2f} {tls_text}")
    for note in notes:
        print("  " + note)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
