"""The driver's records and its calls (the five, and qen_GetLineState), declared for ctypes."""
import ctypes
import ctypes.util
import os
import threading
from ctypes import POINTER, Structure, c_char_p, c_int32, c_uint8, c_uint16, c_uint32, c_void_p

LIBRARY_NAME = "zentrok.dll" if os.name == "nt" else "libzentrok.so"
NO_STAMP = 0xFFFF
NONE_YET = 0xFFFFFFFF  # QenLineState.SinceTelegramMs before the port's first telegram
STATE_TABLE_SIZE = 14


class QenSystemTime(Structure):
    _fields_ = [(name, c_uint16) for name in (
        "wYear", "wMonth", "wDayOfWeek", "wDay", "wHour", "wMinute", "wSecond", "wMilliseconds")]


class QenCode(Structure):
    _fields_ = [("Length", c_uint8), ("Chars", c_uint8 * 2)]


class QenText(Structure):
    _fields_ = [("Length", c_uint8), ("Chars", c_uint8 * 7)]


class QenMsg(Structure):
    """44 bytes; every member is naturally aligned, so ctypes adds no padding
    beyond the two reserved fields declared here."""
    _fields_ = [
        ("Number", c_int32),
        ("Channel", c_uint16),
        ("Reserved6", c_uint8 * 2),
        ("Ident", c_int32),
        ("Code", QenCode),
        ("Text", QenText),
        ("Reserved23", c_uint8),
        ("Stamp", QenSystemTime),
        ("Note", c_uint32),
    ]


class QenLineState(Structure):
    """The state of an open port's line, 56 bytes, every member naturally
    aligned. Size must hold the record's size before the call (Port.line_state
    sets it); later versions only add fields at the end. Counters run from
    the port's open."""
    _fields_ = [
        ("Size", c_uint32),  # in: the record's size; out: bytes filled
        ("DevicePresent", c_uint32),  # 1 the device is there; 0 the port waits for it to come back
        ("AwayMs", c_uint32),  # milliseconds since the device went; 0 while it is there
        ("SinceTelegramMs", c_uint32),  # milliseconds since the last telegram; NONE_YET before the first
        ("BaudRate", c_uint32),  # the line as the device took it (read back)
        ("ByteSize", c_uint8),  # data bits
        ("Parity", c_uint8),  # 0 none, 1 odd, 2 even, 3 mark, 4 space
        ("StopBits", c_uint8),  # 0 one, 1 one and a half, 2 two
        ("SettingsKnown", c_uint8),  # 1 when the device reported its settings; else BaudRate..Flags are 0
        ("Flags", c_uint32),  # flow control and modem lines, the Windows DCB flag word
        ("Telegrams", c_uint32),  # telegrams received
        ("AcksSent", c_uint32),  # ACK bytes written to the line
        ("Withdrawn", c_uint32),  # messages withdrawn because the host did not take them in time
        ("DiscardedTelegrams", c_uint32),  # telegrams discarded for line errors, not acknowledged
        ("LineErrors", c_uint32),  # line error reports (overrun, framing, break, overflow)
        ("Reopens", c_uint32),  # times the device came back and the port was opened again
        ("LogLinesNotWritten", c_uint32),  # telegrams the log could not take
    ]


class LibraryError(OSError):
    """The driver library could not be loaded."""


_lock = threading.Lock()
_loaded = None  # (path, library)


def load(path=None):
    """Loads the driver once per process and returns it (a ctypes library
    with its calls declared). The library is `path`, else the file named
    by $ZENTROK_LIBRARY, else zentrok.dll / libzentrok.so found by the system
    loader (on Windows: on PATH, else beside python.exe or in the system
    folder). Asking for another file once one is loaded raises RuntimeError."""
    global _loaded
    with _lock:
        if _loaded:
            if path and path != _loaded[0]:
                raise RuntimeError("the driver is already loaded from %s" % _loaded[0])
            return _loaded[1]
        wanted, source = _wanted(path)
        try:
            # The 32-bit Windows DLL uses __stdcall, which WinDLL calls.
            library = ctypes.WinDLL(wanted) if os.name == "nt" else ctypes.CDLL(wanted)
        except OSError as error:
            raise LibraryError(_not_loaded(wanted, source, error)) from None
        _declare(library)
        _loaded = (wanted, library)
        return library


def _wanted(path):
    """The library to load, and where that name came from."""
    if path:
        return path, "the path given to zentrok.load()"
    if os.environ.get("ZENTROK_LIBRARY"):
        return os.environ["ZENTROK_LIBRARY"], "$ZENTROK_LIBRARY"
    if os.name == "nt":
        return _by_name(), "its name, on PATH, beside python.exe and in the system folder"
    return _by_name(), "its name, by the system loader (LD_LIBRARY_PATH, ld.so.conf, /usr/lib)"


def _not_loaded(wanted, source, error):
    text = "the ZENTROK driver library could not be loaded: tried %s, from %s (%s). " % (wanted, source, error)
    if source == "$ZENTROK_LIBRARY" or "load()" in source:
        return text + "Give the path of an existing %s." % LIBRARY_NAME
    text += "Set ZENTROK_LIBRARY to the library's path (a build gives build/linux/src/libzentrok.so), " \
        "or install the driver."
    if os.name == "nt":
        text += " A 64-bit Python cannot load the 32-bit DLL."
    return text


def _by_name():
    # Python on Windows loads a bare DLL name only from its own and the system
    # folders, so the DLL is first looked for on PATH, as a program would.
    return (os.name == "nt" and ctypes.util.find_library(LIBRARY_NAME)) or LIBRARY_NAME


def _declare(library):
    # Qen_GetName's text is static: c_char_p copies it and never frees it.
    library.Qen_GetName.argtypes = [POINTER(c_int32)] * 3
    library.Qen_GetName.restype = c_char_p
    library.qen_InitComm.argtypes = [c_int32, c_int32]
    library.qen_InitComm.restype = c_void_p
    library.qen_CloseComm.argtypes = [c_void_p]
    library.qen_CloseComm.restype = c_int32
    library.qen_GetMsg.argtypes = [c_void_p, POINTER(QenMsg)]
    library.qen_GetMsg.restype = c_int32
    library.qen_GetSysMsg.argtypes = [POINTER(c_uint8), POINTER(c_int32), POINTER(c_uint8), POINTER(c_int32)]
    library.qen_GetSysMsg.restype = c_int32
    library.qen_GetLineState.argtypes = [c_void_p, POINTER(QenLineState)]
    library.qen_GetLineState.restype = c_int32
