"""Ports, their items, the driver's name and the system-status line."""
import ctypes
import datetime
import errno
import os
import stat as statmodule
import threading
import time
from typing import NamedTuple, Optional

from ._native import NO_STAMP, STATE_TABLE_SIZE, QenLineState, QenMsg, load

if os.name != "nt":
    import fcntl

# Before each call the record is filled with this byte. A message always
# writes Number (-9..99) and Stamp; a queued entry writes neither, so an item
# whose Number and Stamp still hold the pattern is a queued entry.
_SENTINEL = 0xA5
_NUMBER_BYTES = slice(QenMsg.Number.offset, QenMsg.Number.offset + QenMsg.Number.size)
_STAMP_BYTES = slice(QenMsg.Stamp.offset, QenMsg.Stamp.offset + QenMsg.Stamp.size)

# Pause between two polls of an idle port. Every hand-off of a message runs
# inside a qen_GetMsg, so it stays short.
POLL_INTERVAL = 0.001


class Item(NamedTuple):
    """One delivered item: a message, or a queued entry of the message before it."""
    number: Optional[int]  # telegram number; None for a queued entry
    channel: int
    ident: int  # the 32-bit identifier, 0..0xFFFFFFFF
    code: str  # up to 2 characters
    text: str  # up to 7 characters, a-z delivered as A-Z
    # None when the telegram carried no time (always for an entry); the
    # microseconds are the receive time's milliseconds, not the telegram's.
    stamp: Optional[datetime.datetime]

    @property
    def queued(self):
        return self.number is None


class DriverName(NamedTuple):
    name: str
    info1: int
    info2: int
    info3: int


class SystemState(NamedTuple):
    mask: int  # the status mask after the line
    table: bytes  # the 14-byte status table after the line
    value: int  # what the driver stored into SysValue


class PortError(OSError):
    """A port that did not open; the text names the device tried and, where
    the binding can tell, why (missing, in use, permission)."""


def device_path(number):
    """The device behind port `number`, as the driver opens it."""
    if os.name == "nt":
        return "\\\\.\\COM%d" % number
    directory = os.environ.get("ZENTROK_PORT_DIR")
    return os.path.join(directory, "COM%d" % number) if directory else "/dev/ttyS%d" % (number - 1)


def _why_not_open(number, open_here):
    """Why the driver refused port `number`, found out after the refusal."""
    path = device_path(number)
    if number in open_here:
        return "%s: this process has port %d open already" % (path, number)
    if os.name == "nt":
        return "%s: it does not exist, or is in use by another program" % path
    try:
        info = os.stat(path)
    except FileNotFoundError:
        return "%s: it does not exist" % path
    except OSError as error:
        return "%s: %s" % (path, error.strerror)
    if not statmodule.S_ISCHR(info.st_mode):
        return "%s: it is not a terminal device" % path
    try:
        fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    except PermissionError:
        return "%s: permission denied (the device's group, often dialout, may open it)" % path
    except OSError as error:
        if error.errno == errno.EBUSY:
            return "%s: it is in use by another program" % path
        return "%s: %s" % (path, error.strerror)
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        return "%s: it is in use by another program" % path
    except OSError as error:
        return "%s: %s" % (path, error.strerror)
    finally:
        os.close(fd)
    return "%s: the line could not be set up" % path


def _chars(field):
    length = min(field.Length, len(field.Chars))  # never past the capacity
    return bytes(field.Chars[:length]).decode("latin-1")


def _stamp(t):
    if t.wYear == NO_STAMP:
        return None
    try:
        return datetime.datetime(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds * 1000)
    except ValueError:  # not a date: the driver delivers none such, and the item must not be lost
        return None


def _item(record):
    raw = bytes(record)
    queued = all(byte == _SENTINEL for byte in raw[_NUMBER_BYTES] + raw[_STAMP_BYTES])
    return Item(None if queued else record.Number, record.Channel, record.Ident & 0xFFFFFFFF,
                _chars(record.Code), _chars(record.Text), None if queued else _stamp(record.Stamp))


if os.name == "nt":
    from ctypes import wintypes

    _user32 = ctypes.WinDLL("user32")
    _user32.PeekMessageW.argtypes = [ctypes.POINTER(wintypes.MSG), wintypes.HWND, wintypes.UINT, wintypes.UINT,
                                     wintypes.UINT]
    _user32.PeekMessageW.restype = wintypes.BOOL
    _PM_NOREMOVE = 0

    def _deliver_sent_messages():
        # Runs the messages the driver sent to its window on this thread and
        # leaves posted messages (WM_QUIT and the like) to the host's own loop.
        _user32.PeekMessageW(ctypes.byref(wintypes.MSG()), None, 0, 0, _PM_NOREMOVE)
else:
    def _deliver_sent_messages():
        pass


class Port:
    """An open port: `with Port(3) as port: item = port.wait(1.0)`.

    While any port is open some thread must keep calling wait() (any port,
    any thread, any time-out): each call first runs the hand-offs that are
    waiting. README.md, "Threading: the host's duty", says more."""

    _open_numbers = set()  # the port numbers Port objects of this process hold
    _numbers_lock = threading.Lock()

    def __init__(self, number, section=1, library=None):
        self._driver = load(library)
        self.number = number
        self._record = QenMsg()
        self._handle = self._driver.qen_InitComm(number, section)
        if not self._handle:
            self._handle = None
            with Port._numbers_lock:
                why = _why_not_open(number, Port._open_numbers)
            raise PortError("port %d did not open: %s" % (number, why))
        with Port._numbers_lock:
            Port._open_numbers.add(number)

    @property
    def closed(self):
        return self._handle is None

    def close(self):
        """Closes the port; closing again does nothing. Can take up to 7 s
        while a message is being handed over."""
        handle, self._handle = self._handle, None
        if handle:
            self._driver.qen_CloseComm(handle)
            with Port._numbers_lock:
                Port._open_numbers.discard(self.number)

    def wait(self, timeout=0.0):
        """The next item, or None when none came within `timeout` seconds
        (0: look once). Polls the driver meanwhile, which keeps the host
        thread's duty when called on that thread."""
        if self._handle is None:
            raise ValueError("port %d is closed" % self.number)
        deadline = time.monotonic() + timeout
        while True:
            _deliver_sent_messages()
            ctypes.memset(ctypes.byref(self._record), _SENTINEL, ctypes.sizeof(self._record))
            if self._driver.qen_GetMsg(self._handle, ctypes.byref(self._record)):
                return _item(self._record)
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            time.sleep(min(POLL_INTERVAL, left))

    def line_state(self):
        """The state of the port's line (a QenLineState): whether the device
        is there or the port waits for it to come back, the settings it took
        and the counters since the open. Does not wait; a host of an alarm
        system raises a communication fault when DevicePresent is 0."""
        if self._handle is None:
            raise ValueError("port %d is closed" % self.number)
        state = QenLineState(Size=ctypes.sizeof(QenLineState))
        if not self._driver.qen_GetLineState(self._handle, ctypes.byref(state)):
            raise ValueError("port %d is no open port of the driver" % self.number)
        return state

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def name(library=None):
    """The driver's name and its three numbers."""
    info = [ctypes.c_int32() for _ in range(3)]
    text = load(library).Qen_GetName(*(ctypes.byref(value) for value in info))
    return DriverName(text.decode("latin-1"), *(value.value for value in info))


def apply_system_line(line, mask=0, table=bytes(STATE_TABLE_SIZE), library=None):
    """Applies one system-status line (str or bytes, at most 255 characters)
    to a status mask and 14-byte table; returns them as they are after it."""
    data = line.encode("latin-1") if isinstance(line, str) else bytes(line)
    if len(data) > 255:
        raise ValueError("a system-status line holds at most 255 characters")
    if len(table) != STATE_TABLE_SIZE:
        raise ValueError("the status table has %d bytes" % STATE_TABLE_SIZE)
    sys_line = (ctypes.c_uint8 * (len(data) + 1))(len(data), *data)
    state_mask = ctypes.c_int32(mask)
    state_table = (ctypes.c_uint8 * STATE_TABLE_SIZE)(*table)
    value = ctypes.c_int32(0)
    load(library).qen_GetSysMsg(sys_line, ctypes.byref(state_mask), state_table, ctypes.byref(value))
    return SystemState(state_mask.value, bytes(state_table), value.value)
