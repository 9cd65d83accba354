"""Finding and declaring the tivlink shared library (ctypes, no build step)."""

import ctypes
import os
import sys
from typing import Any, Callable, Iterator, Optional

_IS_WINDOWS = sys.platform == "win32"
_SONAME = "tivlink.dll" if _IS_WINDOWS else "libtivlink.so.1"


def _candidates() -> Iterator[str]:
    override = os.environ.get("TIVLINK_LIBRARY")
    if override:
        yield override
        return
    here = os.path.dirname(os.path.abspath(__file__))
    if _IS_WINDOWS:
        yield os.path.join(here, _SONAME)
    elif os.path.basename(os.path.dirname(here)) in ("dist-packages", "site-packages"):
        # Installed under <prefix>/lib/python3/dist-packages: the library of
        # the same install, in <prefix>/lib, before any other on the system.
        yield os.path.normpath(os.path.join(here, "..", "..", "..", _SONAME))
    yield _SONAME  # the loader's own search, by soname


def load(path: Optional[str] = None) -> Any:
    """Loads the library from `path`, $TIVLINK_LIBRARY, the install this
    package belongs to, or by its soname, and declares every export's types."""
    errors = []
    for candidate in [path] if path else _candidates():
        if os.path.sep in candidate and not os.path.exists(candidate):
            errors.append(f"{candidate}: not found")
            continue
        try:
            api = _declare(ctypes.CDLL(candidate))
        except OSError as exc:
            errors.append(f"{candidate}: {exc}")
            continue
        api.path = candidate
        return api
    raise OSError("tivlink library not found; tried " + "; ".join(errors))


def load_at_import() -> Any:
    """The library `import tivlink` loads; an ImportError that says what to
    install when there is none."""
    try:
        return load()
    except OSError as exc:
        if _IS_WINDOWS:
            hint = f"put {_SONAME} beside this package"
        else:
            hint = "install it (apt install libtivlink1)"
        raise ImportError(f"{exc}. To use tivlink, {hint}, or set TIVLINK_LIBRARY to the "
                          f"path of {_SONAME}", name="tivlink") from None


def _function(lib: Any, name: str, restype: Any, *argtypes: Any) -> Any:
    fn = getattr(lib, name)
    fn.restype = restype
    fn.argtypes = list(argtypes)
    return fn


def _declare(lib: ctypes.CDLL) -> Any:
    i32, u32, ptr = ctypes.c_int32, ctypes.c_uint32, ctypes.c_void_p
    api = type("TivlinkLibrary", (), {})()
    api.handle = lib
    api.init_tiv3 = _function(lib, "_init_tiv3", i32, i32, i32)
    api.exit_tiv3 = _function(lib, "_exit_tiv3", None)
    api.tiv_frame_send = _function(lib, "_tiv_frame_send", i32, u32, i32,
                                   ctypes.POINTER(ctypes.c_uint8), u32)
    api.set_serial = _function(lib, "_set_serial", i32, u32, i32)
    api.set_group = _function(lib, "_set_group", i32, u32, i32)
    api.firmware_reset = _function(lib, "_firmware_reset", i32, u32)
    api.load_e2_file = _function(lib, "_load_e2_file", i32, ctypes.c_char_p)
    api.download = _function(lib, "_download", ptr, u32)
    api.set_rgbx = _function(lib, "_set_rgbx", i32, u32, u32)
    api.fade_rgbx = _function(lib, "_fade_rgbx", i32, u32, u32, i32)
    api.xd_reset = _function(lib, "_xd_reset", i32, u32)
    api.xd_prog = _function(lib, "_xd_prog", i32, u32, i32)
    api.e2_data = (ctypes.c_uint8 * 2048).in_dll(lib, "_e2_data")
    api.e2_adr = ctypes.c_uint32.in_dll(lib, "_e2_adr")
    api.e2_len = ctypes.c_uint32.in_dll(lib, "_e2_len")
    api.e2_percent = ctypes.c_int32.in_dll(lib, "_e2_percent")
    api.e2_cmd = ctypes.c_int32.in_dll(lib, "_e2_cmd")
    api.join_thread = _thread_joiner(lib)
    # Linux only: without it, failed frames of the setup operations go unseen.
    api.failed_frames = (None if _IS_WINDOWS
                         else _function(lib, "_tiv_failed_frames", ctypes.c_uint32))
    return api


def _thread_joiner(lib: ctypes.CDLL) -> Callable[[Any], int]:
    """Waits for a download thread, releases its handle, returns its exit code."""
    if not _IS_WINDOWS:
        joiner: Callable[[Any], int] = _function(lib, "_tiv_thread_join", ctypes.c_int32,
                                                 ctypes.c_void_p)
        return joiner
    kernel32 = getattr(ctypes, "WinDLL")("kernel32")  # absent from ctypes elsewhere
    wait = _function(kernel32, "WaitForSingleObject", ctypes.c_uint32, ctypes.c_void_p,
                     ctypes.c_uint32)
    exit_code = _function(kernel32, "GetExitCodeThread", ctypes.c_int32, ctypes.c_void_p,
                          ctypes.POINTER(ctypes.c_uint32))
    close = _function(kernel32, "CloseHandle", ctypes.c_int32, ctypes.c_void_p)

    def join(handle: Any) -> int:
        wait(handle, 0xFFFFFFFF)
        code = ctypes.c_uint32(0)
        exit_code(handle, ctypes.byref(code))
        close(handle)
        return int(code.value)

    return join
