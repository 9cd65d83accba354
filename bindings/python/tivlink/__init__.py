"""tivlink for Python: drive a serial bus of addressable colour devices.

    import tivlink
    with tivlink.Bus(port=3) as bus:
        bus.set_rgbx(0x123456, "#FF800000")
        bus.load_image("image.bin")
        for percent in bus.download(0x123456):
            print(percent)

Failures the library reports (a port that will not open, a frame written
short, a bad image file) raise TivlinkError; the library also shows its
message on standard error (Linux) or in a box (Windows). Arguments out of
range (port 1..9, physical address 0x10000..0xFFFFFF, group 1..255, program
0..7 or 9, a baud rate that does not divide 115200) are preconditions of the
library: it reports them and ENDS THE PROCESS with status 1, so check them
before calling.
"""

import ctypes
import time

from . import _library

__all__ = ["Bus", "Download", "TivlinkError", "DownloadError", "parse_colour", "load_library"]

_library_instance = None


class TivlinkError(Exception):
    """The library answered -1: see its message for the reason."""


class DownloadError(TivlinkError):
    """A download's worker met frames that were not written whole."""


def load_library(path=None):
    """The process-wide library (one connection per process)."""
    global _library_instance
    if _library_instance is None or path:
        _library_instance = _library.load(path)
    return _library_instance


def parse_colour(colour):
    """A colour word from an int, '#RRGGBBWW', or '0x...' / decimal text."""
    if isinstance(colour, int):
        if not 0 <= colour <= 0xFFFFFFFF:
            raise ValueError(f"colour out of range: {colour}")
        return colour
    text = str(colour).strip()
    if text.startswith("#"):
        digits = text[1:]
        if len(digits) not in (6, 8) or any(c not in "0123456789abcdefABCDEF" for c in digits):
            raise ValueError(f"not a #RRGGBB[WW] colour: {colour!r}")
        return int(digits.ljust(8, "0"), 16)
    return parse_colour(int(text, 0))


def _check(result, what):
    if result != 0:
        raise TivlinkError(f"{what} failed")
    return result


class Bus:
    """A connection to the bus on COM<port>; a context manager.

    Closing pauses 500 ms, as the library does before it releases the port.
    """

    def __init__(self, port, baud=9600, library=None):
        self._lib = load_library(library)
        self.port = port
        self.baud = baud
        _check(self._lib.init_tiv3(port, baud), f"opening COM{port} at {baud} Bd")
        self._open = True

    def close(self):
        if self._open:
            self._open = False
            self._lib.exit_tiv3()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # Frames.
    def send(self, address, command, payload=b""):
        """Sends one raw frame."""
        data = bytes(payload)
        buffer = (ctypes.c_uint8 * max(len(data), 1)).from_buffer_copy(data.ljust(1, b"\0"))
        _check(self._lib.tiv_frame_send(address, command, buffer, len(data)), "sending a frame")

    def set_rgbx(self, address, colour):
        _check(self._lib.set_rgbx(address, parse_colour(colour)), "set_rgbx")

    def fade_rgbx(self, address, colour, value):
        _check(self._lib.fade_rgbx(address, parse_colour(colour), value), "fade_rgbx")

    def reset(self, address):
        _check(self._lib.xd_reset(address), "reset")

    def prog(self, address, number):
        """Program 0..7 or 9; any other number ends the process."""
        _check(self._lib.xd_prog(address, number), "prog")

    # Setup.
    def set_serial(self, address, new_address=0):
        """Gives the device at `address` a physical address (0: a random one);
        returns it. Out of 0x10000..0xFFFFFF ends the process."""
        return self._lib.set_serial(address, new_address)

    def set_group(self, address, group):
        """Group 1..255; any other ends the process (after the first frame)."""
        self._lib.set_group(address, group)

    def firmware_reset(self, address):
        self._lib.firmware_reset(address)

    # The EEPROM image.
    def load_image(self, path):
        _check(self._lib.load_e2_file(str(path).encode()), f"loading {path}")

    @property
    def image(self):
        """The image block: a writable view of the library's 2048 bytes."""
        return memoryview(self._lib.e2_data).cast("B")

    @property
    def image_address(self):
        return self._lib.e2_adr.value

    @image_address.setter
    def image_address(self, value):
        self._lib.e2_adr.value = value

    @property
    def image_length(self):
        return self._lib.e2_len.value

    @image_length.setter
    def image_length(self, value):
        self._lib.e2_len.value = value

    def set_image(self, data, address):
        """Fills the image block from bytes, to start at EEPROM `address`."""
        data = bytes(data)
        if not 16 <= address or address + len(data) > 2048:
            raise ValueError("the image must lie in EEPROM addresses 16..2047")
        self.image[: len(data)] = data
        self.image_address = address
        self.image_length = len(data)

    def download(self, address, poll_interval=0.05):
        """Starts writing the image to `address`; iterate the result for progress."""
        return Download(self._lib, address, poll_interval)


class Download:
    """A running download. Iterating yields the progress in percent; breaking
    out, Ctrl-C or stop() stops it cleanly (the device still gets its reset).
    wait() returns once the worker has ended and raises DownloadError when
    any frame failed."""

    def __init__(self, lib, address, poll_interval):
        self._lib = lib
        self._poll = poll_interval
        self._exit_code = None
        lib.e2_cmd.value = 1
        self._handle = lib.download(address)

    @property
    def running(self):
        return self._exit_code is None and self._lib.e2_cmd.value == 1

    @property
    def percent(self):
        return self._lib.e2_percent.value

    def __iter__(self):
        try:
            last = None
            while self.running:
                percent = self.percent
                if percent != last:
                    last = percent
                    yield percent
                time.sleep(self._poll)
        finally:
            if self._exit_code is None and self._lib.e2_cmd.value == 1:
                self.stop()
            self.wait()
        yield 100

    def stop(self):
        """Asks the worker to stop before its next byte and waits for it."""
        self._lib.e2_cmd.value = 0
        return self.wait(check=False)

    def wait(self, check=True):
        if self._exit_code is None:
            self._exit_code = self._lib.join_thread(self._handle)
        if check and self._exit_code != 0:
            raise DownloadError("some frames of the download were not written whole")
        return self._exit_code

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self._exit_code is None:
            self.stop()
