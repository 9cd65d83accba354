#!/usr/bin/env python3
"""tivgate end to end: DMX through olad, checked on a simulated bus (tivsim).

Runs inside with_olad.sh, which gives it a private olad and a network
namespace of its own. Usage: gateway_test.py BUILD_DIR
"""
import base64
import contextlib
import fcntl
import grp
import http.client
import io
import json
import os
import re
import resource
import select
import shutil
import signal
import socket
import stat
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

from PIL import Image

BUILD = sys.argv[1]
TIVGATE = os.path.join(BUILD, "tools/tivgate/tivgate")
TIVSIM = os.path.join(BUILD, "tools/tivsim")
TIVCTL = os.path.join(BUILD, "tools/tivctl")
OLAD_CONF = os.environ["OLAD_CONF"]
WORK = tempfile.mkdtemp(prefix="tivgate-test.")
LOOK = 90e-3  # a look to a device: three frames, 30 ms after each
LIGHT = 0x7E

results = []
children = []  # processes a scenario started, ended after it whatever became of it


def check(name, ok, detail=""):
    results.append(ok)
    print(("PASS " if ok else "FAIL ") + name + ("" if ok or not detail else ": " + str(detail)), flush=True)


class Sim:
    """tivsim in its own process; the frames and devices come from its JSON at exit."""

    def __init__(self, devices, frames=0, live=False):
        """live: each frame's line is kept with the time it arrived, in self.lines."""
        self.json = os.path.join(WORK, "bus-%d.json" % time.monotonic_ns())
        args = [TIVSIM, "--plain" if live else "-q", "--json", self.json, "--frames", str(frames)]
        for d in devices:
            args += ["--device", d]
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, text=True)
        children.append(self.proc)
        line = self.proc.stdout.readline().strip()
        self.path = line.split("=", 1)[1]
        self.lines = []
        if live:
            threading.Thread(target=self.read_lines, daemon=True).start()

    def read_lines(self):
        for line in self.proc.stdout:
            self.lines.append((time.monotonic(), line))

    def first_after(self, since, needle, timeout=5):
        """When the first frame line with needle arrived after since; None if none within timeout."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            hit = next((t for t, l in list(self.lines) if t > since and needle in l), None)
            if hit:
                return hit
            time.sleep(0.01)
        return None

    def finish(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(timeout=10)
        with open(self.json) as f:
            return json.load(f)


class Gate:
    def __init__(self, patch, device, env=None, journal=False, args=(), prefix=()):
        self.patch = os.path.join(WORK, "patch-%d.toml" % time.monotonic_ns())
        self.write_patch(patch)
        self.log = os.path.join(WORK, "gate-%d.log" % time.monotonic_ns())
        self.err = open(self.log, "w")
        if journal:  # standard error taken for the journal's stream: lines carry their priority
            st = os.fstat(self.err.fileno())
            env = {**(env or {}), "JOURNAL_STREAM": "%d:%d" % (st.st_dev, st.st_ino)}
        device = device if isinstance(device, str) else device.path
        self.proc = subprocess.Popen([*prefix, TIVGATE, "--device", device, "--patch", self.patch, "--stats", *args],
                                     stdout=subprocess.PIPE, stderr=self.err, text=True, env={**os.environ, **(env or {})})
        children.append(self.proc)

    def write_patch(self, text):
        with open(self.patch, "w") as f:
            f.write(text)

    def cpu_seconds(self):
        with open("/proc/%d/stat" % self.proc.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def text(self):
        with open(self.log) as f:
            return f.read()

    def wait_log(self, needle, timeout=10, count=1):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if self.text().count(needle) >= count:
                return True
            time.sleep(0.05)
        return False

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        t = time.monotonic()
        out, _ = self.proc.communicate(timeout=20)
        self.err.close()
        stats = {}
        for line in out.splitlines():
            if ":" in line:
                k, v = line.split(":", 1)
                stats[k.strip()] = v.strip()
        return self.proc.returncode, time.monotonic() - t, stats


class Feeder:
    """One ola_streaming_client per universe, as a console is one source: back-to-back
    short-lived clients can lose a frame inside olad, which is not what we test."""

    def __init__(self):
        self.procs = {}

    def send(self, universe, values):
        p = self.procs.get(universe)
        if p is None:
            p = subprocess.Popen(["ola_streaming_client", "-u", str(universe)], stdin=subprocess.PIPE, text=True)
            self.procs[universe] = p
        p.stdin.write(",".join(str(v) for v in values) + "\n")
        p.stdin.flush()

    def close(self):
        for p in self.procs.values():
            try:
                p.stdin.close()
            except OSError:
                pass  # olad went away under it
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        self.procs = {}


feeder = Feeder()


def send(universe, values):
    feeder.send(universe, values)


def stream(universe, frame_of, seconds, hz=40):
    """Sends frame_of(k) at hz for seconds; returns the last frame sent."""
    start = time.monotonic()
    k = 0
    last = None
    while time.monotonic() - start < seconds:
        last = frame_of(k)
        send(universe, last)
        k += 1
        time.sleep(max(0, start + k / hz - time.monotonic()))
    return last


def olad_restart(down_seconds):
    pidfile = os.path.join(OLAD_CONF, "olad.pid")
    with open(pidfile) as f:
        pid = int(f.read())
    os.kill(pid, signal.SIGTERM)
    feeder.close()  # its connection ends with olad
    time.sleep(down_seconds)
    log = open(os.path.join(OLAD_CONF, "olad.log"), "a")
    p = subprocess.Popen(["runuser", "-u", "olad", "--", "olad", "-c", OLAD_CONF, "--no-http",
                          "--no-register-with-dns-sd", "-l", "1"], stdout=log, stderr=log)
    with open(pidfile, "w") as f:
        f.write(str(p.pid))


def light_frames(bus, address=None):
    return [f for f in bus["frames"] if f["kind"] == "ok" and f["command"] == LIGHT
            and (address is None or f["address"] == address)]


def looks(bus, address):
    """The colours (and fade values) sent to address, one per look, in order."""
    out = []
    frames = light_frames(bus, address)
    for i, f in enumerate(frames):
        sub = f["payload"][:2]
        if sub == "00":  # set_rgbx's last frame
            out.append(f["payload"][2:])
        if sub == "04" and i >= 2 and frames[i - 2]["payload"][:2] == "11":  # fade_rgbx's last
            out.append(f["payload"][2:] + "/" + frames[i - 2]["payload"][2:4])
    return out


def device(bus, address):
    return next(d for d in bus["devices"] if d["address"] == address)


def whole_sequences(bus):
    """True when the light frames form unbroken three-frame looks."""
    frames = light_frames(bus)
    if len(frames) % 3:
        return False
    for i in range(0, len(frames), 3):
        trio = frames[i:i + 3]
        if len({f["address"] for f in trio}) != 1:
            return False
        subs = [f["payload"][:2] for f in trio]
        if subs not in (["12", "04", "00"], ["11", "08", "04"]):
            return False
    return True


MIXED = """universe = 1
[[fixture]]
address = 0x010001
channel = 1
mode = "rgbw"
[[fixture]]
address = 5
channel = 5
mode = "rgbw-fade"
[loss]
after = 1.5
look = 0x01020304
fade = 7
"""


def test_mixed_patch_and_source_loss():
    sim = Sim(["0x010001", "0x010002:5", "0x010003:5", "0x010004"])
    gate = Gate(MIXED, sim)
    check("tivgate connects to olad", gate.wait_log("connected to olad"), gate.text())
    first = [0x11, 0x22, 0x33, 0x44, 0xA1, 0xA2, 0xA3, 0xA4, 9]
    for _ in range(3):
        send(1, first)
        time.sleep(0.05)
    second = [0x55, 0x66, 0x77, 0x88] + first[4:]
    send(1, second)
    check("source loss is logged", gate.wait_log("no DMX for 1.5 s"), gate.text())
    time.sleep(0.5)
    third = [4, 3, 2, 1, 5, 6, 7, 8, 9]
    send(1, third)
    check("the source's return is logged", gate.wait_log("DMX is back"), gate.text())
    time.sleep(0.5)
    status, _, stats = gate.stop()
    bus = sim.finish()
    check("exit 0 on SIGTERM", status == 0, "status %s; log:\n%s" % (status, gate.text()))
    dev = looks(bus, 0x010001)
    grp = looks(bus, 5)
    check("device looks arrive, each change once, then the loss look, then the new look",
          dev == ["11223344", "55667788", "01020304", "04030201"], dev)
    check("group look arrives once for three equal frames, then the loss look, then the new look",
          grp == ["A1A2A3A4/09", "01020304/07", "05060708/09"], grp)
    check("both group members and the device show the last look",
          device(bus, 0x010001)["channels"] == [4, 3, 2, 1]
          and all(device(bus, a)["fade_target"] == [5, 6, 7, 8] for a in (0x010002, 0x010003)),
          [(d["address"], d["channels"], d["fade_target"]) for d in bus["devices"]])
    check("an unpatched device is never addressed", device(bus, 0x010004)["frames_reached"] == 0)
    check("--stats counts what was sent", stats.get("looks sent") == str(len(dev) + len(grp)), stats)


PHYSICAL = 16


def many_patch():
    text = "universe = 2\n"
    for i in range(PHYSICAL):
        text += "[[fixture]]\naddress = 0x%06X\nchannel = %d\nmode = \"rgbw\"\n" % (0x010001 + i, 1 + 4 * i)
    return text


def stream_frame(k):
    return [(k * 7 + i) % 250 for i in range(4 * PHYSICAL)]


def test_stream_fairness_restart_and_sigterm():
    addresses = [0x010001 + i for i in range(PHYSICAL)]
    sim = Sim(["0x%06X" % a for a in addresses])
    gate = Gate(many_patch(), sim)
    check("tivgate connects to olad (16 devices)", gate.wait_log("connected to olad"), gate.text())
    stream_seconds = 3.0
    last = stream(2, stream_frame, stream_seconds)
    time.sleep(2 * PHYSICAL * LOOK + 0.5)  # one round drains what is dirty
    olad_restart(1.0)
    check("olad going away is logged", gate.wait_log("lost olad"), gate.text())
    check("tivgate reconnects to a restarted olad", gate.wait_log("reconnected to olad", timeout=20), gate.text())
    after_restart = list(last)
    after_restart[0:4] = [0xDE, 0xAD, 0xBE, 0xEF]
    send(2, after_restart)
    time.sleep(0.5)
    tail = threading.Thread(target=stream, args=(2, lambda k: [(k * 3 + i + 100) % 250 for i in range(4 * PHYSICAL)], 1.0))
    tail.start()
    time.sleep(0.4)
    status, took, stats = gate.stop()
    tail.join()
    bus = sim.finish()

    per = {a: looks(bus, a) for a in addresses}
    lf = light_frames(bus)
    # The stream phase: every look up to the DEADBEEF one.
    mark = next((i for i, f in enumerate(lf) if f["payload"] == "00DEADBEEF"), None)
    check("a look sent after olad's restart arrives", mark is not None, gate.text())
    if mark is None:
        return
    stream_frames = lf[:mark - 2]
    span = (stream_frames[-1]["time_ns"] - stream_frames[0]["time_ns"]) / 1e9
    sent = len(stream_frames) // 3
    check("coalescing: a 40 Hz stream to 16 devices is sent at bus speed and drains within a round",
          span <= stream_seconds + PHYSICAL * LOOK * 1.5 + 1.0 and sent <= span / LOOK + PHYSICAL,
          "span %.2f s, %d looks" % (span, sent))
    want = ["%02X%02X%02X%02X" % tuple(last[4 * i:4 * i + 4]) for i in range(PHYSICAL)]
    seen = [[f["payload"][2:] for f in stream_frames if f["address"] == a and f["payload"][:2] == "00"]
            for a in addresses]
    check("latest value wins: each device's last stream look is the last frame's",
          all(s and s[-1] == w for s, w in zip(seen, want)), list(zip([s[-1:] for s in seen], want)))
    check("coalescing is counted", int(stats.get("changes coalesced", "0")) > 0, stats)
    bound = PHYSICAL * LOOK  # one round of the others plus the look in hand
    gaps = []
    for a in addresses:
        times = [f["time_ns"] / 1e9 for f in stream_frames if f["address"] == a and f["payload"][:2] == "12"]
        gaps += [b - t for t, b in zip(times, times[1:])]
        gaps.append(times[0] - stream_frames[0]["time_ns"] / 1e9 if times else float("inf"))
    worst = max(gaps)
    check("fairness: no device waits longer than one round of the others (%.2f s, load slack 1.5x)" % bound,
          worst <= bound * 1.5 + 0.1, "worst %.2f s" % worst)
    repeats = [a for a, s in zip(addresses, seen) if any(x == y for x, y in zip(s, s[1:]))]
    check("no look is sent twice, not after olad's restart either", not repeats, repeats)
    check("SIGTERM mid-stream: exit 0 within a second and a half", status == 0 and took < 1.5,
          "status %s after %.2f s" % (status, took))
    check("SIGTERM mid-stream: every look on the bus is whole", whole_sequences(bus))


def test_dead_line_is_reported_and_retried():
    sim = Sim(["0x010001"])
    gate = Gate(MIXED.replace("universe = 1", "universe = 4"), sim)
    gate.wait_log("connected to olad")
    sim.proc.kill()  # the line goes dead under tivgate
    sim.proc.wait(timeout=10)
    send(4, [1, 2, 3, 4, 0, 0, 0, 0, 0])
    check("a line gone dead is reported", gate.wait_log("bus lost"), gate.text())
    status, took, stats = gate.stop()
    check("a dead line still stops with exit 0", status == 0 and took < 10, "status %s after %.1f s" % (status, took))
    check("--stats counts the loss", int(stats.get("line losses", "0")) >= 1, stats)


def patch_of(universe, *fixtures, head=""):
    """A patch: (address, channel, mode) for each fixture, `head` before them."""
    return "universe = %d\n%s" % (universe, head) + "".join(
        '[[fixture]]\naddress = %d\nchannel = %d\nmode = "%s"\n' % f for f in fixtures)


LINE = patch_of(3, (0x010001, 1, "rgbw"), (5, 5, "rgbw-fade"), head="[bus]\nrefresh = 0\n")


def test_line_lost_and_found():
    """With a static scene the bus goes away, and 5 s later a new one appears behind the same name."""
    devices = ["0x010001", "0x010002:5"]
    link = os.path.join(WORK, "usb-adapter-if00-port0")
    first = Sim(devices, frames=6)  # ends after the two looks: the adapter pulled
    os.symlink(first.path, link)
    gate = Gate(LINE, link, journal=True)
    gate.wait_log("connected to olad")
    send(3, [1, 2, 3, 4, 5, 6, 7, 8, 9])
    first.proc.wait(timeout=10)
    os.unlink(link)  # as udev does; a pty's number is soon someone else's
    gone = time.monotonic()
    noticed = gate.wait_log("bus lost", timeout=2)
    check("a loss is noticed within 2 s with nothing to send (%.2f s)" % (time.monotonic() - gone), noticed, gate.text())
    lines, cpu = len(gate.text().splitlines()), gate.cpu_seconds()
    time.sleep(5)
    cpu = (gate.cpu_seconds() - cpu) / (time.monotonic() - gone)
    quiet = len(gate.text().splitlines()) - lines
    second = Sim(devices, frames=6)
    os.symlink(second.path, link)
    back = time.monotonic()
    second.proc.wait(timeout=10)
    took = time.monotonic() - back
    bus = second.finish()
    gate.stop()
    check("the bus shows every fixture's current look within 3 s of its return (%.2f s)" % took,
          took <= 3 and device(bus, 0x010001)["channels"] == [1, 2, 3, 4]
          and device(bus, 0x010002)["fade_target"] == [5, 6, 7, 8], bus["devices"])
    check("5 s without the line: no spinning (%.2f %% of a core) and no log flood (%d lines)" % (100 * cpu, quiet),
          cpu < 0.05 and quiet <= 2, gate.text())
    away = re.findall(r"<5>tivgate: bus back on .* after ([0-9.]+) s", gate.text())
    check("the return is logged once, as a notice, with how long the line was gone",
          len(away) == 1 and 5 <= float(away[0]) < 9, gate.text())
    check("the loss is logged as a warning", "<4>tivgate: bus lost on " in gate.text(), gate.text())


class NotifySocket:
    """A NOTIFY_SOCKET of our own; each datagram is read at the end with the kernel's time of arrival."""

    def __init__(self):
        self.path = os.path.join(WORK, "notify.sock")
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, 35, 1)  # SO_TIMESTAMPNS
        self.sock.bind(self.path)
        self.got = []

    def close(self):
        self.sock.setblocking(False)
        while True:
            try:
                data, ancillary, _, _ = self.sock.recvmsg(4096, 64)
            except BlockingIOError:
                return self.sock.close()
            seconds, ns = struct.unpack("qq", ancillary[0][2][:16])
            self.got.append((seconds + ns / 1e9, data.decode()))

    def times(self, prefix, since=0):
        return [t for t, text in self.got if t >= since and text.startswith(prefix)]


ONE = patch_of(5, (0x010001, 1, "rgbw"))
TWO = patch_of(5, (0x010001, 1, "rgbw"), (0x010002, 5, "rgbw"))


def test_reload_stats_and_systemd():
    notify = NotifySocket()
    sim = Sim(["0x010001", "0x010002"])
    gate = Gate(ONE, sim, {"NOTIFY_SOCKET": notify.path, "WATCHDOG_USEC": "1000000"})
    gate.wait_log("connected to olad")
    send(5, [1, 2, 3, 4, 5, 6, 7, 8])
    time.sleep(0.3)
    gate.write_patch(TWO)
    gate.proc.send_signal(signal.SIGHUP)
    check("SIGHUP reads a changed patch", gate.wait_log("patch " + gate.patch + " reloaded"), gate.text())
    gate.write_patch(patch_of(5, (0x010001, 1, "rgbw"), (0x010002, 3, "rgbw")))
    gate.proc.send_signal(signal.SIGHUP)
    check("SIGHUP refuses a broken patch with its line and keeps the running one",
          gate.wait_log(gate.patch + ":6: slots 3..6 overlap the fixture on line 2; keeping the running patch"),
          gate.text())
    send(5, [0x11, 0x12, 0x13, 0x14, 5, 6, 7, 8])
    time.sleep(0.3)
    gate.write_patch(TWO.replace("universe = 5", "universe = 6"))
    gate.proc.send_signal(signal.SIGHUP)
    check("a new universe is registered without a reconnect", gate.wait_log("now universe 6"), gate.text())
    send(5, [9, 9, 9, 9, 9, 9, 9, 9])
    send(6, [0x21, 0x22, 0x23, 0x24, 5, 6, 7, 8])
    time.sleep(0.5)
    gate.proc.send_signal(signal.SIGUSR1)
    check("SIGUSR1 writes the figures to the log", gate.wait_log("stats: looks sent: "), gate.text())
    frozen = time.time()
    os.kill(gate.proc.pid, signal.SIGSTOP)
    time.sleep(2)
    thawed = time.time()
    os.kill(gate.proc.pid, signal.SIGCONT)
    time.sleep(1.2)
    status, _, stats = gate.stop()
    notify.close()
    bus = sim.finish()
    pings = notify.times("WATCHDOG=1")
    gaps = [b - a for a, b in zip(pings, pings[1:]) if b < frozen or a > thawed]
    check("READY, then a STATUS line and watchdog pings every half second",
          notify.times("READY=1") and notify.times("STATUS=bus on " + sim.path) and gaps and max(gaps) < 0.75,
          [text for _, text in notify.got][:6])
    check("no ping while the process makes no progress, pings again after",
          not [t for t in pings if frozen + 0.5 < t < thawed] and notify.times("WATCHDOG=1", thawed + 0.6),
          (frozen, thawed, pings))
    check("STOPPING on SIGTERM", notify.times("STOPPING=1"), notify.got[-3:])
    check("reloads take effect: the new fixture at once, the old universe no more",
          looks(bus, 0x010001) == ["01020304", "11121314", "21222324"] and looks(bus, 0x010002) == ["05060708"],
          (looks(bus, 0x010001), looks(bus, 0x010002)))


def test_group_look_and_refresh():
    members = [0x010001 + i for i in range(4)]
    sim = Sim(["0x%06X:2" % a for a in members])
    gate = Gate(patch_of(8, *[(a, 1 + 4 * i, "rgbw") for i, a in enumerate(members)],
                         head="[bus]\nrefresh = 1.0\n[[group]]\naddress = 2\nmembers = %s\n" % members), sim)
    gate.wait_log("connected to olad")
    send(8, [0x40, 0x30, 0x20, 0x10] * 4)
    time.sleep(0.3)
    sim.proc.send_signal(signal.SIGUSR1)  # every device restarts dark
    time.sleep(1.2)
    _, _, stats = gate.stop()
    bus = sim.finish()
    check("a uniform change to a declared group goes out as group looks only, the refresh included",
          looks(bus, 2) and all(looks(bus, a) == [] for a in members) and stats.get("group looks sent") == "1"
          and stats.get("device looks saved by group looks") == "4", (looks(bus, 2), stats))
    check("a refresh brings the look back to devices that restarted",
          int(stats.get("looks refreshed", "0")) >= 1 and all(device(bus, a)["channels"] == [0x40, 0x30, 0x20, 0x10]
                                                              for a in members), bus["devices"])


def varint(n):
    return bytes([n & 0x7F | 0x80]) + varint(n >> 7) if n > 0x7F else bytes([n])


def fields(data):
    """A protobuf message's fields as {number: value}: varints as ints, the rest as bytes."""
    out, i = {}, 0

    def read():
        nonlocal i
        n, shift = 0, 0
        while True:
            n, shift, i = n | (data[i] & 0x7F) << shift, shift + 7, i + 1
            if not data[i - 1] & 0x80:
                return n
    while i < len(data):
        key, value = read(), read()
        if key & 7:  # length-delimited: value was its length
            value, i = data[i:i + value], i + value
        out[key >> 3] = value
    return out


class FakeOlad:
    """olad's RPC as far as tivgate speaks it: each RegisterForDmx is recorded as (universe, action) and
    answered by answer(universe, action), which returns an error text, None for success, or waits."""

    def __init__(self, answer, port=9012):
        self.answer, self.calls, self.connects = answer, [], []
        self.server = socket.create_server(("127.0.0.1", port))
        self.address = "127.0.0.1:%d" % port
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            try:
                conn, _ = self.server.accept()
            except OSError:
                return
            self.connects.append(time.monotonic())
            threading.Thread(target=self.session, args=(conn,), daemon=True).start()

    def session(self, conn):
        with conn:
            while True:
                head = conn.recv(4, socket.MSG_WAITALL)
                if len(head) < 4:
                    return
                size = struct.unpack("<I", head)[0] & 0x0FFFFFFF
                msg = fields(conn.recv(size, socket.MSG_WAITALL))
                if msg.get(3) != b"RegisterForDmx":
                    continue
                request = fields(msg.get(4, b""))
                call = (request.get(1, 0), request.get(2, 0))
                self.calls.append(call)
                error = self.answer(*call)
                reply = varint(1 << 3) + varint(4 if error else 2) + varint(2 << 3) + varint(msg[2])
                if error:
                    reply += varint(4 << 3 | 2) + varint(len(error)) + error.encode()
                conn.sendall(struct.pack("<I", 1 << 28 | len(reply)) + reply)

    def close(self):
        self.server.close()


def test_olad_refusing_and_a_reload_while_registering():
    """olad refuses the universe (told once, retried with one timer), then a reload lands between the
    registration and olad's reply: tivgate asks for the new universe once the old reply is in."""
    sim = Sim(["0x010001"])
    release = threading.Event()
    refusals = [4]

    def answer(universe, action):
        if refusals[0] > 0:
            refusals[0] -= 1
            return "universe %d is not here" % universe
        if (universe, action) == (5, 1):
            release.wait(10)
        return None

    olad = FakeOlad(answer)
    gate = Gate(patch_of(5, (0x010001, 1, "rgbw")), sim, args=("--ola", olad.address))
    check("a refusing olad is retried, and tivgate asks again", until(lambda: len(olad.calls) >= 5, 20), gate.text())
    gaps = [b - a for a, b in zip(olad.connects, olad.connects[1:])]
    check("the refusal is logged once, and each retry waits longer than the one before (one timer)",
          gate.text().count(olad.address + " refused universe") == 1 and len(gaps) >= 3 and min(gaps) > 0.2
          and all(b > a for a, b in zip(gaps, gaps[1:4])), (gaps, gate.text()))
    gate.write_patch(patch_of(6, (0x010001, 1, "rgbw")))
    gate.proc.send_signal(signal.SIGHUP)
    gate.wait_log("SIGHUP: patch")
    release.set()
    check("a reload while olad's reply is on its way ends registered for the new universe",
          gate.wait_log("olad at %s, universe 6" % olad.address) and olad.calls[-2:] == [(5, 2), (6, 1)],
          (olad.calls, gate.text()))
    status, _, _ = gate.stop()
    olad.close()
    sim.finish()
    check("tivgate ran on through olad's refusals", status == 0, gate.text())


def ask(path, data, timeout=5):
    """Bytes to a control socket; what comes back up to its first newline, or its close."""
    with socket.socket(socket.AF_UNIX) as s:
        s.settimeout(timeout)
        s.connect(path)
        s.sendall(data)
        got = b""
        while b"\n" not in got:
            chunk = s.recv(65536)
            if not chunk:
                break
            got += chunk
        return got


def status(path):
    return json.loads(ask(path, b"status\n"))["status"]


def answering(path):
    try:
        return b'"ok":true' in ask(path, b"status\n")
    except OSError:
        return False


def shown(path, first=0):
    return [f["on_bus"] and f["on_bus"]["colour"] for f in status(path)["fixtures"][first:]]


def tivctl(*args, user=None):
    return subprocess.run((["runuser", "-u", user, "--"] if user else []) + [TIVCTL, *args],
                          capture_output=True, text=True, timeout=10)


def until(predicate, timeout):
    end = time.monotonic() + timeout
    while not predicate() and time.monotonic() < end:
        time.sleep(0.05)
    return predicate()


CONTROL = patch_of(9, (0x010001, 1, "rgbw"), (0x010002, 5, "rgbw"), (0x010003, 9, "rgbw"),
                   head='[bus]\nrefresh = 0\nstartup = "#10203040"\n') + "[[group]]\naddress = 2\nmembers = [0x010002, 0x010003]\n"


def test_overrides_on_a_running_gateway():
    """The startup look, then identify, a group identify, test and release through tivctl while DMX flows."""
    sim = Sim(["0x010001", "0x010002:2", "0x010003:2", "0x010004:2"], live=True)  # 0x010004: in group 2, unlisted
    sock = os.path.join(WORK, "overrides.sock")
    gate = Gate(CONTROL, sim, args=["--control", sock])
    check("the startup look on every fixture before any DMX",
          until(lambda: os.path.exists(sock) and shown(sock) == ["#10203040"] * 3, 5), gate.text())
    gate.wait_log("connected to olad")
    send(9, list(range(1, 13)))
    until(lambda: shown(sock) == ["#01020304", "#05060708", "#090A0B0C"], 5)
    time.sleep(0.5)  # the last of those looks finished: the bus is idle
    asked = time.monotonic()
    said = tivctl("--gateway", sock, "identify", "0x010001", "--seconds", "2")
    first = sim.first_after(asked, "0x010001")
    send(9, list(range(0x21, 0x2D)))
    latest = ["#21222324", "#25262728", "#292A2B2C"]
    meanwhile = until(lambda: status(sock)["override"] and shown(sock, 1) == latest[1:], 1.5)
    check("identify: %s ms from tivctl to its first frame on the bus; the other fixtures follow DMX meanwhile"
          % (first and round((first - asked) * 1000)), said.returncode == 0 and first and meanwhile, (said, gate.text()))
    check("the identify ends by itself, and the fixture shows its latest DMX look at once",
          until(lambda: status(sock)["override"] is None and shown(sock) == latest, 3.5)
          and "control: identify 0x010001 2: over" in gate.text(), (status(sock), gate.text()))
    tivctl("--gateway", sock, "identify", "--group", "2", "--seconds", "1")
    now = status(sock)["override"]
    check("identify --group: member by member, then the group; the status says which",
          now["target"] == "group 2" and now["now"] == "0x010002"
          and until(lambda: status(sock)["override"] is None and shown(sock) == latest, 4), now)
    tivctl("--gateway", sock, "test", "#FF000000", "--seconds", "60")
    red = until(lambda: shown(sock) == ["#FF000000"] * 3, 3)
    metric = 'tivgate_override_active{kind="test",target="#FF000000"} 1' in http_get("GET", "/metrics")[2].decode()
    released = time.monotonic()
    ended = tivctl("--gateway", sock, "release")
    back = until(lambda: shown(sock) == latest, 3) and time.monotonic() - released
    check("test, in the metrics too, then release: every fixture its latest DMX look %.2f s after the release"
          % (back or 0), red and metric and back and ended.returncode == 0 and '"override":null' in ended.stdout, (ended, status(sock)))
    gate.stop()
    bus = sim.finish()
    dev = looks(bus, 0x010001)
    blink = dev[2:dev.index("21222324")] if "21222324" in dev else []
    check("on the bus: 0x010001 startup, DMX, white and dark by turns, its DMX; the group 2 address white and dark"
          " (0x010004, in group 2 but not listed, takes it too); every look whole",
          dev[:2] == ["10203040", "01020304"] and 2 <= len(blink) <= 4
          and blink == ["FFFFFFFF", "00000000", "FFFFFFFF", "00000000"][:len(blink)]
          # again after the group identify, which may have reached devices outside the group's list
          and dev[2 + len(blink):] == ["21222324", "21222324", "FF000000", "21222324"]
          and looks(bus, 2) == ["10203040", "FFFFFFFF", "00000000", "FF000000"]
          and device(bus, 0x010004)["channels"] == [0xFF, 0, 0, 0] and whole_sequences(bus),
          (dev, looks(bus, 2), looks(bus, 0x010002)))


def test_control_socket_access_and_bad_input():
    sim = Sim(["0x010001"])
    folder = tempfile.mkdtemp(prefix="tivgate-control.")
    os.chmod(folder, 0o755)  # the socket's own mode decides who gets in
    sock = os.path.join(folder, "gate.sock")
    one = patch_of(10, (0x010001, 1, "rgbw"))
    gate = Gate(one, sim, args=["--control", sock], prefix=["setpriv", "--regid=plugdev", "--clear-groups"])
    until(lambda: os.path.exists(sock), 5)
    mode = os.stat(sock)
    member = tivctl("--gateway", sock, "status", user="olad")  # olad is in plugdev, nobody is not
    outsider = tivctl("--gateway", sock, "status", user="nobody")
    check("the socket is 0660 of tivgate's group: a member asks, anyone else is refused",
          stat.S_IMODE(mode.st_mode) == 0o660 and grp.getgrgid(mode.st_gid).gr_name == "plugdev"
          and member.returncode == 0 and outsider.returncode == 1
          and "admits its owner and group plugdev only" in outsider.stderr, (oct(mode.st_mode), member, outsider))
    before = status(sock)
    fds = len(os.listdir("/proc/%d/fd" % gate.proc.pid))
    bad = [(b"\x00\xff\x1b[2J\n", "unknown command '???[2J'"), (b"blink 0x010001\n", "unknown command 'blink'"),
           (b"identify 0x0A0001\n", "0x0A0001 is not in the patch"), (b"test #FF0000 0\n", "seconds '0' must be"),
           (b"x" * 300, "a line is at most 256 bytes")]
    answers = [ask(sock, data) for data, _ in bad]
    idle = [socket.socket(socket.AF_UNIX) for _ in range(100)]
    for s in idle:
        s.connect(sock)
    time.sleep(0.5)
    held = len(os.listdir("/proc/%d/fd" % gate.proc.pid)) - fds
    with socket.socket(socket.AF_UNIX) as s:  # gone mid-line
        s.connect(sock)
        s.sendall(b"identify 0x010001")
    time.sleep(0.3)
    after = status(sock)
    for s in idle:
        s.close()
    check("bad input: one error line each, nothing changed, %d connections held of 101 idle" % held,
          all(a.count(b"\n") == 1 and want in json.loads(a)["error"] for a, (_, want) in zip(answers, bad))
          and after["override"] is None and after["counts"]["looks_sent"] == before["counts"]["looks_sent"]
          and held <= 8 and gate.proc.poll() is None, (answers, held, after["override"]))
    gate.proc.kill()  # a crash leaves the socket behind
    gate.proc.wait()
    left = os.path.exists(sock)
    again = Gate(one, sim, args=["--control", sock])
    answered = until(lambda: answering(sock), 5)
    third = subprocess.run([TIVGATE, "--sim", "--patch", again.patch, "--control", sock], capture_output=True,
                           text=True, timeout=10)
    again.stop()
    check("a socket left by a crash does not stop the next start; a second tivgate on it is refused; a stop removes it",
          left and answered and third.returncode == 2 and "another process answers there" in third.stderr
          and not os.path.exists(sock), (left, answered, third.stderr))
    sim.finish()
    shutil.rmtree(folder, ignore_errors=True)


class Browser:
    """Debian's chromium, headless, driven over --remote-debugging-pipe (commands in on fd 3, answers out
    on fd 4): the page is loaded once, then asked for screenshots and its swatches' places as it runs."""

    def __init__(self, url):
        to_chrome, self.out = os.pipe()
        self.inp, from_chrome = os.pipe()
        high = [fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 10) for fd in (to_chrome, from_chrome)]  # clear of 3 and 4
        self.proc = subprocess.Popen(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync", "--hide-scrollbars",
             "--force-device-scale-factor=1", "--force-color-profile=srgb", "--window-size=1100,620",
             "--user-data-dir=" + tempfile.mkdtemp(dir=WORK), "--remote-debugging-pipe"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, pass_fds=(3, 4),
            preexec_fn=lambda: (os.dup2(high[0], 3), os.dup2(high[1], 4)))
        children.append(self.proc)
        [os.close(fd) for fd in [to_chrome, from_chrome] + high]
        self.buffer, self.id, self.session = b"", 0, None
        page = self.call("Target.createTarget", url=url)["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=page, flatten=True)["sessionId"]

    def call(self, method, **params):
        self.id += 1
        os.write(self.out, json.dumps({"id": self.id, "method": method, "params": params, "sessionId": self.session}
                                      if self.session else {"id": self.id, "method": method, "params": params}).encode() + b"\0")
        end = time.monotonic() + 20
        while True:
            while b"\0" in self.buffer:
                text, self.buffer = self.buffer.split(b"\0", 1)
                if json.loads(text).get("id") == self.id:
                    return json.loads(text)["result"]
            if not select.select([self.inp], [], [], max(0, end - time.monotonic()))[0]:
                raise TimeoutError(method)
            self.buffer += os.read(self.inp, 1 << 20)

    def swatches(self):
        """The pixel in the middle of each swatch part, in order: per fixture, (R,G,B) and (W,W,W) of its look."""
        where = self.call("Runtime.evaluate", returnByValue=True, expression="""[...document.querySelectorAll(
            '.rgb, .white')].map(e => { const r = e.getBoundingClientRect(); return [r.x + r.width / 2, r.y + r.height / 2]; })""")
        self.png = base64.b64decode(self.call("Page.captureScreenshot", format="png")["data"])
        image = Image.open(io.BytesIO(self.png)).convert("RGB")
        return [image.getpixel((int(x), int(y))) for x, y in where["result"].get("value", [])]


def page_shows(browser, looks, timeout):
    """Waits until the swatches show `looks` ("RRGGBBWW"); the seconds it took (None: not) and what they showed."""
    wanted = [p for look in looks for p in (tuple(bytes.fromhex(look[:6])), (int(look[6:8], 16),) * 3)]
    start = time.monotonic()
    while True:
        seen = browser.swatches()
        if seen == wanted or time.monotonic() - start > timeout:
            return (time.monotonic() - start if seen == wanted else None), seen
        time.sleep(0.1)


def prometheus():
    """Debian's prometheus scraping tivgate every second, on loopback inside this network namespace."""
    folder = tempfile.mkdtemp(dir=WORK)
    open(folder + "/prometheus.yml", "w").write("global: {scrape_interval: 1s}\nscrape_configs: [{job_name: tivgate, "
                                                "static_configs: [{targets: ['127.0.0.1:9011']}]}]\n")
    children.append(subprocess.Popen(["prometheus", "--config.file=" + folder + "/prometheus.yml", "--storage.tsdb.path="
                                      + folder, "--web.listen-address=127.0.0.1:9090"], stderr=subprocess.DEVNULL))


def query(expression, ok=lambda v: v is not None, timeout=30):
    """The value Prometheus gives once ok(value) holds (bounded), else the last one."""
    end, v = time.monotonic() + timeout, None
    while time.monotonic() < end and not ok(v):
        time.sleep(0.2)
        with contextlib.suppress(OSError):  # not listening yet
            c = http.client.HTTPConnection("127.0.0.1", 9090, timeout=5)
            c.request("GET", "/api/v1/query?" + urllib.parse.urlencode({"query": expression}))
            result = json.load(c.getresponse())["data"]["result"]
            v = float(result[0]["value"][1]) if result else None
    return v


def http_get(method, path, host="127.0.0.1:9011"):
    c = http.client.HTTPConnection("127.0.0.1", 9011, timeout=5)
    c.request(method, path, headers={"Host": host})
    r = c.getresponse()
    return r.status, r.getheader("Content-Type"), r.read()


def raw(request):
    """Sends raw bytes as one client; the status line that came back, or how the connection ended."""
    with socket.create_connection(("127.0.0.1", 9011), timeout=3) as s:
        with contextlib.suppress(OSError):  # closed before it took all: what it answered still tells why
            s.sendall(request)
        try:
            return (s.recv(200).split(b"\r\n")[0] or b"closed").decode(errors="replace")
        except OSError as e:
            return type(e).__name__


BAD_REQUESTS = [b"GARBAGE\r\n\r\n", b"GET\r\n\r\n", b"GET / HTTP/9.9\r\n\r\n", b"\x00\xff\x16\x03\x01 / HTTP/1.1\r\n\r\n",
                b"GET /" + b"a" * 70000 + b" HTTP/1.1\r\n\r\n",  # malformed request lines, a very long one
                b"GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + b"b" * 1000000 + b"\r\n\r\n",  # a huge header
                b"GET / HTTP/1.1\r\n" + b"X-Many: c\r\n" * 20000 + b"\r\n",  # many headers
                b"GET /\r\n"]  # HTTP/0.9


def colours(k):
    """Four looks "RRGGBBWW", one per fixture, the two members of group 2 never alike."""
    return ["%02X%02X%02X%02X" % ((40 * k + 50 * i) % 256, (90 + 30 * k * i) % 256, (200 - 20 * i - k) % 256,
                                  (70 * k + 40 * i) % 256) for i in range(4)]


def frame_of(looks):
    """DMX for PAGE: a device, a group fixture (fade 9), the two members of a declared group."""
    v = [list(bytes.fromhex(x)) for x in looks]
    return v[0] + v[1] + [9] + v[2] + v[3]


PAGE = patch_of(9, (0x010001, 1, "rgbw"), (5, 5, "rgbw-fade"), (0x010002, 10, "rgbw"), (0x010003, 14, "rgbw"),
                head="[bus]\nrefresh = 0\n[[group]]\naddress = 2\nmembers = [0x010002, 0x010003]\n")


def test_status_page_and_metrics():
    prometheus()
    sim = Sim(["0x010001", "0x010004:5", "0x010002:2", "0x010003:2"])
    gate = Gate(PAGE, sim)
    gate.wait_log("connected to olad")
    a, b, c, d = colours(1), colours(2), colours(3), colours(4)
    send(9, frame_of(a))
    browser = Browser("http://127.0.0.1:9011/")
    took_a, seen_a = page_shows(browser, a, 10)
    send(9, frame_of(b))
    took, seen_b = page_shows(browser, b, 3)
    open(os.path.join(BUILD, "gateway-status.png"), "wb").write(browser.png)  # docs/gateway.md's picture
    check("the page shows a DMX change without a reload, %s s later (at most 3)" % (took and round(took, 2)), took is not None, seen_b)
    lint = subprocess.run(["promtool", "check", "metrics"], input=http_get("GET", "/metrics")[2], capture_output=True)
    check("promtool check metrics finds nothing to say", lint.returncode == 0 and not lint.stdout + lint.stderr, lint)
    answers = [http_get(*r)[:2] for r in [("GET", "/", "localhost"), ("HEAD", "/status.json"), ("POST", "/"),
                                          ("GET", "/nothing", "[::1]:9011"), ("GET", "/", "evil.example:9011")]]
    check("GET, HEAD 200; POST 405; another path 404; a foreign Host 403", [a[0] for a in answers] == [200, 200, 405, 404, 403]
          and answers[0][1] == "text/html; charset=utf-8" and answers[1][1] == "application/json", answers)

    # Bad input, then a thousand connections that never finish a request while DMX changes.
    print("note: answers to bad requests: %s" % [raw(r) for r in BAD_REQUESTS], flush=True)
    resource.setrlimit(resource.RLIMIT_NOFILE, (4096, resource.getrlimit(resource.RLIMIT_NOFILE)[1]))
    hanging = [socket.create_connection(("127.0.0.1", 9011), timeout=5) for _ in range(1000)]
    [s.sendall(b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n") for s in hanging]
    send(9, frame_of(d))
    time.sleep(1)
    [s.close() for s in hanging]
    check("after the bad requests and 1000 hanging connections tivgate runs and serves again",
          gate.proc.poll() is None and http_get("GET", "/metrics")[0] == 200)
    up, losses = query("tivgate_line_up", lambda v: v == 1), query("tivgate_line_losses_total")

    bus = sim.finish()  # the line goes away
    gate.wait_log("bus lost")
    send(9, frame_of(c))
    took_lost, seen_lost = page_shows(browser, [x for pair in zip(d, c) for x in pair], 3)
    down = query("tivgate_line_up", lambda v: v == 0)
    lost = query("tivgate_line_losses_total", lambda v: v is not None and v > (losses or 0))
    sent = query("tivgate_looks_sent_total")
    status, _, stats = gate.stop()
    on_bus = [looks(bus, x) for x in (0x010001, 5, 0x010002, 0x010003)]
    check("the bus took the looks DMX gave and no other: a, b, then d during the flood",
          took_bus := on_bus == [[x[i] + ("/09" if i == 1 else "") for x in (a, b, d)] for i in range(4)], on_bus)
    check("the page showed each fixture's look as the bus had it: a, b, and with the line lost d beside c waiting",
          took_bus and took_a is not None and took_lost is not None, (seen_a, seen_lost))
    check("Prometheus: tivgate_line_up %s then %s, tivgate_line_losses_total %s then %s, tivgate_looks_sent_total %s "
          "as --stats says" % (up, down, losses, lost, sent),
          (up, down) == (1, 0) and lost > losses and status == 0 and stats.get("looks sent") == "%d" % sent, stats)


def main():
    for test in (test_mixed_patch_and_source_loss, test_stream_fairness_restart_and_sigterm,
                 test_dead_line_is_reported_and_retried, test_line_lost_and_found, test_reload_stats_and_systemd,
                 test_group_look_and_refresh, test_olad_refusing_and_a_reload_while_registering,
                 test_overrides_on_a_running_gateway, test_control_socket_access_and_bad_input,
                 test_status_page_and_metrics):
        try:
            test()
        except Exception as e:  # a crash in one scenario is a failure, not the end of the run
            check(test.__name__ + " ran to the end", False, repr(e))
        feeder.close()
        for p in children:
            p.terminate()
            p.wait(timeout=20)
        children.clear()
    shutil.rmtree(WORK, ignore_errors=True)
    failed = results.count(False)
    print("%d passed, %d failed" % (len(results) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
