#!/usr/bin/env python3
"""Writes the seed corpus of each fuzz target into fuzz/corpus/<target>/.
Seeds are small and cover the shapes the targets must know: accepted and
refused image files, the worked frames and each kind of malformed frame,
encoder inputs with and without stuffing, and requests to tivgate's server."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def crc16_modbus(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def frame(address, command, payload=b""):
    logical = bytes([0xCA]) + address.to_bytes(4, "big")[1:] + len(payload).to_bytes(2, "big")
    logical += bytes([command & 0xFF]) + payload
    logical += crc16_modbus(logical).to_bytes(2, "big")
    wire = bytearray([0xCA])
    for b in logical[1:]:
        wire += {0xCA: b"\xcb\x00", 0xCB: b"\xcb\x01"}.get(b, bytes([b]))
    return bytes(wire)


def image(length, start):
    return bytes((i * 7 + 3) & 0xFF for i in range(length)) + struct.pack(">I", start)


SEEDS = {
    "e2_loader": {
        "empty": b"",
        "size_4": b"\x00\x00\x00\x10",
        "two_bytes_at_16": image(2, 16),
        "one_byte_at_2047": image(1, 2047),
        "start_15": image(2, 15),
        "start_fffffff0": image(20, 0xFFFFFFF0),
        "full_2032_at_16": image(2032, 16),
        "size_2048": image(2044, 16),
        "size_2049": image(2045, 16),
    },
    "frame_decoder": {
        "worked_frames": frame(1, 0xFE) + frame(0x123456, 0xFD, b"\x00") + frame(5, 0x7E, b"\x12\x01")
        + frame(1, 0x7D, b"\x15\x00\xcb") + frame(216, 0xFE),
        "bad_crc": frame(0x10000, 0x7F, b"\x00\x10\xaa")[:-1] + b"\x00",
        "bad_escape": b"\xca\x00\x00\x01\xcb\x02\x00\xfe",
        "truncated_then_frame": frame(7, 0x7E, b"\x04\x11\x22\x33\x44")[:6] + frame(7, 0xFE),
        "noise_around": b"\x11\x13\x00\xff" + frame(9, 0xFE) + b"\xcb\xcb",
        "oversized_length": b"\xca\x00\x00\x01\x03\xe0\x7e" + b"\x5a" * 40,
        "full_buffer": frame(9, 0x7E, b"\x5a" * 990),
    },
    "frame_roundtrip": {
        "reset": struct.pack(">Ii", 1, 0xFE),
        "setup_begin": struct.pack(">Ii", 0x123456, 0xFD) + b"\x00",
        "escapes": struct.pack(">Ii", 0xCACBCA, -1) + b"\xca\xcb\xca\xcb",
        "above_24_bits": struct.pack(">Ii", 0x01000005, 0x142) + b"\x12\x01",
        "payload_990": struct.pack(">Ii", 9, 0x7E) + b"\x5a" * 990,
    },
    "control_command": {
        "identify": b"identify 0x010001 20",
        "identify_group": b"identify group 2",
        "test_colour": b"test #FF000000 5\r",
        "test_chase": b"test  chase\t30",
        "release": b"release",
        "status": b"status",
        "unknown": b"blink 0x010001",
        "seconds_out_of_range": b"identify 5 3601",
        "bytes": b"identify \xff\x00\x1b[2J",
    },
    # A loopback flag, method, path, Host ("-": none), then the gateway's state.
    "http_routes": {
        "metrics": b"\x01GET\n/metrics\n127.0.0.1:9011\n" + bytes(range(7, 200, 3)),
        "status": b"\x01HEAD\n/status.json\n[::1]:9011\n" + bytes(range(200, 0, -2)),
    },
}

for target, seeds in SEEDS.items():
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for name, content in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(content)
