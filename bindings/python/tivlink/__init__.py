"""tivlink for Python: drive a serial bus of addressable colour devices.

    import tivlink
    with tivlink.Bus(port=3, baud=115200) as bus:
        bus.set_rgbx(0x123456, "#FF800000")
        bus.load_image("image.bin")
        download = bus.download(0x123456)
        for percent in download:
            print(percent)
        print(download.state, download.bytes_sent)

The rules:

- One Bus per process: the library keeps a single connection, so opening a
  second Bus while one is open raises TivlinkError. Close it (or leave its
  `with` block) first.
- Every argument is checked before anything is sent: a value out of range
  raises ValueError, a value of the wrong type (a bool included) TypeError.
  Ports are 1..9; a baud rate divides 115200 (0 or less: 9600); addresses
  0..0xFFFFFF; physical addresses 0x10000..0xFFFFFF; groups 1..255;
  programs 0..7 or 9; commands and fade values 0..255; a raw payload must
  fit the library's 1000-byte frame buffer once escaped.
- Failures the library reports (a port that will not open, a frame not
  written whole, a bad image file) raise TivlinkError; the library also
  shows its message on standard error (Linux) or in a box (Windows). On
  Linux set_serial, set_group and firmware_reset raise it too when any of
  their frames failed.
- While a download runs nothing else is sent: other operations raise
  TivlinkError until it has ended. Breaking out of the progress loop,
  Ctrl-C, stop(), close(), leaving the `with` block and interpreter exit
  all stop it the same way: the device still gets its closing reset.
- `load_image` takes str, bytes or os.PathLike paths.

`import tivlink` loads the library: $TIVLINK_LIBRARY, else the one of the
same install, else libtivlink.so.1 where the system keeps its libraries
(apt install libtivlink1). Without one it raises ImportError.

From a build tree, without installing:

    export PYTHONPATH=$PWD/bindings/python TIVLINK_LIBRARY=$PWD/build/linux/libtivlink.so.1
"""

import atexit
import ctypes
import os
import threading
import time
from typing import Any, Iterator, Optional, Union

from . import _checks, _library
from ._version import __version__

__all__ = ["Bus", "Download", "TivlinkError", "DownloadError", "parse_colour", "load_library",
           "__version__"]

Colour = Union[int, str]
PathArg = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

# Loaded here, so that a missing library shows at the import, with what to
# install.
_library_instance: Any = _library.load_at_import()
# Guards _open_bus: the library has one connection per process.
_open_lock = threading.Lock()
_open_bus: Optional["Bus"] = None


class TivlinkError(Exception):
    """The library reported a failure, or the call would break its rules."""


class DownloadError(TivlinkError):
    """A download's worker met frames that were not written whole."""


def load_library(path: Optional[str] = None) -> Any:
    """The process-wide library; `path` loads another (no Bus may be open)."""
    global _library_instance
    if path and _open_bus is not None:
        raise TivlinkError("cannot load another library while a Bus is open")
    if _library_instance is None or path:
        _library_instance = _library.load(path)
    return _library_instance


def parse_colour(colour: Colour) -> int:
    """A colour word from an int, '#RRGGBB[WW]', or '0x...' / decimal text."""
    if isinstance(colour, bool):
        raise TypeError("colour must be an int or text, not bool")
    if isinstance(colour, int):
        return _checks.in_range(colour, "colour", 0, 0xFFFFFFFF, hexadecimal=True)
    text = str(colour).strip()
    if text.startswith("#"):
        digits = text[1:]
        if len(digits) not in (6, 8) or any(c not in "0123456789abcdefABCDEF" for c in digits):
            raise ValueError(f"not a #RRGGBB[WW] colour: {colour!r}")
        return int(digits.ljust(8, "0"), 16)
    return parse_colour(int(text, 0))


def _check(result: int, what: str) -> None:
    if result != 0:
        raise TivlinkError(f"{what} failed")


@atexit.register
def _close_at_exit() -> None:
    # A download left running would otherwise be cut off without its reset.
    bus = _open_bus
    if bus is not None:
        bus.close()


class Bus:
    """The connection to the bus on COM<port>; a context manager.

    Closing stops a running download first, then pauses 500 ms, as the
    library does before it releases the port.
    """

    def __init__(self, port: int, baud: int = 9600, library: Optional[str] = None) -> None:
        global _open_bus
        self._open = False
        self._download: Optional[Download] = None
        self.port = _checks.port(port)
        self.baud = _checks.baud(baud)
        with _open_lock:
            if _open_bus is not None:
                raise TivlinkError(f"COM{_open_bus.port} is already open in this process; "
                                   "close that Bus first")
            self._lib = load_library(library)
            _check(self._lib.init_tiv3(self.port, self.baud),
                   f"opening COM{self.port} at {self.baud if self.baud > 0 else 9600} Bd")
            self._open = True
            _open_bus = self

    @property
    def closed(self) -> bool:
        return not self._open

    def close(self) -> None:
        global _open_bus
        if not self._open:
            return
        try:
            if self._download is not None:
                self._download._end(stop=True)
        finally:
            self._open = False
            self._lib.exit_tiv3()
            with _open_lock:
                if _open_bus is self:
                    _open_bus = None

    def __enter__(self) -> "Bus":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def _idle(self) -> Any:
        """The library, once nothing else is sending through it."""
        if not self._open:
            raise TivlinkError("the Bus is closed")
        if self._download is not None:
            if self._download.running:
                raise TivlinkError("a download is running: stop it or wait for it first")
            self._download._end(stop=False)
            self._download = None
        return self._lib

    # Frames.
    def send(self, address: int, command: int, payload: Any = b"") -> None:
        """Sends one raw frame."""
        address = _checks.address(address)
        command = _checks.command(command)
        data = _checks.payload(payload)
        if not _checks.frame_fits(address, command, data):
            raise ValueError(f"a {len(data)}-byte payload does not fit the frame buffer once escaped")
        lib = self._idle()
        buffer = (ctypes.c_uint8 * max(len(data), 1)).from_buffer_copy(data.ljust(1, b"\0"))
        _check(lib.tiv_frame_send(address, command, buffer, len(data)), "sending a frame")

    def set_rgbx(self, address: int, colour: Colour) -> None:
        address, word = _checks.address(address), parse_colour(colour)
        _check(self._idle().set_rgbx(address, word), "set_rgbx")

    def fade_rgbx(self, address: int, colour: Colour, value: int) -> None:
        address, word = _checks.address(address), parse_colour(colour)
        value = _checks.fade_value(value)
        _check(self._idle().fade_rgbx(address, word, value), "fade_rgbx")

    def reset(self, address: int) -> None:
        address = _checks.address(address)
        _check(self._idle().xd_reset(address), "reset")

    def prog(self, address: int, number: int) -> None:
        """Program 0..7 or 9."""
        address, number = _checks.address(address), _checks.program(number)
        _check(self._idle().xd_prog(address, number), "prog")

    # Setup.
    def _setup(self, what: str, operation: str, *args: int) -> int:
        lib = self._idle()
        before = lib.failed_frames() if lib.failed_frames else 0
        result = getattr(lib, operation)(*args)
        if lib.failed_frames and lib.failed_frames() != before:
            raise TivlinkError(f"{what}: some frames were not written whole")
        return int(result)

    def set_serial(self, address: int, new_address: int = 0) -> int:
        """Gives the device at `address` the physical address `new_address`
        (0x10000..0xFFFFFF; 0: a random one) and returns it."""
        address, new_address = _checks.address(address), _checks.physical_address(new_address)
        return self._setup("set_serial", "set_serial", address, new_address)

    def set_group(self, address: int, group: int) -> None:
        """Puts the device(s) at `address` into group 1..255."""
        address, group = _checks.address(address), _checks.group(group)
        self._setup("set_group", "set_group", address, group)

    def firmware_reset(self, address: int) -> None:
        address = _checks.address(address)
        self._setup("firmware_reset", "firmware_reset", address)

    # The EEPROM image.
    def load_image(self, path: PathArg) -> None:
        """Loads an image file: the image bytes, then their 4-byte big-endian
        start address."""
        if path is None:
            raise TypeError("path must be str, bytes or os.PathLike, not None")
        encoded = os.fsencode(path)
        if b"\0" in encoded:
            raise ValueError("path has an embedded null byte")
        _check(self._idle().load_e2_file(encoded), f"loading {os.fsdecode(encoded)!r}")

    @property
    def image(self) -> memoryview:
        """The image block: a writable view of the library's 2048 bytes.
        Leave it alone while a download runs."""
        return memoryview(self._lib.e2_data).cast("B")

    @property
    def image_address(self) -> int:
        return int(self._lib.e2_adr.value)

    @image_address.setter
    def image_address(self, value: int) -> None:
        value = _checks.in_range(value, "image_address", 16, 2047)
        self._idle().e2_adr.value = value

    @property
    def image_length(self) -> int:
        return int(self._lib.e2_len.value)

    @image_length.setter
    def image_length(self, value: int) -> None:
        value = _checks.in_range(value, "image_length", 0, 2048)
        self._idle().e2_len.value = value

    def set_image(self, data: Any, address: int) -> None:
        """Fills the image block from bytes, to start at EEPROM `address`."""
        data = _checks.payload(data)
        _checks.image_block(_checks.integer(address, "address"), len(data))
        lib = self._idle()
        self.image[: len(data)] = data
        lib.e2_adr.value = address
        lib.e2_len.value = len(data)

    def download(self, address: int, poll_interval: float = 0.05) -> "Download":
        """Starts writing the image to `address` on the library's worker;
        iterate the result for progress, or wait() for the end."""
        address = _checks.address(address)
        lib = self._idle()
        _checks.image_block(lib.e2_adr.value, lib.e2_len.value)
        self._download = Download(lib, address, poll_interval)
        return self._download


class Download:
    """A download on the library's worker thread.

    Iterating yields the progress in percent as it changes, and 100 only
    when every image byte went out; breaking out, Ctrl-C or stop() stops it
    cleanly (the device still gets its reset). `state` says "running",
    "completed", "stopped" or "failed" (a frame was not written whole);
    wait() raises DownloadError for the last.
    """

    def __init__(self, lib: Any, address: int, poll_interval: float) -> None:
        self._lib = lib
        self._poll = poll_interval
        self.address = address
        self.length: int = lib.e2_len.value
        self._stopped = False
        self._exit_code: Optional[int] = None
        self._seen = -1  # highest progress the worker published, as seen
        lib.e2_cmd.value = 1
        self._handle = lib.download(address)

    @property
    def running(self) -> bool:
        return self._exit_code is None and self._lib.e2_cmd.value == 1

    @property
    def percent(self) -> int:
        """Progress 0..99 while it runs; 100 once completed; where it got to
        when stopped or failed."""
        if self.running:
            self._seen = max(self._seen, self._lib.e2_percent.value)
        if self.state == "completed":
            return 100
        return max(self._seen, 0)

    @property
    def state(self) -> str:
        if self._exit_code is None:
            if self.running:
                return "running"
            self._end(stop=False)
        if self._exit_code != 0:
            return "failed"
        # A stop that came while the last byte was going out stopped nothing.
        if self._stopped and self._proven_bytes() < self.length:
            return "stopped"
        return "completed"

    @property
    def bytes_sent(self) -> int:
        """Image bytes sent: all of them once completed. For a stopped or
        failed download, the count its progress proves was sent: the worker
        publishes whole percent only, so the real count may be higher by
        about 1 % of the image."""
        return self.length if self.state == "completed" else self._proven_bytes()

    def _proven_bytes(self) -> int:
        if self._seen <= 0 or self.length == 0:
            return 0  # 0 is also the idle value: it proves nothing
        # The first byte the seen progress is published for, and that byte,
        # which the worker sends whatever the run flag says by then.
        return min(-(-self._seen * self.length // 100) + 1, self.length)

    def __iter__(self) -> Iterator[int]:
        try:
            last = None
            while self.running:
                # The worker resets its progress to 0 as it ends: keep the highest.
                self._seen = max(self._seen, self._lib.e2_percent.value)
                if self._seen != last:
                    last = self._seen
                    yield last
                time.sleep(self._poll)
        finally:
            self._end(stop=True)
        if self.state == "completed":
            yield 100

    def stop(self) -> str:
        """Asks the worker to stop before its next byte, waits for it to
        send its reset and end, and returns the state."""
        self._end(stop=True)
        return self.state

    def wait(self) -> str:
        """Waits for the end; raises DownloadError when a frame failed.
        Ctrl-C while waiting stops the download."""
        try:
            while self.running:
                self._seen = max(self._seen, self._lib.e2_percent.value)
                time.sleep(self._poll)
        finally:
            self._end(stop=True)
        if self.state == "failed":
            raise DownloadError("some frames of the download were not written whole")
        return self.state

    def _end(self, stop: bool) -> None:
        """Joins the worker once, after clearing its run flag when `stop`."""
        if self._exit_code is not None:
            return
        if self._lib.e2_cmd.value == 1:
            if not stop:
                return
            self._seen = max(self._seen, self._lib.e2_percent.value)
            self._lib.e2_cmd.value = 0
            self._stopped = True
        self._exit_code = self._lib.join_thread(self._handle)

    def __enter__(self) -> "Download":
        return self

    def __exit__(self, *exc: object) -> None:
        self._end(stop=True)
