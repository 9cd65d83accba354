"""Paths, the one connection, downloads however they end, and failed frames."""

import os
import subprocess
import sys
import time

import pytest

from conftest import DEVICE_A, GROUP_AB, good_frames

import tivlink

IMAGE = b"\x01\x02\x03" + (16).to_bytes(4, "big")


@pytest.mark.parametrize("as_given", [
    str, os.fsencode, lambda p: p,
    lambda p: p.with_name("\udcff.bin"),  # a name that is not UTF-8
])
def test_image_paths_as_python_gives_them(tmp_path, sim, as_given):
    path = as_given(tmp_path / "image.bin")
    with open(path, "wb") as f:
        f.write(IMAGE)
    with tivlink.Bus(sim.com) as bus:
        bus.load_image(path)
        assert (bus.image_address, bus.image_length, bytes(bus.image[:3])) == (16, 3, IMAGE[:3])


def test_import_without_the_library_says_what_to_install(tmp_path):
    missing = str(tmp_path / "libtivlink.so.1")
    done = subprocess.run([sys.executable, "-c", "import tivlink"], capture_output=True, text=True,
                          env=dict(os.environ, TIVLINK_LIBRARY=missing), timeout=60)
    last = done.stderr.strip().splitlines()[-1]
    assert last.startswith("ImportError: ") and missing in last, done.stderr
    assert "apt install libtivlink1" in last and "set TIVLINK_LIBRARY" in last, last


def test_one_connection_per_process(sim):
    with tivlink.Bus(sim.com) as first:
        with pytest.raises(tivlink.TivlinkError):
            tivlink.Bus(sim.com)
        first.reset(GROUP_AB)
    with pytest.raises(tivlink.TivlinkError):
        first.reset(GROUP_AB)
    with tivlink.Bus(sim.com) as again:
        again.reset(GROUP_AB)
    assert len(good_frames(sim.state())) == 2


def _leave_by_close(bus):
    bus.close()


def _leave_by_with(bus):
    raise KeyboardInterrupt


EXIT_SCRIPT = """
import sys, time, tivlink
bus = tivlink.Bus(int(sys.argv[1]))
bus.set_image(bytes(200), address=16)
bus.download(int(sys.argv[2]))
time.sleep(0.5)
"""


@pytest.mark.parametrize("leave", [_leave_by_close, _leave_by_with, "exit"])
def test_leaving_stops_a_download_with_its_reset(sim, leave):
    if leave == "exit":
        done = subprocess.run([sys.executable, "-c", EXIT_SCRIPT, str(sim.com), str(GROUP_AB)],
                              capture_output=True, text=True, timeout=60)
        assert done.returncode == 0, done.stderr
    else:
        with pytest.raises(KeyboardInterrupt):
            with tivlink.Bus(sim.com) as bus:
                bus.set_image(bytes(200), address=16)
                download = bus.download(GROUP_AB)
                deadline = time.monotonic() + 30
                while download.percent < 1 and time.monotonic() < deadline:
                    time.sleep(0.01)
                leave(bus)
                raise KeyboardInterrupt
        assert download.state == "stopped"
        with pytest.raises(tivlink.TivlinkError):
            bus.reset(GROUP_AB)
    frames = good_frames(sim.state())
    writes = [f for f in frames if f["command"] == 0x7F]
    assert 0 < len(writes) < 200
    assert frames[-1]["command"] == 0xFE


def _download(bus):
    bus.set_image(bytes(3), address=16)
    return bus.download(GROUP_AB).wait()


@pytest.mark.parametrize("operation, error", [
    (lambda bus: bus.set_serial(DEVICE_A, 0x222222), tivlink.TivlinkError),
    (lambda bus: bus.set_group(DEVICE_A, 7), tivlink.TivlinkError),
    (lambda bus: bus.firmware_reset(DEVICE_A), tivlink.TivlinkError),
    (_download, tivlink.DownloadError),
])
def test_failed_frames_raise(sim, operation, error):
    with tivlink.Bus(sim.com, baud=115200) as bus:
        sim.kill()
        with pytest.raises(error):
            operation(bus)
