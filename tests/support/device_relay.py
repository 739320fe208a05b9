#!/usr/bin/env python3
"""Pseudo terminals for Windows test programs under Wine.

A Windows program under Wine has no way to make a pseudo terminal on the
Linux side, so the device doubles of the Windows tests cannot use the
terminal that the Linux builds share (tools/pty): this process, on the Linux
side, makes their terminals the same way (raw, a session of their own for
the wineserver) and stands in for them.

Runs a test program under Wine and serves its device doubles: each double
connects here over TCP (the address is in ZENTROK_DEVICE_RELAY), asks for a
port, and gets a pseudo terminal whose slave is linked into the Wine prefix
as COM<n>. From then on the relay moves the bytes between the connection and
the terminal's master side, so the driver under Wine talks to a real Linux
terminal while the test drives the device end.

Frames in both directions: one kind byte, a 4-byte little-endian length,
then the payload.
  test -> relay: O <port number>   make the terminal and the COM<n> link
                 S <bytes>         write the bytes on the line
                 L                 ask for the line settings
                 H                 hang up the line
                 R <port number>   a device re-plugged: hang up the line and
                                   link a new terminal as the same COM<n>
  relay -> test: O                 the port exists
                 R                 the new terminal is linked; the old
                                   one's bytes have all been sent before
                 D <bytes>         bytes the driver sent
                 L <baud> <two stop bits> <RTS/CTS> <IXON> <IXOFF>

Usage: device_relay.py <wine-run.sh> <wine prefix> <program> [args...]
"""
import os
import select
import socket
import struct
import subprocess
import sys
import termios
import threading
import tty

# Owns the terminal as its controlling terminal, so that the Wine server,
# which opens the device for the driver, cannot take it as its own and get
# the hang-up when the test closes the terminal.
SESSION_HOLDER = """
import fcntl, signal, sys, termios
signal.signal(signal.SIGHUP, signal.SIG_IGN)
fcntl.ioctl(int(sys.argv[1]), termios.TIOCSCTTY, 0)
print("ready", flush=True)
sys.stdin.read()
"""

SPEEDS = {getattr(termios, f"B{rate}"): rate for rate in
          (50, 75, 110, 134, 150, 200, 300, 600, 1200, 1800, 2400, 4800, 9600, 19200, 38400, 57600, 115200)}


def read_exactly(conn, count):
    data = b""
    while len(data) < count:
        chunk = conn.recv(count - len(data))
        if not chunk:
            return None
        data += chunk
    return data


class Terminal:
    """One pseudo terminal, linked into the prefix as COM<n>."""

    def __init__(self, prefix, number):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.holder = subprocess.Popen([sys.executable, "-c", SESSION_HOLDER, str(self.slave)],
                                       pass_fds=(self.slave,), start_new_session=True,
                                       stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        if self.holder.stdout.readline().strip() != b"ready":
            raise RuntimeError("the terminal could not be given a session of its own")
        self.path = os.ttyname(self.slave)
        self.link = os.path.join(prefix, "dosdevices", f"com{number}")
        if os.path.lexists(self.link):
            os.unlink(self.link)
        os.symlink(self.path, self.link)

    def line(self):
        iflag, _, cflag, _, ispeed, ospeed, _ = termios.tcgetattr(self.slave)
        baud = SPEEDS.get(ospeed, 0) if ispeed == ospeed else 0
        flags = (cflag & termios.CSTOPB, cflag & termios.CRTSCTS, iflag & termios.IXON, iflag & termios.IXOFF)
        return " ".join([str(baud)] + ["1" if flag else "0" for flag in flags]).encode()

    def hang_up(self):
        if self.master is not None:
            os.close(self.master)
            self.master = None

    def close(self):
        self.hang_up()
        if os.path.lexists(self.link) and os.readlink(self.link) == self.path:
            os.unlink(self.link)
        self.holder.stdin.close()
        self.holder.wait()
        os.close(self.slave)


class Session:
    """One device double's connection."""

    def __init__(self, conn, prefix):
        self.conn = conn
        self.prefix = prefix
        self.send_lock = threading.Lock()
        self.terminal = None
        self.forwarder = None

    def send(self, kind, payload=b""):
        with self.send_lock:
            self.conn.sendall(kind + struct.pack("<I", len(payload)) + payload)

    def forward_line(self, terminal):
        """Relays what the driver writes until the line is hung up."""
        while terminal.master is not None:
            try:
                ready = select.select([terminal.master], [], [], 0.1)[0]
                data = os.read(terminal.master, 4096) if ready else b""
            except (OSError, TypeError):
                return
            if data:
                try:
                    self.send(b"D", data)
                except OSError:
                    return

    def serve(self):
        try:
            while True:
                header = read_exactly(self.conn, 5)
                if header is None:
                    return
                kind, length = header[:1], struct.unpack("<I", header[1:])[0]
                payload = read_exactly(self.conn, length) if length else b""
                if payload is None:
                    return
                self.handle(kind, payload)
        except OSError:
            return
        finally:
            if self.terminal:
                self.terminal.close()
            self.conn.close()

    def open_terminal(self, number):
        self.terminal = Terminal(self.prefix, number)
        self.forwarder = threading.Thread(target=self.forward_line, args=(self.terminal,), daemon=True)
        self.forwarder.start()

    def replug(self, number):
        """Hangs up the line, waits until its bytes are relayed, and links a new terminal in its place."""
        old = self.terminal
        old.hang_up()
        self.forwarder.join()
        self.open_terminal(number)
        old.close()  # the link leads to the new terminal now, and stays

    def handle(self, kind, payload):
        if kind == b"O":
            self.open_terminal(int(payload))
            self.send(b"O")
        elif kind == b"R":
            self.replug(int(payload))
            self.send(b"R")
        elif kind == b"S" and self.terminal.master is not None:
            while payload:
                payload = payload[os.write(self.terminal.master, payload):]
        elif kind == b"L":
            self.send(b"L", self.terminal.line())
        elif kind == b"H":
            self.terminal.hang_up()


def main(wine_run, prefix, program, *args):
    server = socket.create_server(("127.0.0.1", 0))
    env = dict(os.environ, ZENTROK_DEVICE_RELAY="127.0.0.1:%d" % server.getsockname()[1])

    def accept():
        while True:
            try:
                conn, _ = server.accept()
            except OSError:
                return
            conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            threading.Thread(target=Session(conn, prefix).serve, daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    result = subprocess.run([wine_run, prefix, program, *args], env=env)
    server.close()
    return result.returncode


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
