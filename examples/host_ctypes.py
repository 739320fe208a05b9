#!/usr/bin/env python3
"""A host in Python: loads the driver with ctypes, opens a port and prints
every item it receives.

    host_ctypes.py [--library PATH] --port N [--section N] [--count N] [--timeout S]

The library is libzentrok.so (zentrok.dll on Windows), taken from --library
or from the environment variable ZENTROK_LIBRARY. zentrok.dll is a 32-bit
DLL: on Windows this needs a 32-bit Python.
"""
import argparse
import ctypes
import os
import sys
import time
from ctypes import POINTER, Structure, c_char_p, c_int32, c_uint8, c_uint16, c_uint32, c_void_p


class QenSystemTime(Structure):
    _fields_ = [(name, c_uint16) for name in (
        "wYear", "wMonth", "wDayOfWeek", "wDay", "wHour", "wMinute", "wSecond", "wMilliseconds")]


class QenCode(Structure):
    _fields_ = [("Length", c_uint8), ("Chars", c_uint8 * 2)]


class QenText(Structure):
    _fields_ = [("Length", c_uint8), ("Chars", c_uint8 * 7)]


class QenMsg(Structure):
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


NO_STAMP = 0xFFFF
# A queued entry writes only Channel, Ident, Code and Text. Number is set to
# a value no message has (messages carry -9..99) before each call, so an item
# that leaves it there is a queued entry of the message before it.
NOT_A_NUMBER = -2**31
if ctypes.sizeof(QenMsg) != 44 or QenMsg.Stamp.offset != 24:
    sys.exit("QenMsg does not have the driver's layout")


def load_driver(path):
    if os.name == "nt" and ctypes.sizeof(c_void_p) != 4:
        sys.exit("zentrok.dll is a 32-bit DLL; a %d-bit Python cannot load it" % (8 * ctypes.sizeof(c_void_p)))
    # The Windows DLL uses the __stdcall convention.
    driver = ctypes.WinDLL(path) if os.name == "nt" else ctypes.CDLL(path)
    driver.Qen_GetName.argtypes = [POINTER(c_int32)] * 3
    driver.Qen_GetName.restype = c_char_p
    driver.qen_InitComm.argtypes = [c_int32, c_int32]
    driver.qen_InitComm.restype = c_void_p
    driver.qen_CloseComm.argtypes = [c_void_p]
    driver.qen_CloseComm.restype = c_int32
    driver.qen_GetMsg.argtypes = [c_void_p, POINTER(QenMsg)]
    driver.qen_GetMsg.restype = c_int32
    return driver


def short_string(field):
    return bytes(field.Chars[:field.Length]).decode("latin-1")


def describe(msg):
    fields = "channel %d, ident %08X, code %r, text %r" % (
        msg.Channel, msg.Ident & 0xFFFFFFFF, short_string(msg.Code), short_string(msg.Text))
    if msg.Number == NOT_A_NUMBER:
        return "queued entry, " + fields
    # Without a time stamp only wYear (NO_STAMP) is meaningful.
    stamp = msg.Stamp
    when = "-" if stamp.wYear == NO_STAMP else "%04d-%02d-%02d %02d:%02d:%02d" % (
        stamp.wYear, stamp.wMonth, stamp.wDay, stamp.wHour, stamp.wMinute, stamp.wSecond)
    return "number %d, %s, stamp %s" % (msg.Number, fields, when)


def main():
    parser = argparse.ArgumentParser(description="Print what the driver delivers from a port.")
    parser.add_argument("--library", default=os.environ.get("ZENTROK_LIBRARY"),
                        help="path of libzentrok.so or zentrok.dll (default: $ZENTROK_LIBRARY)")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--section", type=int, default=1, help="section RecNr<N> of Rn.ini (default 1)")
    parser.add_argument("--count", type=int, default=0, help="stop after this many items (default: no limit)")
    parser.add_argument("--timeout", type=float, default=10.0, help="stop after this many seconds (default 10)")
    args = parser.parse_args()
    if not args.library:
        parser.error("give --library or set ZENTROK_LIBRARY")

    driver = load_driver(args.library)
    info = [c_int32() for _ in range(3)]
    name = driver.Qen_GetName(*(ctypes.byref(value) for value in info))
    print("driver %s (%s)" % (name.decode(), ", ".join(str(value.value) for value in info)))

    handle = driver.qen_InitComm(args.port, args.section)
    if not handle:
        sys.exit("port %d did not open" % args.port)
    # This thread opened the port, so it keeps calling qen_GetMsg: the driver
    # hands each message over inside that call.
    msg = QenMsg()
    received = 0
    deadline = time.monotonic() + args.timeout
    try:
        while (args.count == 0 or received < args.count) and time.monotonic() < deadline:
            msg.Number = NOT_A_NUMBER
            if driver.qen_GetMsg(handle, ctypes.byref(msg)):
                received += 1
                print("%d: %s" % (received, describe(msg)), flush=True)
            else:
                time.sleep(0.001)
    except KeyboardInterrupt:
        pass
    finally:
        driver.qen_CloseComm(handle)
    print("%d items" % received)


if __name__ == "__main__":
    main()
