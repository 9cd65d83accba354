"""Argument checks made before anything reaches the library, which would end
the process on a value out of range or quietly cut one to 32 or 24 bits."""

import operator
from typing import Any

_FRAME_BUFFER = 1000
_FRAME_START, _FRAME_ESCAPE = 0xCA, 0xCB
_HEADER_BYTES = 7  # start, three address bytes, two length bytes, command
_CRC_BYTES = 2


def integer(value: Any, name: str) -> int:
    """An int for `name`; bool is refused, since True would pass as 1."""
    if isinstance(value, bool):
        raise TypeError(f"{name} must be an int, not bool")
    try:
        return operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an int, not {type(value).__name__}") from None


def in_range(value: Any, name: str, low: int, high: int, hexadecimal: bool = False) -> int:
    number = integer(value, name)
    if not low <= number <= high:
        form = "#x" if hexadecimal else "d"
        raise ValueError(f"{name} must lie in {low:{form}}..{high:{form}}, not {number:{form}}")
    return number


def port(value: Any) -> int:
    return in_range(value, "port", 1, 9)


def baud(value: Any) -> int:
    rate = in_range(value, "baud", -(2**31), 2**31 - 1)
    if rate > 0 and 115200 % rate:
        raise ValueError(f"baud must divide 115200 (or be 0 for 9600), not {rate}")
    return rate


def address(value: Any) -> int:
    return in_range(value, "address", 0, 0xFFFFFF, hexadecimal=True)


def physical_address(value: Any) -> int:
    """0 asks the library to draw one."""
    number = integer(value, "new_address")
    return number and in_range(number, "new_address", 0x10000, 0xFFFFFF, hexadecimal=True)


def group(value: Any) -> int:
    return in_range(value, "group", 1, 255)


def program(value: Any) -> int:
    number = integer(value, "program")
    if not (0 <= number <= 7 or number == 9):
        raise ValueError(f"program must be 0..7 or 9, not {number}")
    return number


def command(value: Any) -> int:
    return in_range(value, "command", 0, 255)


def fade_value(value: Any) -> int:
    return in_range(value, "value", 0, 255)


def payload(value: Any) -> bytes:
    # bytes(n) would quietly make n zero bytes.
    if isinstance(value, (int, str)):
        raise TypeError(f"payload must be bytes-like, not {type(value).__name__}")
    return bytes(value)


def crc16(data: bytes) -> int:
    """CRC-16/MODBUS, as the frame carries it."""
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def frame_fits(address_value: int, command_value: int, data: bytes) -> bool:
    """Whether the encoder can store this frame: it stops the process when a
    byte is to be appended while 999 or more are stored, and every byte after
    the start byte that is a start or escape byte takes two."""
    if len(data) > _FRAME_BUFFER - 1 - _HEADER_BYTES - _CRC_BYTES:
        return False
    logical = bytes([_FRAME_START, *address_value.to_bytes(3, "big"),
                     *len(data).to_bytes(2, "big"), command_value]) + data
    logical += crc16(logical).to_bytes(2, "big")
    stored = 0
    for byte in logical:
        if stored >= _FRAME_BUFFER - 1:
            return False
        stored += 2 if stored and byte in (_FRAME_START, _FRAME_ESCAPE) else 1
    return True


def image_block(start: int, length: int) -> None:
    """The loader's limits: at least one byte, from address 16, within 2048."""
    if length < 1 or start < 16 or start + length > 2048:
        raise ValueError(f"the image must be 1 or more bytes within EEPROM addresses 16..2047, "
                         f"not {length} bytes from {start}")
