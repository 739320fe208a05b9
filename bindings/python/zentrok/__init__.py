"""The ZENTROK serial device driver from Python, on ctypes alone.

    import zentrok
    with zentrok.Port(3) as port:           # COM3, line settings [RecNr1] of Rn.ini
        item = port.wait(timeout=1.0)       # an Item, or None
        if item:
            print(item.code, item.text, "entry" if item.queued else item.number)

The library is the path given to load() (or as `library=` to the first call),
else $ZENTROK_LIBRARY, else zentrok.dll / libzentrok.so found by the system
loader. On Windows the interpreter must be 32-bit, as the DLL is.
"""
from ._native import LIBRARY_NAME, NO_STAMP, QenCode, QenMsg, QenSystemTime, QenText, load
from ._port import DriverName, Item, Port, PortError, SystemState, apply_system_line, name

__all__ = ["LIBRARY_NAME", "NO_STAMP", "QenCode", "QenMsg", "QenSystemTime", "QenText", "load",
           "DriverName", "Item", "Port", "PortError", "SystemState", "apply_system_line", "name"]
