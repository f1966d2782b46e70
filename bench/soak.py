#!/usr/bin/env python3
"""Soak test of the corvane daemon, run by hand (not part of the test suite).

Starts the real daemon on a loopback port with a shared folder of its own (seeded with a few
files and a small tree), then lets N STB clients (threads) run a random mix of requests for a
set time: version, listing, download, upload, copy, directory download and directory upload,
with some operations cut off mid-way. Every reply is checked. At the end it reports the
requests served, the operations per kind, the errors, and the daemon's memory, descriptors and
threads at the start, at the peak and after the clients have left; then it ends the daemon
with SIGTERM and reports its exit status.

    bench/soak.py [--daemon PATH] [--clients 200] [--seconds 60] [--seed 1] [--cut 0.05]
"""

import argparse
import collections
import hashlib
import os
import random
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

VER_REQ = bytes.fromhex("A50200114F")
VER_REPLY = bytes.fromhex("A50400E1030426")
LARGE_BLOCK = 32768  # data bytes per frame of the large data requests
UP_BLOCK = 65000  # data bytes per upload block (a frame holds 65,529 behind a 32-bit offset)
SESSION_CAP = 100000  # the daemon's largest --max-sessions
IDLE_LIMIT = 8.0  # the daemon ends a session after 10 s of silence: reconnect before that


class ProtocolError(Exception):
    """A reply that is not what the daemon must send."""


class Cut(Exception):
    """The client cut its connection on purpose."""


def frame(cmd, payload=b""):
    return struct.pack("<BHB", 0xA5, len(payload) + 2, cmd) + payload + bytes([(0x3E + cmd + sum(payload)) & 0xFF])


def u32(v):
    return struct.pack("<I", v)


def digest(data):
    return hashlib.sha1(data).hexdigest() if data is not None else None


class Conn:
    """One STB connection. With cut_after set, the connection is closed abruptly once that
    many frames have passed (a frame being sent is cut in the middle)."""

    def __init__(self, port, stats, cut_after=None):
        self.stats = stats
        self.sock = connect(port, stats)
        self.cut_after = cut_after
        self.last_used = time.monotonic()

    def _tick(self, partial=None):
        if self.cut_after is None:
            return
        if self.cut_after == 0:
            if partial:
                try:
                    self.sock.sendall(partial[: random.randint(1, len(partial) - 1)])
                except OSError:
                    pass
            self.close()
            raise Cut()
        self.cut_after -= 1

    def send(self, cmd, payload=b""):
        data = frame(cmd, payload)
        self._tick(data)
        self.sock.sendall(data)
        self.last_used = time.monotonic()

    def recv_exact(self, n):
        buf = bytearray()
        while len(buf) < n:
            chunk = self.sock.recv(n - len(buf))
            if not chunk:
                raise ProtocolError("connection closed by the daemon after %d of %d bytes" % (len(buf), n))
            buf += chunk
        return bytes(buf)

    def recv_frame(self):
        head = self.recv_exact(3)
        if head[0] != 0xA5:
            raise ProtocolError("frame starts with %02x" % head[0])
        length = struct.unpack("<H", head[1:])[0]
        if length < 2:
            raise ProtocolError("LEN %d" % length)
        body = self.recv_exact(length)
        if (0x3E + sum(body[:-1])) & 0xFF != body[-1]:
            raise ProtocolError("bad checksum")
        self.last_used = time.monotonic()
        self._tick()
        return body[0], body[1:-1]

    def ask(self, cmd, payload, reply, length=None):
        self.send(cmd, payload)
        got_cmd, got = self.recv_frame()
        if got_cmd != reply or (length is not None and len(got) != length):
            raise ProtocolError("request %02x: reply %02x with %d bytes, want %02x" % (cmd, got_cmd, len(got), reply))
        self.stats.count("requests")
        return got

    def stream(self, cmd, reply, offset, size, block, limit):
        """A data request; returns the bytes of its stream (one error frame when empty)."""
        self.send(cmd, u32(offset) + u32(size))
        want = max(0, min(size, limit - offset)) if offset <= limit else 0
        data = bytearray()
        while True:
            got_cmd, got = self.recv_frame()
            if got_cmd != reply or len(got) < 4 or struct.unpack("<I", got[:4])[0] != offset + len(data):
                raise ProtocolError("data frame %02x at %d, want %02x at %d" % (got_cmd, len(data), reply, offset))
            if want == 0:
                if len(got) != 4:
                    raise ProtocolError("error frame with %d bytes" % len(got))
                break
            data += got[4:]
            if len(got) - 4 > block or len(data) > want:
                raise ProtocolError("data frame of %d bytes" % (len(got) - 4))
            if len(data) == want:
                break
        self.stats.count("requests")
        return bytes(data)

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass


def connect(port, stats, deadline=60.0):
    """Connects, retrying: the daemon's backlog is 5, so a crowd sees dropped handshakes."""
    end = time.monotonic() + deadline
    while True:
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        s.settimeout(15.0)
        t0 = time.monotonic()
        try:
            s.connect(("127.0.0.1", port))
            stats.count("connections")
            if time.monotonic() - t0 > 0.5:
                stats.count("slow connects (SYN retried)")
            return s
        except OSError as e:
            s.close()
            stats.count("connect retries")
            if time.monotonic() > end:
                raise ProtocolError("cannot connect: %s" % e)
            time.sleep(0.05)


class Stats:
    def __init__(self):
        self.lock = threading.Lock()
        self.counts = collections.Counter()
        self.ops = collections.Counter()
        self.cuts = collections.Counter()
        self.errors = collections.Counter()
        self.samples = []

    def count(self, what, n=1):
        with self.lock:
            self.counts[what] += n

    def op(self, kind, cut=False):
        with self.lock:
            (self.cuts if cut else self.ops)[kind] += 1

    def error(self, kind, msg):
        with self.lock:
            self.errors["%s: %s" % (kind, msg)] += 1


class Share:
    """The shared folder and what the clients know of its seeded, unchanging part."""

    def __init__(self, root, rng):
        self.root = root
        self.files = {}  # STB path -> bytes, read only
        for i, size in enumerate([100 * 1024, 300 * 1024, 700 * 1024, 1024 * 1024, 2 * 1024 * 1024]):
            self.add("/seed/file%d.bin" % i, rng.randbytes(size))
        for rel, size in [("a.bin", 150000), ("b.txt", 2000), ("sub/c.bin", 64000), ("sub/deeper/d.bin", 5),
                          ("sub/deeper/e.bin", 33000), ("z/f.bin", 1)]:
            self.add("/tree/" + rel, rng.randbytes(size))
        os.makedirs(self.local("/tree/empty"))
        os.makedirs(self.local("/up"))

    def local(self, stb_path):
        return self.root + stb_path

    def add(self, stb_path, data):
        path = self.local(stb_path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        self.files[stb_path] = data

    def listing(self, stb_dir):
        """The names and folder flags a listing of a seeded folder must show."""
        want = {".": 1, "..": 1}
        for name in os.listdir(self.local(stb_dir)):
            want[name] = 1 if os.path.isdir(self.local(stb_dir + "/" + name)) else 0
        return want

    def read(self, stb_path):
        try:
            with open(self.local(stb_path), "rb") as f:
                return f.read()
        except OSError:
            return None


class Client:
    KINDS = ["version", "listing", "download", "upload", "copy", "dir download", "dir upload"]
    WEIGHTS = [20, 10, 15, 20, 8, 12, 15]

    def __init__(self, n, port, share, stats, cut_rate, end_time, seed):
        self.n, self.port, self.share, self.stats = n, port, share, stats
        self.cut_rate, self.end_time = cut_rate, end_time
        self.rng = random.Random(seed * 1000003 + n)
        self.conn = None
        self.conn_ops = 0
        # The generation of this client's file names. A session that was cut off may still
        # be abandoning its upload by name when the client is already at work again, so after
        # a cut or an error the client writes under new names.
        self.gen = 0
        # What each of this client's files may hold: a set of digests, None for "absent".
        self.possible = collections.defaultdict(lambda: {None})

    def main_conn(self, cut_after):
        """The client's main-loop connection, renewed after a while; a cut gets its own."""
        if cut_after is not None:
            return Conn(self.port, self.stats, cut_after)
        if self.conn is not None and (self.conn_ops <= 0 or time.monotonic() - self.conn.last_used > IDLE_LIMIT):
            if self.conn_ops <= 0:
                try:
                    self.conn.send(0x00)  # FC_SESS_CLOSE
                except OSError:
                    pass
            self.conn.close()
            self.conn = None
        if self.conn is None:
            self.conn = Conn(self.port, self.stats)
            self.conn_ops = self.rng.randint(1, 30)
        self.conn_ops -= 1
        return self.conn

    def run(self):
        while time.monotonic() < self.end_time:
            kind = self.rng.choices(self.KINDS, self.WEIGHTS)[0]
            cut_after = self.rng.randint(0, 6) if self.rng.random() < self.cut_rate else None
            conn = None
            try:
                fn = getattr(self, "op_" + kind.replace(" ", "_"))
                if kind in ("version", "listing", "download", "upload"):
                    conn = self.main_conn(cut_after)
                else:
                    conn = Conn(self.port, self.stats, cut_after)
                fn(conn)
                self.stats.op(kind)
                if conn is not self.conn:
                    conn.close()
            except Cut:
                self.stats.op(kind, cut=True)
                self.gen += 1
            except Exception as e:  # anything else is unexpected too: a wrong reply, a closed connection
                self.gen += 1
                self.stats.error(kind, str(e) if isinstance(e, ProtocolError) else type(e).__name__ + " " + str(e))
                if conn is not None:
                    conn.close()
                    if conn is self.conn:
                        self.conn = None
            finally:
                if conn is not None and conn is not self.conn and cut_after is not None:
                    conn.close()
        if self.conn is not None:
            self.conn.close()

    # ---- operations ----

    def op_version(self, conn):
        conn.send(0x11)
        got = conn.recv_exact(len(VER_REPLY))
        conn._tick()
        if got != VER_REPLY:
            raise ProtocolError("version reply %s" % got.hex())
        self.stats.count("requests")

    def op_listing(self, conn):
        folder = self.rng.choice(["/seed", "/tree", "/tree/sub", "/tree/sub/deeper"])
        got = conn.ask(0x07, b"\x01" + folder.encode() + b"\0", 0xF7, 5)
        status, size = got[0], struct.unpack("<I", got[1:])[0]
        if status != 0 or size == 0:
            raise ProtocolError("listing of %s: status %d size %d" % (folder, status, size))
        data = conn.stream(0x23, 0xD3, 0, size, LARGE_BLOCK, size)
        names, at = {}, 0
        while at < len(data):
            end = data.index(b"\0", at + 1)
            names[data[at + 1 : end].decode()] = data[at]
            at = end + 1
        if names != self.share.listing(folder):
            raise ProtocolError("listing of %s differs: %s" % (folder, sorted(names)))

    def op_download(self, conn):
        path = self.rng.choice(sorted(self.share.files))
        data = self.share.files[path]
        cmd, reply = self.rng.choice([(0x02, 0xF2), (0x22, 0xD2)])
        got = conn.ask(cmd, b"\x01" + path.encode() + b"\0", reply, 5)
        if got != b"\0" + u32(len(data)):
            raise ProtocolError("open of %s: %s" % (path, got.hex()))
        for _ in range(self.rng.randint(1, 3)):  # moderate ranges: the daemon paces full blocks
            off = self.rng.randrange(len(data))
            size = self.rng.randint(1, 256 * 1024)
            if conn.stream(0x23, 0xD3, off, size, LARGE_BLOCK, len(data)) != data[off : off + size]:
                raise ProtocolError("wrong bytes of %s at %d" % (path, off))

    def upload_name(self):
        return "/up/c%dg%d_%d.bin" % (self.n, self.gen, self.rng.randrange(3))

    def op_upload(self, conn):
        path = self.upload_name()
        data = self.rng.randbytes(self.rng.randint(1, 512 * 1024))
        before = set(self.possible[path])
        self.possible[path] = before | {None, digest(data)}  # until the outcome is known
        got = conn.ask(0x0D, b"\x05" + u32(len(data)) + path.encode() + b"\0", 0xFD, 1)
        if got != b"\0":
            raise ProtocolError("upload open of %s: status %d" % (path, got[0]))
        for off in range(0, len(data), UP_BLOCK):
            block = data[off : off + UP_BLOCK]
            got = conn.ask(0x0E, u32(off) + block, 0xFE, 8)
            if got != u32(off) + u32(len(block)):
                raise ProtocolError("block of %s at %d: %s" % (path, off, got.hex()))
        self.possible[path] = {digest(data)}
        if self.share.read(path) != data:
            raise ProtocolError("uploaded %s does not hold the bytes sent" % path)

    def op_copy(self, conn):
        # One copy per session: every later copy request of the session is a poll.
        src = self.rng.choice(sorted(self.share.files))
        dst = "/up/c%dg%d_copy.bin" % (self.n, self.gen)
        self.possible[dst] = self.possible[dst] | {digest(self.share.files[src])}
        got = conn.ask(0x0B, b"\x01" + src.encode() + b"\0" + dst.encode() + b"\0", 0xFB, 1)
        deadline = time.monotonic() + 30
        while got == b"\x02":
            if time.monotonic() > deadline:
                raise ProtocolError("copy of %s still running after 30 s" % src)
            time.sleep(0.005)
            got = conn.ask(0x0B, b"\x01" + src.encode() + b"\0" + dst.encode() + b"\0", 0xFB, 1)
        if got != b"\0":
            raise ProtocolError("copy of %s: status %d" % (src, got[0]))
        if self.share.read(dst) != self.share.files[src]:
            raise ProtocolError("copy %s does not hold the bytes of %s" % (dst, src))
        self.possible[dst] = {digest(self.share.files[src])}

    def op_dir_download(self, conn):
        tree = {p[len("/") :]: d for p, d in self.share.files.items() if p.startswith("/tree/")}
        got = conn.ask(0x13, b"\x01/tree\0", 0xE3, 13)
        count, total = struct.unpack("<IQ", got[1:])
        folders = {os.path.dirname(p) for p in tree} | {"tree/empty"}  # every folder holds a file but one
        if count != len(tree) + len(folders) or total != sum(len(d) for d in tree.values()):
            raise ProtocolError("tree of %d entries, %d bytes" % (count, total))
        for i in range(count):
            got = conn.ask(0x01, u32(i), 0x10)
            status, size, entry = got[0], struct.unpack("<I", got[1:5])[0], got[5:-1].decode()
            if entry.endswith("/"):
                if status != 0 or size != 0 or entry[:-1] not in folders:
                    raise ProtocolError("folder entry %r status %d size %d" % (entry, status, size))
                continue
            data = tree.get(entry)
            if data is None or status != 0 or size != len(data):
                raise ProtocolError("file entry %r status %d size %d" % (entry, status, size))
            for off in range(0, len(data), 128 * 1024):
                if conn.stream(0x24, 0xD4, off, 128 * 1024, LARGE_BLOCK, len(data)) != data[off : off + 128 * 1024]:
                    raise ProtocolError("wrong bytes of %s at %d" % (entry, off))

    def op_dir_upload(self, conn):
        top = "c%dg%d_d" % (self.n, self.gen)
        files = {top + "/a.bin": self.rng.randbytes(self.rng.randint(1, 200000)),
                 top + "/sub/b.bin": self.rng.randbytes(self.rng.randint(1, 100000))}
        for name, data in files.items():
            self.possible["/up/" + name] = self.possible["/up/" + name] | {None, digest(data)}
        got = conn.ask(0x14, b"\x07" + struct.pack("<IQ", 4, sum(len(d) for d in files.values())) + b"/up/\0", 0xE4, 1)
        if got != b"\0":
            raise ProtocolError("directory upload refused: %d" % got[0])
        for folder in (top, top + "/sub"):
            if conn.ask(0x04, b"D" + u32(0) + folder.encode() + b"\0", 0x40, 5) != b"\0" + u32(0):
                raise ProtocolError("folder entry %s refused" % folder)
        for name, data in files.items():
            if conn.ask(0x04, b"F" + u32(len(data)) + name.encode() + b"\0", 0x40, 5) != b"\0" + u32(len(data)):
                raise ProtocolError("file entry %s refused" % name)
            for off in range(0, len(data), UP_BLOCK):
                block = data[off : off + UP_BLOCK]
                if conn.ask(0x05, u32(off) + block, 0x50, 8) != u32(off) + u32(len(block)):
                    raise ProtocolError("block of %s at %d not taken" % (name, off))
            self.possible["/up/" + name] = {digest(data)}
            if self.share.read("/up/" + name) != data:
                raise ProtocolError("uploaded %s does not hold the bytes sent" % name)

    def check_files(self):
        """After the daemon has let go of everything: no file of this client is partial."""
        for path, possible in self.possible.items():
            if digest(self.share.read(path)) not in possible:
                self.stats.error("files", "%s holds neither a whole upload nor nothing" % path)


def proc_figures(pid):
    figures = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, value = line.partition(":")
            if key in ("VmRSS", "Threads"):
                figures[key] = int(value.split()[0])
    figures["fds"] = len(os.listdir("/proc/%d/fd" % pid))
    return figures


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def default_daemon():
    for rel in ("build-release/corvane", "build/corvane"):
        if os.access(os.path.join(ROOT, rel), os.X_OK):
            return os.path.join(ROOT, rel)
    return os.path.join(ROOT, "build-release/corvane")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--daemon", default=default_daemon())
    ap.add_argument("--clients", type=int, default=200)
    ap.add_argument("--seconds", type=float, default=60)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--cut", type=float, default=0.05, help="share of operations cut off mid-way")
    ap.add_argument("--idle-wait", type=float, default=12, help="seconds to wait for idle sessions to end")
    args = ap.parse_args()
    if not 1 <= args.clients <= 1000 or not 0 < args.seconds <= 3600:
        ap.error("1..1000 clients for at most an hour")

    tmp = tempfile.mkdtemp(prefix="corvane-soak-")
    try:
        return run(args, tmp)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


def run(args, tmp):
    share_dir = os.path.join(tmp, "share")
    os.makedirs(share_dir)
    share = Share(share_dir, random.Random(args.seed))
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(tmp, "cfg"), XDG_RUNTIME_DIR=os.path.join(tmp, "run"))
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
    port = free_port()
    log = open(os.path.join(tmp, "daemon.log"), "wb")
    # Every client connects from 127.0.0.1, one host to the daemon: its session caps are
    # lifted so that they never turn a client away.
    caps = ["--max-sessions", str(SESSION_CAP), "--max-sessions-per-host", str(SESSION_CAP)]
    daemon = subprocess.Popen([args.daemon, "--headless", "--quiet", "--port", str(port), "--share", share_dir] + caps,
                              env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
    stats = Stats()
    try:
        deadline = time.monotonic() + 10
        while True:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                if daemon.poll() is not None or time.monotonic() > deadline:
                    print("the daemon did not start (status %s)" % daemon.poll(), file=sys.stderr)
                    return 2
                time.sleep(0.05)
        time.sleep(0.2)  # let the probe's session end
        start = proc_figures(daemon.pid)
        peak = dict(start)
        print("daemon %s, pid %d, port %d; %d clients for %g s" % (args.daemon, daemon.pid, port, args.clients,
                                                                  args.seconds), flush=True)

        t0 = time.monotonic()
        end_time = t0 + args.seconds
        clients = [Client(i, port, share, stats, args.cut, end_time, args.seed) for i in range(args.clients)]
        threads = [threading.Thread(target=c.run, daemon=True) for c in clients]
        for t in threads:
            t.start()
        while any(t.is_alive() for t in threads):
            f = proc_figures(daemon.pid)
            for key in f:
                peak[key] = max(peak[key], f[key])
            time.sleep(0.5)
            if time.monotonic() > end_time + 120:
                stats.error("soak", "clients still busy two minutes after the end")
                break
        elapsed = time.monotonic() - t0

        time.sleep(args.idle_wait)
        # The accept thread frees ended sessions when the next connection arrives.
        try:
            c = Conn(port, stats)
            c.sock.sendall(VER_REQ)
            if c.recv_exact(len(VER_REPLY)) != VER_REPLY:
                stats.error("final", "wrong version reply")
            c.close()
        except (OSError, ProtocolError) as e:
            stats.error("final", "no version reply: %s" % e)
        time.sleep(0.5)
        end = proc_figures(daemon.pid)
        for c in clients:
            c.check_files()
    finally:
        if daemon.poll() is None:
            daemon.send_signal(signal.SIGTERM)
        try:
            status = daemon.wait(timeout=20)
        except subprocess.TimeoutExpired:
            daemon.kill()
            status = "did not end within 20 s of SIGTERM (killed)"
        log.close()

    print("\nran %.1f s with %d clients" % (elapsed, args.clients))
    print("requests served: %d (%.0f/s)" % (stats.counts["requests"], stats.counts["requests"] / elapsed))
    print("connections: %d, slow connects (SYN retried): %d, failed connect attempts: %d" % (
        stats.counts["connections"], stats.counts["slow connects (SYN retried)"], stats.counts["connect retries"]))
    print("\n%-14s %10s %8s" % ("operation", "completed", "cut"))
    for kind in Client.KINDS:
        print("%-14s %10d %8d" % (kind, stats.ops[kind], stats.cuts[kind]))
    print("%-14s %10d %8d" % ("total", sum(stats.ops.values()), sum(stats.cuts.values())))
    print("\nerrors: %d" % sum(stats.errors.values()))
    for msg, n in stats.errors.most_common(20):
        print("  %5d  %s" % (n, msg))
    print("\n%-10s %12s %12s %12s" % ("daemon", "start", "peak", "end"))
    for key, label in (("VmRSS", "VmRSS kB"), ("fds", "fds"), ("Threads", "threads")):
        print("%-10s %12d %12d %12d" % (label, start[key], peak[key], end[key]))
    print("\nexit status after SIGTERM: %s" % status)
    return 0 if not stats.errors and status == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
