"""Arguments the library would end the process for, or cut short, raise
before anything is sent."""

import pytest

from conftest import DEVICE_A, good_frames

import tivlink
from tivlink import _checks


@pytest.mark.parametrize("port, baud, error", [
    (10, 9600, ValueError), (0, 9600, ValueError), (True, 9600, TypeError),
    ("3", 9600, TypeError), (3, 1000, ValueError), (3, 2**31, ValueError),
    (3, -(2**40), ValueError),
])
def test_bad_connection_arguments_raise(port, baud, error):
    with pytest.raises(error):
        tivlink.Bus(port, baud)


def _download_nothing(bus):
    bus.image_length = 0
    bus.download(DEVICE_A)


BAD_CALLS = [
    ("prog 8", lambda b: b.prog(DEVICE_A, 8), ValueError),
    ("prog float", lambda b: b.prog(DEVICE_A, 1.0), TypeError),
    ("negative address", lambda b: b.set_rgbx(-1, 0), ValueError),
    ("address above 24 bits", lambda b: b.set_rgbx(2**40 + DEVICE_A, 0), ValueError),
    ("bool address", lambda b: b.reset(True), TypeError),
    ("serial below physical", lambda b: b.set_serial(DEVICE_A, 0xFFFF), ValueError),
    ("serial above 24 bits", lambda b: b.set_serial(DEVICE_A, 0x1000000), ValueError),
    ("group 0", lambda b: b.set_group(DEVICE_A, 0), ValueError),
    ("group 256", lambda b: b.set_group(DEVICE_A, 256), ValueError),
    ("command 256", lambda b: b.send(DEVICE_A, 256), ValueError),
    ("int payload", lambda b: b.send(DEVICE_A, 1, 5), TypeError),
    ("payload too long", lambda b: b.send(DEVICE_A, 1, bytes(2000)), ValueError),
    ("fade value 256", lambda b: b.fade_rgbx(DEVICE_A, 0, 256), ValueError),
    ("fade value negative", lambda b: b.fade_rgbx(DEVICE_A, 0, -1), ValueError),
    ("image outside the EEPROM", lambda b: b.set_image(b"x" * 10, address=2040), ValueError),
    ("download of no image", _download_nothing, ValueError),
    ("no path", lambda b: b.load_image(None), TypeError),
]


def test_bad_arguments_raise_before_any_frame(sim):
    with tivlink.Bus(sim.com, baud=115200) as bus:
        for name, call, error in BAD_CALLS:
            with pytest.raises(error):
                call(bus)
                pytest.fail(name)
    assert good_frames(sim.state()) == []


def _payload(length, escapes, crc_high_escaped=False):
    """`length` bytes with `escapes` of them 0xCB; the last byte is chosen so
    that the CRC's high byte needs an escape, or that neither CRC byte does."""
    head = bytes([0xCB] * escapes + [0x11] * (length - escapes - 1))
    for last in range(0x100):
        if last in (0xCA, 0xCB):
            continue
        data = head + bytes([last])
        logical = bytes([0xCA, 0, 0, 5, *len(data).to_bytes(2, "big"), 0x42]) + data
        high, low = _checks.crc16(logical).to_bytes(2, "big")
        if (high in (0xCA, 0xCB)) == crc_high_escaped and low not in (0xCA, 0xCB):
            return data
    raise AssertionError("no such payload")


@pytest.mark.parametrize("payload, fits", [
    (_payload(990, 0), True),
    (_payload(991, 0), False),
    (_payload(980, 10), True),
    (_payload(981, 10), False),
    (_payload(989, 0, crc_high_escaped=True), True),
    (_payload(990, 0, crc_high_escaped=True), False),
])
def test_payload_must_fit_the_frame_buffer_once_escaped(sim, payload, fits):
    assert _checks.crc16(b"123456789") == 0x4B37
    with tivlink.Bus(sim.com, baud=115200) as bus:
        if fits:
            bus.send(5, 0x42, payload)
        else:
            with pytest.raises(ValueError):
                bus.send(5, 0x42, payload)
    frames = good_frames(sim.state())
    assert [bytes.fromhex(f["payload"]) for f in frames] == ([payload] if fits else [])
