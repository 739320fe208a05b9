"""The ZENTROK serial device driver from Python, on ctypes alone.

    import zentrok
    with zentrok.Port(3) as port:           # COM3, line settings [RecNr1] of Rn.ini
        item = port.wait(timeout=1.0)       # an Item, or None
        if item:
            print(item.code, item.text, "entry" if item.queued else item.number)
        if not port.line_state().DevicePresent:
            print("the device has gone; the port waits for it to come back")

The library is the path given to load() (or as `library=` to the first call),
else $ZENTROK_LIBRARY, else zentrok.dll / libzentrok.so found by the system
loader; LibraryError says which were tried. On Windows the interpreter must
be 32-bit, as the DLL is. A port that does not open raises PortError, which
names the device and, where it can be told, why.
"""
from ._native import (LIBRARY_NAME, NO_STAMP, NONE_YET, LibraryError, QenCode, QenLineState, QenMsg, QenSystemTime,
                      QenText, load)
from ._port import DriverName, Item, Port, PortError, SystemState, apply_system_line, device_path, name


def _installed_version():
    # The version pip recorded; a package used from the source tree has none.
    try:
        from importlib.metadata import PackageNotFoundError, version
    except ImportError:  # Python 3.7
        return None
    try:
        return version("zentrok")
    except PackageNotFoundError:
        return None


__version__ = _installed_version()

__all__ = ["LIBRARY_NAME", "NO_STAMP", "NONE_YET", "LibraryError", "QenCode", "QenLineState", "QenMsg", "QenSystemTime",
           "QenText", "load",
           "DriverName", "Item", "Port", "PortError", "SystemState", "apply_system_line", "device_path", "name",
           "__version__"]
