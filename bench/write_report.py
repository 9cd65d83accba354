#!/usr/bin/python3
"""Writes docs/performance.md from the results of scripts/bench.sh.

usage: write_report.py RESULTS_DIR COMMAND > docs/performance.md

RESULTS_DIR holds pacing.json, cpu.json and encoder.json (the benchmark
programs' output), machine.txt and, when the tools were there,
strace-download.txt, perf-download.txt and gateway.json (tivgate).
"""
import json
import os
import sys

LINE_BAUD = 115200
LINE_BYTES_PER_S = LINE_BAUD / 10  # 8N1: ten bits per byte

# Targets.
PACING_ABOVE_BARE_MS = 0.1
PACING_P99_MS = 2.0
SEQUENCE_RATIO = 1.01
IDLE_CPU_MS = 1.0
ENCODER_TIMES_LINE = 1000
STOP_POLL_MS = 5.0  # "a few milliseconds"

LIBRARY_FRAME_PAYLOADS = [0, 1, 2, 3, 5]
DOWNLOAD_ONLY_FRAMES = 52  # bench_cpu --download-only 50: begin, 50 bytes, reset


def load(results, name):
    path = os.path.join(results, name)
    if not os.path.exists(path):
        return None
    with open(path) as f:
        return json.load(f)


def text(results, name):
    path = os.path.join(results, name)
    if not os.path.exists(path):
        return None
    with open(path) as f:
        return f.read().strip()


def ok(flag):
    return "met" if flag else "**missed**"


def ms(value, digits=3):
    return "%.*f" % (digits, value)


def pct(ratio):
    return "%.4f (%+.2f %%)" % (ratio, (ratio - 1) * 100)


class Report:
    def __init__(self):
        self.lines = []

    def add(self, line=""):
        self.lines.append(line)

    def table(self, header, rows):
        self.add("| " + " | ".join(header) + " |")
        self.add("|" + "|".join("---" for _ in header) + "|")
        for row in rows:
            self.add("| " + " | ".join(str(c) for c in row) + " |")
        self.add()


# ---------------------------------------------------------------- gateway

GATEWAY_GROUP_MEDIAN_MS = 5.0


def gateway_section(r, gateway):
    r.add("## DMX gateway (tivgate)")
    r.add()
    r.add("`bench_gateway` sends DMX to a private olad (in a network namespace of its own) with OLA's "
          "streaming client; tivgate runs as its own process on a simulated bus in the benchmark, "
          "which times each frame's first byte on the line.")
    r.add()
    lat = gateway.get("group_latency_ms")
    if lat:
        r.add("From a DMX change handed to olad to the first frame of the look on the bus, for a "
              "group fixture (no pause after its frames), %d changes one at a time:" % lat["count"])
        r.add()
        r.table(["median ms", "p99 ms", "max ms", "target"],
                [[ms(lat["median"]), ms(lat["p99"]), ms(lat["max"]),
                  "median within %.0f ms: %s" % (GATEWAY_GROUP_MEDIAN_MS,
                                                  ok(lat["median"] <= GATEWAY_GROUP_MEDIAN_MS))]])
    rows = []
    for p in gateway.get("physical", []):
        t = p["total_ms"]
        rows.append([int(p["devices"]), int(p["frames"]), ms(p["minimum_ms"], 0), ms(t["median"], 1),
                     ms(t["max"], 1), pct(t["median"] / p["minimum_ms"]), ms(p["first_frame_ms"]["median"])])
    if rows:
        r.add("Every device changes in one DMX frame: the time until the last look is on the bus "
              "(the last frame's own 30 ms pause included), against the protocol's minimum for the "
              "same frames, three per look with 30 ms after each (the simulated line adds no wire "
              "time; at 9600 baud a real line adds about 40 ms per look):")
        r.add()
        r.table(["devices", "frames", "minimum ms", "median ms", "max ms", "median / minimum",
                 "first frame ms"], rows)
    groups_section(r, gateway.get("groups", []))
    page_section(r, gateway)


PAGE_LOADS = {
    "none": "nothing else",
    "page_and_scrapes": "the status page polled twice a second and a scrape of /metrics every second",
    "hanging_1000": "1000 connections that sent half a request and stopped (it keeps what its limits allow, "
                    "the rest it closes at once)",
}


def page_section(r, gateway):
    runs = gateway.get("page_latency_ms")
    if not runs:
        return
    r.add("### The status page and metrics")
    r.add()
    r.add("DMX change to the first frame of a group look, %d changes one at a time per run, each run with a "
          "tivgate of its own, while the HTTP server has:" % runs[0]["latency_ms"]["count"])
    r.add()
    base = next((x["latency_ms"] for x in runs if x["load"] == "none"), None)
    rows = []
    for x in runs:
        lat = x["latency_ms"]
        rows.append([PAGE_LOADS.get(x["load"], x["load"]), ms(lat["median"]), ms(lat["p99"]), ms(lat["max"]),
                     "" if x["load"] == "none" or not base else "%+.3f ms" % (lat["median"] - base["median"])])
    r.table(["clients of the server", "median ms", "p99 ms", "max ms", "median against none"], rows)
    costs = [(k, gateway.get(k)) for k in ("idle_with_http", "idle_without_http", "idle_http_thread")]
    if all(c for _, c in costs):
        names = {"idle_with_http": "tivgate, server on 127.0.0.1:9011, nobody connected",
                 "idle_without_http": "tivgate with `--http \"\"` (no server)",
                 "idle_http_thread": "the server's thread alone"}
        r.add("Idle, a static scene after the source's silence, 10 s each, measured from outside "
              "(context switches of the threads):")
        r.add()
        r.table(["", "wake-ups per second", "CPU s per hour"],
                [[names[k], "%.2f" % c["wakeups_per_s"], "%.3f" % c["cpu_s_per_hour"]] for k, c in costs])


GROUP_GOALS = {"uniform_115200": 20.0, "uniform_9600": 160.0, "fade": 35.0, "different": 1.02, "first": 1.0}


def groups_section(r, runs):
    by = {(g["baud"], g["groups"]): g for g in runs}
    if not by:
        return
    r.add("64 devices in four groups of 16, patched once as 64 device fixtures (device by device) and once "
          "with the four `[[group]]` declarations, in one run. Times run from the DMX frame handed to olad "
          "until every device shows the scene, medians over the runs, with the frames' wire time added "
          "(the pseudo-terminal has none); a uniform change is a blackout and a full colour in turn:")
    r.add()
    rows = []
    for baud in (115200, 9600):
        dev, grp = by.get((baud, False)), by.get((baud, True))
        if not dev or not grp:
            continue
        goal = GROUP_GOALS["uniform_%d" % baud]
        u = grp["uniform_ms"]["median"]
        rows.append(["uniform scene change, %d baud" % baud, "%s ms" % ms(dev["uniform_ms"]["median"], 1),
                     "%s ms (wire time %s ms)" % (ms(u, 1), ms(grp["uniform_wire_ms"]["median"], 1)),
                     "≤ %.0f ms" % goal, ok(u <= goal)])
        ratio = grp["different_ms"]["median"] / dev["different_ms"]["median"]
        rows.append(["every device different, %d baud" % baud, "%s ms" % ms(dev["different_ms"]["median"], 1),
                     "%s ms (%s)" % (ms(grp["different_ms"]["median"], 1), pct(ratio)),
                     "within 2 %", ok(ratio <= GROUP_GOALS["different"])])
        if "fade_slowest_looks_per_s" in grp:
            f = grp["fade_slowest_looks_per_s"]
            rows.append(["2 s uniform fade at 40 Hz, %d baud: looks per second, slowest device (mean)" % baud,
                         "%.2f (%.2f)" % (dev["fade_slowest_looks_per_s"], dev["fade_mean_looks_per_s"]),
                         "%.1f (%.1f)" % (f, grp["fade_mean_looks_per_s"]), "≥ 35", ok(f >= GROUP_GOALS["fade"])])
        first = grp["uniform_first_frame_ms"]["median"]
        rows.append(["DMX change to the first frame of a group look, %d baud, median" % baud, "",
                     "%s ms" % ms(first), "≤ 1 ms", ok(first <= GROUP_GOALS["first"])])
    r.table(["scene change on 64 devices in 4 groups of 16", "device by device", "with groups", "goal", "met"],
            rows)
    slow = by.get((9600, True))
    if slow:
        r.add("A group look is the library's three light frames to the group address. At 9600 baud the four "
              "group looks of a uniform change take %s ms on the line alone, so that figure cannot come "
              "under it, whatever the sender does." % ms(slow["uniform_wire_ms"]["median"], 1))
        r.add()


# ---------------------------------------------------------------- pacing

def pacing_rows(pacing):
    return [s for s in pacing["scenarios"] if "library" in s]


def three(summary):
    return "%s / %s / %s" % (ms(summary["median"]), ms(summary["p99"]), ms(summary["max"]))


def has_pause(s):
    return s["pause_ms"] > 0


def sleep_floor_ratio(s, bare_mean):
    """What a sender whose only cost is one late wake-up per paused gap
    would reach: the machine's floor for the sequence ratio."""
    paused_gaps = s["paused_frames"] if "paused_frames" in s else (s["frames"] if has_pause(s) else 0)
    return (s["min_ms"] + paused_gaps * bare_mean) / s["min_ms"]


def ours_vs_theirs(s):
    """Ratio of our overhead to the pySerial script's: per gap (medians) where
    the frames have pauses, per frame from the sequence time otherwise."""
    if "python" not in s:
        return None
    lib, py = s["library"], s["python"]
    if has_pause(s):
        a, b = lib["overhead_ms"]["median"], py["overhead_ms"]["median"]
    else:
        a, b = lib["excess_per_frame_ms"]["median"], py["excess_per_frame_ms"]["median"]
    return a / b if b > 0 else None


def pacing_section(r, pacing):
    bare = pacing["bare_sleep_overshoot_ms"]
    r.add("## Pacing over the simulated bus")
    r.add()
    r.add("Each sequence is sent by the library and, in turns in the same run, by "
          "`bench/pyserial_pacer.py`: the simplest thing a user would write with Debian's "
          "pySerial (encode each frame with a bit-by-bit CRC, `write()` it, `time.sleep()` each "
          "pause the protocol asks for: 30 ms after a frame to a physical address, then 200/100 ms "
          "after a setup begin, 50 ms after an EEPROM byte, 100 ms after the closing reset). "
          "A third sender, the *floor*, writes the same frames, encoded beforehand, with a bare "
          "`write(2)` and one relative `clock_nanosleep` of each frame's whole pause: what it shows "
          "beyond a bare sleep belongs to the pseudo-terminal and to the bus's stamping, not to any "
          "sender. Each writes to its own simulated bus (`SimBus`, a pseudo-terminal), which stamps "
          "every frame with the monotonic time of the read that brought it; the three take turns, "
          "repetition by repetition.")
    r.add()
    r.add("- **Overhead per gap** = (first byte of frame *i+1* − first byte of frame *i*) − "
          "mandated pause after frame *i* − wire time of frame *i* as the line took it. "
          "A pseudo-terminal has no wire time: the kernel passes the bytes at once, whatever "
          "baud rate is set (the bus read each frame whole; its last byte came %s ms after its "
          "first at the median). So the overhead here is the gap from a frame's last byte to "
          "the next frame's first byte, less the mandated pause. Delivery to the bus's reader "
          "thread adds jitter in both directions (a late stamp on one frame shortens the next gap)."
          % ms(max(s["library"]["frame_span_ms"]["median"] for s in pacing_rows(pacing))))
    r.add("- **Wire time** is taken as bits / baud: 10 bits per byte (start, 8 data, stop), "
          "escapes included. It is added, not measured: on a real port a write completes when "
          "the line has taken the bytes, so each frame would add its wire time to the sequence. "
          "**Ratio** = (sequence time measured by the sender + wire time) / (mandated pauses + "
          "wire time), the protocol's minimum. 115200 and 9600 baud therefore differ only in "
          "the wire time added; the pseudo-terminal itself runs at the same speed for both.")
    lifted = pacing.get("bare_sleep_low_slack_overshoot_ms")
    r.add("- **Bare sleep**: a relative `clock_nanosleep` of 30 ms, measured in the same run "
          "between the repetitions, overshot by %s ms at the median (p99 %s, max %s, mean %s ms; "
          "%d sleeps)%s. Python's `time.sleep(0.03)` overshot by %s ms at the median."
          % (ms(bare["median"]), ms(bare["p99"]), ms(bare["max"]), ms(bare["mean"]), bare["count"],
             "; with the thread's timer slack lifted to 1 ns, as the library does for its pauses, "
             "by %s ms" % ms(lifted["median"]) if lifted else "",
             ms(pacing["python_sleep_overshoot_ms"]["median"]) if "python_sleep_overshoot_ms" in pacing else "–"))
    r.add("- Times in ms; overheads as median / p99 / max over all gaps of all repetitions; "
          "ratios are medians over the repetitions. *ours/theirs* compares the median overhead per "
          "gap, or for frames without pauses the sequence time per frame.")
    r.add()
    rows = []
    for s in pacing_rows(pacing):
        lib = s["library"]
        py = s.get("python")
        o = lib["overhead_ms"]
        row = [s["title"], s["baud"], "%d x %d" % (s["reps"], s["frames"]), ms(s["min_ms"], 1),
               three(o), pct(lib["ratio_median"])]
        if py:
            row += [three(py["overhead_ms"]), pct(py["ratio_median"])]
            vs = ours_vs_theirs(s)
            row.append("%.2f" % vs if vs is not None else "–")
        else:
            row += ["–", "–", "–"]
        row += [three(s["floor"]["overhead_ms"]), pct(s["floor"]["ratio_median"])] if "floor" in s else ["–", "–"]
        rows.append(row)
    r.table(["sequence", "baud", "reps x frames", "minimum", "library overhead", "library vs minimum",
             "pySerial overhead", "pySerial vs minimum", "ours/theirs", "floor overhead", "floor vs minimum"],
            rows)
    rows = []
    for s in pacing_rows(pacing):
        lib = s["library"]
        py = s.get("python")
        rows.append([s["title"], s["baud"], ms(s["pause_ms"], 0), ms(s["wire_ms"], 2),
                     "%d" % s["wire_bytes"], ms(lib["excess_per_frame_ms"]["median"], 4),
                     ms(py["excess_per_frame_ms"]["median"], 4) if py else "–",
                     ms(s["floor"]["excess_per_frame_ms"]["median"], 4) if "floor" in s else "–",
                     pct(sleep_floor_ratio(s, bare["mean"])) if has_pause(s) else "–"])
    r.add("Per repetition: mandated pauses, wire time and wire bytes; the sender's time beyond "
          "the pauses per frame (median over repetitions); and the floor a sender would reach "
          "whose only cost were one mean bare-sleep overshoot per paused gap:")
    r.add()
    r.table(["sequence", "baud", "pauses", "wire time", "wire bytes", "library excess/frame",
             "pySerial excess/frame", "floor excess/frame", "sleep floor vs minimum"], rows)


# ---------------------------------------------------------------- encoder

def encoder_runs(encoder):
    """name -> run of the median aggregate (or the only run)."""
    runs = {}
    for b in encoder["benchmarks"]:
        name = b.get("run_name", b["name"])
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        runs[name] = b
    return runs


def encoder_section(r, encoder):
    runs = encoder_runs(encoder)
    r.add("## Frame encoder")
    r.add()
    reps = max((b.get("repetitions", 1) for b in encoder["benchmarks"]), default=1)
    r.add("Google Benchmark, %s, CPU time. *Baseline* is the same single-pass encoder with a "
          "bit-by-bit CRC-16/MODBUS instead of the library's two 256-byte tables. *x line* = wire "
          "bytes produced per second / %d bytes per second, the fastest line rate (%d baud, 8N1)."
          % ("median of %d repetitions" % reps if reps > 1 else "one run", LINE_BYTES_PER_S, LINE_BAUD))
    r.add()
    rows = []
    for n in LIBRARY_FRAME_PAYLOADS + [990]:
        lib = runs.get("BM_FrameEncode/payload:%d" % n)
        base = runs.get("BM_BaselineEncode/payload:%d" % n)
        if not lib or not base:
            continue
        wire = lib["wire_bytes"]
        rows.append([n, int(wire), "%.2f M" % (lib["items_per_second"] / 1e6),
                     "%.1f" % (lib["bytes_per_second"] / 1e6), "%.0f" % lib["x_line"],
                     "%.2f M" % (base["items_per_second"] / 1e6),
                     "%.1f x" % (lib["items_per_second"] / base["items_per_second"])])
    r.table(["payload bytes", "wire bytes", "library frames/s", "library MB/s", "x line",
             "baseline frames/s", "library / baseline"], rows)
    table, bit = runs.get("BM_Crc16Table/bytes:997"), runs.get("BM_Crc16Bitwise/bytes:997")
    if table and bit:
        r.add("The CRC alone over the largest frame's 997 logical bytes: tables %.1f MB/s, bit by "
              "bit %.1f MB/s (%.1f x)." % (table["bytes_per_second"] / 1e6, bit["bytes_per_second"] / 1e6,
                                          table["bytes_per_second"] / bit["bytes_per_second"]))
        r.add()
    ctx = encoder["context"]
    if ctx.get("library_build_type") == "debug":
        r.add("Google Benchmark reports that Debian builds its own library without NDEBUG; that "
              "touches the harness, not the code measured, which is built Release.")
        r.add()


# ---------------------------------------------------------------- cpu

def cpu_section(r, cpu):
    r.add("## CPU")
    r.add()
    r.add("From the scheduler's accounting of each thread (`/proc/self/task/*/schedstat`: "
          "nanoseconds on a CPU, and how often the thread was put on one, i.e. woken). The "
          "library's thread is the one that appears when the connection opens: the reader, "
          "`CommReader`, asleep in `ppoll` inside its event wait. The POSIX stand-in has no thread "
          "of its own; a frame is written in the sender's thread.")
    r.add()
    idle = cpu["idle"]
    lib = idle["library_threads"]
    rows = [["open, idle connection", "%.0f s" % idle["seconds"],
             "%.3f ms CPU, %d wake-ups (reader %d), %d `Sleep(0)` calls" % (
                 lib["cpu_ms"], lib["wakeups"], idle["reader"]["wakeups"], idle.get("sleep0_calls", 0))]]
    d = cpu["download"]
    rows.append(["download to a physical address", "%d bytes in %.1f s" % (d["bytes"], d["seconds"]),
                 "%.1f µs CPU per byte (%.2f ms in all, all threads but the bus's), %.1f wake-ups of the "
                 "library's threads per frame, %d `Sleep(0)` calls" % (
                     d["cpu_us_per_byte"], d["cpu_ms"], d.get("port_thread_wakeups_per_frame", 0),
                     d.get("sleep0_calls", 0))])
    f = cpu["flood"]
    rows.append(["incoming flood at %d B/s (115200 baud)" % f["bytes_per_second"],
                 "%.0f bytes in %.1f s" % (f["bytes"], f["seconds"]),
                 "reader %.2f %% of one CPU (%d wake-ups); %d bytes left unread" % (
                     f["reader"]["cpu_share"] * 100, f["reader"]["wakeups"], f["left_queued"])])
    r.table(["case", "span", "measured"], rows)
    r.add("Per frame of the download the worker writes the frame and sleeps once (the 30 ms a physical "
          "address needs and the 50 ms after an EEPROM byte, as one pause); the CPU goes mostly to the "
          "kernel's side of that, putting the worker to sleep, waking it, and passing the bytes through "
          "the pseudo-terminal (see the `perf stat` of a download below). Nothing runs between frames: "
          "the reader wakes only for incoming bytes.")
    r.add()
    r.add("Closing waits for the reader by polling its exit code with `Sleep(0)` "
          "(`SerialStopCommThread`; on Linux `Sleep(0)` is `sched_yield`). Measured over repeated "
          "opens: from the call to its return, the number of `Sleep(0)` calls, and the CPU the "
          "closing thread used meanwhile:")
    r.add()
    rows = []
    for key, title in (("stop_poll_idle", "otherwise idle machine"),
                       ("stop_poll_loaded", "every core kept busy by a spinning thread")):
        s = cpu[key]
        rows.append([title, s["wait_us"]["count"],
                     "%.0f / %.0f / %.0f" % (s["wait_us"]["median"], s["wait_us"]["p99"], s["wait_us"]["max"]),
                     "%.0f / %.0f" % (s["sleep0_calls"]["median"], s["sleep0_calls"]["max"]),
                     "%.0f / %.0f" % (s["cpu_us"]["median"], s["cpu_us"]["max"])])
    r.table(["while", "closes", "wait µs median / p99 / max", "Sleep(0) calls median / max",
             "CPU µs median / max"], rows)


# ---------------------------------------------------------------- targets

def targets_section(r, pacing, cpu, encoder):
    r.add("## Targets")
    r.add()
    rows = []
    notes = []
    bare = pacing["bare_sleep_overshoot_ms"] if pacing else None
    if pacing:
        wrong = ["%s (%s, %d baud)%s" % (who, s["title"], s["baud"], ": " + s[who]["problem"] if s[who].get("problem") else "")
                 for s in pacing_rows(pacing) for who in ("library", "python", "floor")
                 if who in s and not s[who]["frames_ok"]]
        rows.append(["every frame on the bus as planned", "all senders, all sequences",
                     "; ".join(wrong) if wrong else "yes", ok(not wrong)])
        paused = [s for s in pacing_rows(pacing) if has_pause(s)]
        worst = max(paused, key=lambda s: s["library"]["overhead_ms"]["median"])
        limit = bare["median"] + PACING_ABOVE_BARE_MS
        met = worst["library"]["overhead_ms"]["median"] <= limit
        rows.append(["pacing overhead, median, frames with pauses",
                     "≤ bare sleep overshoot + 0.1 ms = %s ms" % ms(limit),
                     "worst %s ms (%s, %d baud)" % (ms(worst["library"]["overhead_ms"]["median"]),
                                                    worst["title"], worst["baud"]), ok(met)])
        if not met and "floor" in worst:
            notes.append(
                "Median: in that sequence the floor sender, which has no library at all, had a median "
                "overhead of %s ms against the bare sleep's %s ms; the pseudo-terminal and the bus's "
                "stamping take that difference from every sender, which leaves the library %s ms above "
                "the floor. On a real port neither the pseudo-terminal nor the simulated bus is there." % (
                    ms(worst["floor"]["overhead_ms"]["median"]), ms(bare["median"]),
                    ms(worst["library"]["overhead_ms"]["median"] - worst["floor"]["overhead_ms"]["median"])))
        worst = max(pacing_rows(pacing), key=lambda s: s["library"]["overhead_ms"]["p99"])
        met = worst["library"]["overhead_ms"]["p99"] <= PACING_P99_MS
        rows.append(["pacing overhead, p99", "≤ 2 ms per frame",
                     "worst %s ms (%s, %d baud)" % (ms(worst["library"]["overhead_ms"]["p99"]), worst["title"],
                                                    worst["baud"]), ok(met)])
        if not met:
            floors = [s["floor"]["overhead_ms"]["p99"] for s in pacing_rows(pacing) if "floor" in s]
            pys = [s["python"]["overhead_ms"]["p99"] for s in pacing_rows(pacing) if "python" in s]
            notes.append(
                "p99: in the same run the floor sender's worst p99 was %s ms (in this sequence %s ms) and "
                "the pySerial script's %s ms; a bare 30 ms `clock_nanosleep` alone had a p99 overshoot of "
                "%s ms (max %s ms). The tail comes from threads waiting for a CPU: the sender after its "
                "pause, and the bus's reader, whose late stamp on one frame lengthens one gap and shortens "
                "the next. On this shared 2-core machine other builds and tests ran meanwhile (load average "
                "in *Machine*). Nothing in the library can shorten that wait short of real-time priority, "
                "which a library must not take for its host." % (
                    ms(max(floors)) if floors else "–",
                    ms(worst["floor"]["overhead_ms"]["p99"]) if "floor" in worst else "–",
                    ms(max(pys)) if pys else "–", ms(bare["p99"]), ms(bare["max"])))
        worst = max(pacing_rows(pacing), key=lambda s: s["library"]["ratio_median"])
        met = worst["library"]["ratio_median"] <= SEQUENCE_RATIO
        rows.append(["whole sequence vs the protocol minimum", "within 1 %",
                     "worst %s (%s, %d baud)" % (pct(worst["library"]["ratio_median"]), worst["title"],
                                                 worst["baud"]), ok(met)])
        if not met:
            floor = sleep_floor_ratio(worst, bare["mean"]) if has_pause(worst) else None
            notes.append(
                "Sequence: %s at %d baud took %s over its minimum; %s" % (
                    worst["title"], worst["baud"], pct(worst["library"]["ratio_median"]),
                    ("with the mean bare-sleep overshoot of this run (%s ms, its tail included) a sender "
                     "that did nothing but sleep would already reach %s. With 30 ms pauses, 1 %% leaves "
                     "0.3 ms per gap for everything, and this machine's sleeps alone take that much "
                     "when it is loaded." % (ms(bare["mean"]), pct(floor)))
                    if floor is not None else
                    "these frames have no pauses, so their minimum is their wire time alone and the "
                    "cost of each write counts against it."))
        pairs = [(s, ours_vs_theirs(s)) for s in pacing_rows(pacing)]
        pairs = [(s, v) for s, v in pairs if v is not None]
        if pairs:
            worst, v = max(pairs, key=lambda p: p[1])
            rows.append(["our overhead vs the pySerial script's", "no worse (ratio ≤ 1)",
                         "worst %.2f (%s, %d baud)" % (v, worst["title"], worst["baud"]), ok(v <= 1)])
        else:
            rows.append(["our overhead vs the pySerial script's", "no worse", "pySerial not available", "–"])
    if cpu:
        idle = cpu["idle"]
        lib = idle["library_threads"]
        scale = 10.0 / idle["seconds"]
        met = lib["cpu_ms"] * scale < IDLE_CPU_MS and lib["wakeups"] == 0
        rows.append(["idle connection", "< 1 ms CPU in 10 s, no thread woken",
                     "%.3f ms in %.0f s, %d wake-ups" % (lib["cpu_ms"], idle["seconds"], lib["wakeups"]), ok(met)])
    if encoder:
        runs = encoder_runs(encoder)
        xs = [(n, runs["BM_FrameEncode/payload:%d" % n]["x_line"]) for n in LIBRARY_FRAME_PAYLOADS
              if "BM_FrameEncode/payload:%d" % n in runs]
        if xs:
            n, x = min(xs, key=lambda p: p[1])
            rows.append(["encoder vs the 115200-baud line", "≥ 1000 x",
                         "slowest %.0f x (payload %d)" % (x, n), ok(x >= ENCODER_TIMES_LINE)])
    if cpu:
        for key, title in (("stop_poll_idle", "otherwise idle"), ("stop_poll_loaded", "every core busy")):
            poll = cpu[key]
            wait = poll["wait_us"]
            rows.append(["`Sleep(0)` poll while the reader ends, %s" % title, "within a few ms (≤ %.0f)" % STOP_POLL_MS,
                         "median %.2f ms, max %.2f ms; max %d calls, %.2f ms CPU" % (
                             wait["median"] / 1000, wait["max"] / 1000, poll["sleep0_calls"]["max"],
                             poll["cpu_us"]["max"] / 1000), ok(wait["max"] / 1000 <= STOP_POLL_MS)])
        loaded = cpu["stop_poll_loaded"]
        if loaded["wait_us"]["max"] / 1000 > STOP_POLL_MS:
            calls, cpu_ms = loaded["sleep0_calls"]["max"], loaded["cpu_us"]["max"] / 1000
            if calls > 100:
                how = ("the closing thread cannot hand it its own core: `Sleep(0)` only yields to threads "
                       "queued on the same core, so it returns at once and is called again (up to %d times, "
                       "%.1f ms of CPU in the worst close)" % (calls, cpu_ms))
            else:
                how = ("each `Sleep(0)` handed the closing thread's core to a spinning thread until its next "
                       "turn (at most %d calls, %.2f ms of CPU in the worst close)" % (calls, cpu_ms))
            notes.append(
                "Closing with every core busy (two threads spinning at the same priority, a worst case): "
                "the poll's median was %.2f ms but its longest %.1f ms. The reader, runnable once the mask "
                "change has completed its wait, is queued for a core that a spinning thread holds; %s. "
                "The wait ends when the scheduler runs the reader, whatever the poll does; waiting on the "
                "thread handle instead would save the CPU of a spinning poll but not the wait, and is not how "
                "this layer is built to stop its reader."
                % (loaded["wait_us"]["median"] / 1000, loaded["wait_us"]["max"] / 1000, how))
    r.table(["target", "wanted", "measured", ""], rows)
    for n in notes:
        r.add("- " + n)
    if notes:
        r.add()


# ---------------------------------------------------------------- findings

def findings_section(r, pacing, cpu):
    rows = pacing_rows(pacing)
    bare = pacing["bare_sleep_overshoot_ms"]
    single = [s for s in rows if s["key"] == "rgbx_physical"]
    double = [s for s in rows if s["key"] in ("setup", "download")]
    group = [s for s in rows if s["key"] == "rgbx_group"]
    if not (single and double and group):
        return

    def span(items, who):
        values = [s[who]["overhead_ms"]["median"] for s in items if who in s]
        if not values:
            return "–"
        lo, hi = ms(min(values)), ms(max(values))
        return "%s ms" % lo if lo == hi else "%s–%s ms" % (lo, hi)

    r.add("## What the figures show")
    r.add()
    lifted = pacing.get("bare_sleep_low_slack_overshoot_ms")
    r.add("- **Pauses.** A paced gap ends when the sending thread wakes from its pause, and a "
          "sleeping thread wakes late: the bare 30 ms sleep overshot by %s ms at the median%s. "
          "The library's pauses lift the thread's timer slack for their duration (the kernel "
          "otherwise lets a sleeper wake up to 50 µs late) and put it back after. The library's "
          "median overhead per gap, %s on set_rgbx series (one pause per frame) and %s on setup "
          "sequences and downloads, is that one wake-up plus the write path below. Setup sequences "
          "and downloads keep two pauses after each frame (30 ms for a physical address, then the "
          "sequence's own) and sleep once for both (`tiv_frame_send_then_pause`), so the second "
          "pause adds no second wake-up; a download's worker keeps its timer slack lifted for its "
          "whole life. The pySerial script sleeps twice in the plain way, and shows what "
          "that costs: %s on those sequences against %s on set_rgbx series."
          % (ms(bare["median"]),
             ", %s ms with its timer slack lifted to 1 ns" % ms(lifted["median"]) if lifted else "",
             span(single, "library"), span(double, "library"), span(double, "python"), span(single, "python")))
    after, hot = pacing.get("send_after_sleep_us"), pacing.get("send_back_to_back_us")
    if after and hot:
        line = ("- **Write path.** One frame to a group address (no pause) took %.0f µs at the median "
                "after the thread had slept 30 ms, as every paced frame is sent, and %.1f µs straight "
                "after another frame. The encoder's share is well under a microsecond (below); the rest "
                "is the write to the pseudo-terminal, in the sender's own thread, and waking the bus's "
                "reader; the library's reader sleeps through it, since only received bytes end its "
                "wait." % (after["median"], hot["median"]))
        if cpu and "reader_wakeups_per_frame" in cpu.get("download", {}):
            d = cpu["download"]
            line += " In the download the library's reader woke %.2f times per frame." % d["reader_wakeups_per_frame"]
        r.add(line)
    g = group[0]
    r.add("- **Frames without pauses.** A set_rgbx series to a group has only its wire time as its "
          "minimum (%s ms for %d frames at %d baud), so the cost of each write counts against it: the "
          "library spent %.1f µs per frame beyond the pauses, the pySerial script %s."
          % (ms(g["wire_ms"], 1), g["frames"], g["baud"], g["library"]["excess_per_frame_ms"]["median"] * 1000,
             "%.1f µs" % (g["python"]["excess_per_frame_ms"]["median"] * 1000) if "python" in g else "–"))
    r.add("- **Whole sequences.** With 30 ms pauses, 1 %% of the minimum leaves 0.3 ms per gap for "
          "everything; the *sleep floor* column shows how much of it this machine's sleeps alone took in "
          "this run (mean bare overshoot %s ms, its tail included)." % ms(bare["mean"]))
    r.add()


# ---------------------------------------------------------------- main

def strace_summary(body):
    """The header, the calls made at least ten times, and the total."""
    kept = []
    for line in body.splitlines():
        words = line.split()
        if len(words) >= 5 and words[0][0].isdigit() and words[-1] != "total":
            calls = int(words[3])
            if calls < 10:
                continue
        kept.append(line)
    return "\n".join(kept)


# Measured side by side with scripts/frame_cost.sh on Release builds of 808caea
# (before) and of the rewritten stand-in (after), 2026-12-08, load average 3.6.
FRAME_COST_BEFORE_AFTER = ("before 153.9 and 167.1 µs of CPU and 5.8 and 5.5 context switches per frame; "
                           "after 55.4 and 45.0 µs and 1.3 and 1.6.")


def main():
    if len(sys.argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    results, command = sys.argv[1], sys.argv[2]
    pacing, cpu, encoder = load(results, "pacing.json"), load(results, "cpu.json"), load(results, "encoder.json")
    r = Report()
    r.add("# Performance")
    r.add()
    r.add("Written by `%s`, which installs what it needs, builds Release, runs every benchmark "
          "(about five minutes) and writes this file. The figures come from one run on the machine "
          "below; this 2-core machine is shared, so other work may run alongside: read medians and "
          "ratios, which are measured side by side in the same run." % command)
    r.add()
    machine = text(results, "machine.txt")
    if machine:
        r.add("## Machine")
        r.add()
        for line in machine.splitlines():
            r.add("- " + line)
        r.add()
    targets_section(r, pacing, cpu, encoder)
    if pacing:
        findings_section(r, pacing, cpu)
        pacing_section(r, pacing)
    if encoder:
        encoder_section(r, encoder)
    if cpu:
        cpu_section(r, cpu)
    frame_cost = text(results, "frame-cost.txt")
    if frame_cost:
        r.add("Per download frame, measured from outside with the bus in another process "
              "(`scripts/frame_cost.sh`: `perf stat` of `bench/download_host` against `tivsim`, the "
              "difference of a 220-byte and a 20-byte download): " + frame_cost.strip())
        r.add()
        r.add("CPU per download frame, before and after the stand-in lost its I/O thread and the "
              "setup frames their second sleep: " + FRAME_COST_BEFORE_AFTER)
        r.add()
    gateway = load(results, "gateway.json")
    if gateway:
        gateway_section(r, gateway)
    for name, title, what in (
            ("strace-download.txt", "System calls of a download",
             "`strace -f -c` of `bench_cpu --download-only 50` (50 bytes to a physical address, "
             "52 frames; strace slows every call, so only the counts matter; calls made fewer than "
             "ten times left out):"),
            ("perf-download.txt", "perf stat of a download",
             "`perf stat` of `bench_cpu --download-only 50`:")):
        body = text(results, name)
        if body and name.startswith("strace"):
            body = strace_summary(body)
        if body and name.startswith("perf"):
            switches = [l.split()[0] for l in body.splitlines() if "context-switches" in l]
            if switches:
                what += (" %.1f context switches per frame, all threads counted (the bus's too)."
                         % (float(switches[0].replace(",", "")) / DOWNLOAD_ONLY_FRAMES))
        if body:
            r.add("## " + title)
            r.add()
            r.add(what)
            r.add()
            r.add("```")
            r.add(body)
            r.add("```")
            r.add()
    sys.stdout.write("\n".join(r.lines).rstrip() + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
