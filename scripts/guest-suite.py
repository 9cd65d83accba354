"""The test list of an ARM guest and its report (tests/arm/run.sh).

    guest-suite.py list ARCH TESTS_JSON LEFT_OUT GUEST_LIST
        writes GUEST_LIST for the guest's shell (tests/arm/init.sh), one run
        a line: index, working folder, time limit and command (without the
        emulator), tab apart. A run is up to CHUNK tests of one GoogleTest
        program, chosen with --gtest_filter, or one other test: under
        emulation, starting a program costs about as much as a unit test.
    guest-suite.py report ARCH TESTS_JSON LEFT_OUT CONSOLE
        reads what the guest's console reported, shows the output of the
        runs that failed, and ends with "N passed, M failed" over the tests;
        exits 1 on any failure.

TESTS_JSON is `ctest --show-only=json-v1`. LEFT_OUT (tests/arm/left-out)
names the tests that fail under emulation only, on ARCH, each with its
reason.
"""

import json
import re
import sys

CHUNK = 12
FILTER = "--gtest_filter="
# GoogleTest's line for a test that ended, and its name.
RESULT = re.compile(r"\[ +(OK|FAILED|SKIPPED) +\] ([^\s,]+)")


def read_left_out(path, arch):
    """{test name: reason} from the lines `ARCH NAME reason`; # starts a
    comment."""
    reasons = {}
    with open(path) as f:
        for line in f:
            words = line.split("#", 1)[0].split(maxsplit=2)
            if len(words) == 3 and words[0] == arch:
                reasons[words[1]] = words[2]
    return reasons


def plan(tests_json, reasons):
    """The runs, each a dict with its command and the tests it answers for
    ({GoogleTest name or None: ctest name}), and the tests left out."""
    with open(tests_json) as f:
        tests = json.load(f)["tests"]
    runs, groups, left_out = [], {}, []
    for t in tests:
        # GoogleTest's parameter comment is no part of the name.
        name = t["name"].split("  # ")[0]
        if name in reasons:
            left_out.append(name)
            continue
        props = {p["name"]: p["value"] for p in t.get("properties", [])}
        command = t["command"][1:]  # without the emulator
        env = props.get("ENVIRONMENT", [])
        if env:
            command = ["env"] + env + command
        run = {"dir": props.get("WORKING_DIRECTORY", "/"), "limit": int(props.get("TIMEOUT", 1500))}
        gtest = [w for w in command if w.startswith(FILTER)]
        if not gtest:
            runs.append(dict(run, command=command, tests={None: name}))
            continue
        rest = [w for w in command if not w.startswith(FILTER)]
        key = (run["dir"], tuple(rest))
        group = groups.get(key)
        if group is None or len(group["tests"]) == CHUNK:
            group = groups[key] = dict(run, command=rest, tests={}, limit=0)
            runs.append(group)
        group["tests"][gtest[0][len(FILTER):]] = name
        group["limit"] = min(group["limit"] + run["limit"], 600)
    unknown = set(reasons) - set(left_out)
    if unknown:
        sys.exit(f"tests/arm/left-out names tests that do not exist: {' '.join(sorted(unknown))}")
    return runs, left_out


def command_line(run):
    words = list(run["command"])
    if None not in run["tests"]:
        words.append(FILTER + ":".join(run["tests"]))
    for w in words:
        if re.search(r"[\s*?\[\]'\"\\$]", w):
            sys.exit(f"{w}: would not survive the guest's shell")
    return " ".join(words)


def write_list(runs, path):
    with open(path, "w") as out:
        for i, run in enumerate(runs):
            out.write(f"{i}\t{run['dir']}\t{run['limit']}\t{command_line(run)}\n")


def read_console(path):
    """What the guest said, per attempt (1, 2): each run's status, its
    GoogleTest results and its output."""
    said = {a: {"status": {}, "results": {}, "output": {}} for a in (1, 2)}
    with open(path, errors="replace") as f:
        for line in f:
            kind, _, rest = line.rstrip("\r\n").partition(" ")
            i, _, text = rest.partition(" ")
            m = re.fullmatch(r"@(ran|res|out)(2?)", kind)
            if not m or not i.isdigit():
                continue
            attempt, i = said[2 if m.group(2) else 1], int(i)
            if m.group(1) == "ran":
                attempt["status"][i] = int(text.split()[0])
            elif m.group(1) == "res":
                result = RESULT.match(text)
                if result:
                    attempt["results"].setdefault(i, {}).setdefault(result.group(2), result.group(1))
            else:
                attempt["output"].setdefault(i, []).append(text)
    return said


def outcome(attempt, i, gtest):
    """OK, SKIPPED, or why the test failed, in one attempt; None if that
    attempt did not run it."""
    if i not in attempt["status"]:
        return None
    status = attempt["status"][i]
    if gtest is None:
        return "OK" if status == 0 else f"status {status}"
    return attempt["results"].get(i, {}).get(gtest, f"no result (the program ended with status {status})")


def report(runs, left_out, reasons, console):
    said = read_console(console)
    passed = skipped = again = 0
    failed = []
    for i, run in enumerate(runs):
        for gtest, name in run["tests"].items():
            first = outcome(said[1], i, gtest)
            last = first
            if first not in ("OK", "SKIPPED"):
                last = outcome(said[2], i, gtest) or first
            if last == "OK":
                passed += 1
                again += first != "OK"
            elif last == "SKIPPED":
                skipped += 1
            else:
                failed.append((i, name, last or "never started (the guest stopped or ran out of time)"))
    for attempt, title in ((1, "run"), (2, "run once more")):
        for i, lines in sorted(said[attempt]["output"].items()):
            if any(i == f for f, _, _ in failed):
                print(f"--- output of guest {title} {i}")
                print("\n".join(lines[-100:]))
    for _, name, why in failed:
        print(f"FAILED {name}: {why}")
    for name in left_out:
        print(f"left out: {name}: {reasons[name]}")
    total = passed + skipped + len(failed)
    print(f"guest: {total} run in {len(runs)} programs, {again} passed only when run once more, "
          f"{skipped} skipped, {len(left_out)} left out (they fail only because emulation is slow)")
    print(f"{passed} passed, {len(failed)} failed")
    return 1 if failed else 0


def main(argv):
    mode, arch, tests_json, left_out_path, path = argv[1:6]
    reasons = read_left_out(left_out_path, arch)
    runs, left_out = plan(tests_json, reasons)
    if mode == "list":
        write_list(runs, path)
        return 0
    return report(runs, left_out, reasons, path)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
