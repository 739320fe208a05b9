#!/usr/bin/env python3
"""A host in Python on the zentrok package (bindings/python): opens a port
and prints every item it receives.

    host_ctypes.py [--library PATH] --port N [--section N] [--count N] [--timeout S]

The library is --library, else $ZENTROK_LIBRARY, else libzentrok.so
(zentrok.dll on Windows) found by the system loader. zentrok.dll is a
32-bit DLL: on Windows this needs a 32-bit Python.
"""
import argparse
import os
import sys
import time

# From the source tree; elsewhere put bindings/python on PYTHONPATH.
sys.path.append(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bindings", "python"))
import zentrok  # noqa: E402


def describe(item):
    fields = "channel %d, ident %08X, code %r, text %r" % (item.channel, item.ident, item.code, item.text)
    if item.queued:
        return "queued entry, " + fields
    when = "-" if item.stamp is None else item.stamp.strftime("%Y-%m-%d %H:%M:%S")
    return "number %d, %s, stamp %s" % (item.number, fields, when)


def main():
    parser = argparse.ArgumentParser(description="Print what the driver delivers from a port.")
    parser.add_argument("--library", help="path of libzentrok.so or zentrok.dll")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--section", type=int, default=1, help="section RecNr<N> of Rn.ini (default 1)")
    parser.add_argument("--count", type=int, default=0, help="stop after this many items (default: no limit)")
    parser.add_argument("--timeout", type=float, default=10.0, help="stop after this many seconds (default 10)")
    args = parser.parse_args()

    zentrok.load(args.library)
    driver = zentrok.name()
    print("driver %s (%d, %d, %d)" % driver)
    try:
        port = zentrok.Port(args.port, args.section)
    except zentrok.PortError as error:
        sys.exit(str(error))
    # This thread opened the port, so it is the one that keeps waiting on it:
    # the driver hands each message over inside those calls.
    received = 0
    deadline = time.monotonic() + args.timeout
    with port:
        try:
            while args.count == 0 or received < args.count:
                left = deadline - time.monotonic()
                if left <= 0:
                    break
                item = port.wait(left)
                if item:
                    received += 1
                    print("%d: %s" % (received, describe(item)), flush=True)
        except KeyboardInterrupt:
            pass
    print("%d items" % received)


if __name__ == "__main__":
    main()
