"""Fixtures: tivsim in a process of its own as the bus. The binding under
test is whichever `import tivlink` finds: the source tree through PYTHONPATH
(ctest), or the installed package (scripts/test-install.sh)."""

import json
import os
import signal
import subprocess

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

TIVSIM = os.environ.get("TIVSIM", os.path.join(ROOT, "build", "linux", "tools", "tivsim"))


class SimProcess:
    """tivsim with its devices; state() ends it and returns its final JSON."""

    def __init__(self, tmp_path, com, devices):
        self.com = com
        self.json_path = tmp_path / "state.json"
        args = [TIVSIM, "--com", str(com), "--quiet", "--json", str(self.json_path)]
        for address, group in devices:
            args += ["--device", f"{address:#x}:{group}"]
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline().strip()
        name, _, path = line.partition("=")
        assert name == f"TIVLINK_COM{com}", line
        self.path = path
        os.environ[name] = path
        self._state = None

    def kill(self):
        """The bus goes away: from now on every frame fails."""
        self.process.kill()
        self.process.wait()

    def state(self):
        if self._state is None:
            self.process.send_signal(signal.SIGTERM)
            assert self.process.wait(timeout=10) == 0
            self._state = json.loads(self.json_path.read_text())
        return self._state

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        os.environ.pop(f"TIVLINK_COM{self.com}", None)


DEVICE_A = 0x123456
DEVICE_B = 0x10002
GROUP_AB = 5


@pytest.fixture
def sim(tmp_path):
    s = SimProcess(tmp_path, 6, [(DEVICE_A, GROUP_AB), (DEVICE_B, GROUP_AB)])
    yield s
    s.close()


def good_frames(state):
    return [f for f in state["frames"] if f["kind"] == "ok"]


def device(state, address):
    return next(d for d in state["devices"] if d["address"] == address)
