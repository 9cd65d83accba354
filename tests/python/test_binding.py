"""The Python binding against tivsim in a separate process."""

import os
import re
import subprocess
import sys

import pytest

from conftest import DEVICE_A, DEVICE_B, GROUP_AB, ROOT, device, good_frames

import tivlink


@pytest.mark.parametrize("given, word", [
    (0x11223344, 0x11223344),
    ("#11223344", 0x11223344),
    ("#abcdef", 0xABCDEF00),
    ("0xff", 0xFF),
    ("4096", 4096),
])
def test_colours(given, word):
    assert tivlink.parse_colour(given) == word


@pytest.mark.parametrize("bad, error", [
    ("#12345", ValueError), ("#1122334455", ValueError), ("#gg000000", ValueError),
    (-1, ValueError), (1 << 32, ValueError), ("red", ValueError), (True, TypeError),
])
def test_bad_colours(bad, error):
    with pytest.raises(error):
        tivlink.parse_colour(bad)


def test_version_is_the_librarys():
    tivlink.load_library()
    with open("/proc/self/maps") as maps:
        loaded = re.search(r"libtivlink\.so\.(\d+\.\d+\.\d+)", maps.read())
    assert tivlink.__version__ == os.environ["TIVLINK_VERSION"] == loaded.group(1)


def test_light_and_program_frames_reach_the_devices(sim):
    with tivlink.Bus(sim.com, baud=115200) as bus:
        bus.set_rgbx(DEVICE_A, "#0A0B0C0D")
        bus.fade_rgbx(GROUP_AB, 0x01020304, 0x34)
        bus.prog(DEVICE_B, 9)
        bus.reset(GROUP_AB)
        bus.send(5, 0x42, b"\xca\xcb")
    state = sim.state()
    frames = [(f["address"], f["command"], f["payload"]) for f in good_frames(state)]
    assert frames == [
        (DEVICE_A, 0x7E, "1201"),
        (DEVICE_A, 0x7E, "040A0B0C0D"),
        (DEVICE_A, 0x7E, "000A0B0C0D"),
        (GROUP_AB, 0x7E, "113401"),
        (GROUP_AB, 0x7E, "0801010101"),
        (GROUP_AB, 0x7E, "0401020304"),
        (DEVICE_B, 0x7D, "1500E3"),
        (GROUP_AB, 0xFE, ""),
        (5, 0x42, "CACB"),
    ]
    assert device(state, DEVICE_A)["channels"] == [10, 11, 12, 13]
    assert device(state, DEVICE_B)["program"] == 9


def test_setup_moves_a_device(sim):
    with tivlink.Bus(sim.com) as bus:
        assert bus.set_serial(DEVICE_A, 0x222222) == 0x222222
        bus.set_group(0x222222, 40)
        bus.set_rgbx(40, 0x05060708)
    state = sim.state()
    moved = device(state, 0x222222)
    assert moved["group"] == 40
    assert moved["channels"] == [5, 6, 7, 8]
    assert device(state, DEVICE_B)["channels"] == [0, 0, 0, 0]


def test_download_reports_progress_and_fills_the_eeprom(sim):
    with tivlink.Bus(sim.com, baud=115200) as bus:
        bus.set_image(b"\x01\xca\xcb\x04", address=100)
        assert bytes(bus.image[:4]) == b"\x01\xca\xcb\x04"
        download = bus.download(GROUP_AB)
        seen = list(download)
    assert seen[0] == 0 and seen[-1] == 100
    assert seen == sorted(set(seen))
    assert (download.state, download.bytes_sent, download.wait()) == ("completed", 4, "completed")
    eeprom = bytes.fromhex(device(sim.state(), DEVICE_A)["eeprom"])
    assert eeprom[100:104] == b"\x01\xca\xcb\x04"


def test_breaking_out_of_a_download_stops_it_with_the_reset(sim):
    with tivlink.Bus(sim.com) as bus:
        bus.set_image(bytes(range(200)), address=16)
        download = bus.download(GROUP_AB)
        seen = []
        for percent in download:
            seen.append(percent)
            if percent >= 2:
                break
        assert list(download) == []
        assert download.state == "stopped" and download.percent < 100
    frames = good_frames(sim.state())
    writes = [f for f in frames if f["command"] == 0x7F]
    assert 0 < len(writes) < 200
    assert frames[-1]["command"] == 0xFE
    assert 100 not in seen
    # What it reports was sent, went out; whole percent hide at most two more.
    assert download.bytes_sent <= len(writes) <= download.bytes_sent + 3


def test_missing_port_raises(tmp_path):
    os.environ["TIVLINK_COM8"] = str(tmp_path / "no-such-tty")
    try:
        with pytest.raises(tivlink.TivlinkError):
            tivlink.Bus(8)
    finally:
        del os.environ["TIVLINK_COM8"]


def test_bad_image_file_raises_and_image_range_is_checked(tmp_path, sim):
    path = tmp_path / "short.bin"
    path.write_bytes(b"\x00\x00\x00\x10")
    with tivlink.Bus(sim.com) as bus:
        with pytest.raises(tivlink.TivlinkError):
            bus.load_image(path)
        with pytest.raises(ValueError):
            bus.set_image(b"x" * 10, address=2040)
        path.write_bytes(b"\xaa\xbb\x00\x00\x00\x20")
        bus.load_image(path)
        assert (bus.image_address, bus.image_length) == (0x20, 2)


def test_example_script_runs(sim):
    script = os.path.join(ROOT, "examples", "python", "demo.py")
    done = subprocess.run([sys.executable, script, str(sim.com), hex(DEVICE_A)],
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip().endswith("done")
    eeprom = bytes.fromhex(device(sim.state(), DEVICE_A)["eeprom"])
    assert eeprom[64:71] == b"tivlink"
