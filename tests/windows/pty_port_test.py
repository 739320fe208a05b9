#!/usr/bin/env python3
"""A port of zentrok.dll under Wine, on a pseudo terminal seen from Linux.

The terminal's slave is linked into the Wine prefix as COM<n>, and a host
program linked against the DLL opens that port. "Rn.ini" in the host's
current directory asks for 9600 baud, two stop bits and RTS/CTS flow
control; while the port is open the terminal must show exactly that, without
XON/XOFF. Then, on the wire:
  - a type "1" telegram reaches the host as its message, and ACK follows;
  - a type "0" telegram is answered with two ACKs and reaches nobody;
  - both telegrams are in the log under "Qenlog";
and the close returns.

Not checked here: the data bits and the parity (a Linux pseudo terminal
always keeps 8 bits without parity). The link tests run against the DLL
under Wine too (tests/link, through tests/support/device_relay.py); this one
is a host that keeps its thread's duty with a message loop.

Usage: pty_port_test.py <wine-run.sh> <wine prefix> <pty host program>
"""
import glob
import os
import pty
import select
import shutil
import subprocess
import sys
import tempfile
import termios
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from protocol_facts import ACK, END  # noqa: E402

INI = "[RecNr1]\r\nBaud=9600\r\nStopBit=2\r\nFlowCtrl=2\r\n"
MESSAGE_TELEGRAM = b"1073xxxx00ABCD TCXYZ"
MESSAGE_LINE = "msg 7 3 ABCD [ C] [   TXYZ]"
ACK_ONLY_TELEGRAM = b"0"
DEADLINE_S = 60  # only to end a hung run; nothing is timed

# Owns the terminal as its controlling terminal, so that the Wine server,
# which opens the device for the host, cannot take it as its own and get the
# hang-up when the test closes the terminal.
SESSION_HOLDER = """
import fcntl, os, signal, sys, termios
signal.signal(signal.SIGHUP, signal.SIG_IGN)
fcntl.ioctl(int(sys.argv[1]), termios.TIOCSCTTY, 0)
print("ready", flush=True)
sys.stdin.read()
"""


def read_until(fd, done):
    """Reads from fd until done(data) holds or the deadline passes."""
    data = b""
    end = time.monotonic() + DEADLINE_S
    while not done(data):
        left = end - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            break
        chunk = os.read(fd, 256)
        if not chunk:
            break
        data += chunk
    return data


class LineReader:
    def __init__(self, stream):
        self.fd = stream.fileno()
        self.buffer = b""

    def line(self):
        self.buffer += read_until(self.fd, lambda data: b"\n" in self.buffer + data)
        if b"\n" not in self.buffer:
            return None
        text, self.buffer = self.buffer.split(b"\n", 1)
        return text.decode(errors="replace").strip()


def free_com_link(prefix):
    dosdevices = os.path.join(prefix, "dosdevices")
    for number in range(40, 256):
        link = os.path.join(dosdevices, f"com{number}")
        if not os.path.lexists(link):
            return number, link
    raise RuntimeError("no free COM number in the Wine prefix")


def line_problems(attrs):
    iflag, _, cflag, _, ispeed, ospeed, _ = attrs
    found = []
    if ispeed != termios.B9600 or ospeed != termios.B9600:
        found.append(f"speed {ispeed}/{ospeed}, expected B9600 ({termios.B9600})")
    if not cflag & termios.CSTOPB:
        found.append("CSTOPB not set (two stop bits)")
    if not cflag & termios.CRTSCTS:
        found.append("CRTSCTS not set (RTS/CTS flow control)")
    if iflag & (termios.IXON | termios.IXOFF):
        found.append("XON/XOFF enabled")
    return found


def log_problems(workdir):
    files = glob.glob(os.path.join(workdir, "Qenlog", "*.zqa"))
    if len(files) != 1:
        return [f"log files {files}, expected one"]
    with open(files[0], "rb") as log:
        lines = log.read().split(b"\r\n")
    expected = [MESSAGE_TELEGRAM, ACK_ONLY_TELEGRAM]
    if len(lines) != len(expected) + 1 or lines[-1] != b"" or not all(
            line.endswith(b" " + telegram) for line, telegram in zip(lines, expected)):
        return [f"log lines {lines}, expected time texts followed by {expected}"]
    return []


def exchange(host, reader, master, slave):
    found = []
    opened = reader.line()
    if opened != "open handle":
        return [f"host reported {opened!r}, expected 'open handle'"]
    found += line_problems(termios.tcgetattr(slave))

    os.write(master, MESSAGE_TELEGRAM + END)
    delivered = reader.line()
    if delivered != MESSAGE_LINE:
        found.append(f"host received {delivered!r}, expected {MESSAGE_LINE!r}")
    acks = read_until(master, lambda data: len(data) >= 1)
    if acks != ACK:
        found.append(f"after the message the device received {acks!r}, expected {ACK!r}")

    os.write(master, ACK_ONLY_TELEGRAM + END)
    acks = read_until(master, lambda data: len(data) >= 2)
    if acks != ACK + ACK:
        found.append(f"after a type 0 telegram the device received {acks!r}, expected {ACK + ACK!r}")

    host.stdin.write(b"close\n")
    host.stdin.flush()
    closed = reader.line()
    if closed != "closed":
        found.append(f"before or instead of the close the host reported {closed!r}, expected 'closed'")
    if host.wait(timeout=DEADLINE_S) != 0:
        found.append(f"host exited with {host.returncode}")
    return found


def run(wine_run, prefix, program, master, slave, workdir, number):
    host = subprocess.Popen([wine_run, prefix, program, str(number)], cwd=workdir,
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    try:
        return exchange(host, LineReader(host.stdout), master, slave)
    finally:
        if host.poll() is None:
            host.kill()
            host.wait()


def main(wine_run, prefix, program):
    master, slave = pty.openpty()
    holder = subprocess.Popen([sys.executable, "-c", SESSION_HOLDER, str(slave)], pass_fds=(slave,),
                              start_new_session=True, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    number, link = free_com_link(prefix)
    workdir = tempfile.mkdtemp(prefix="zentrok-pty-")
    try:
        if holder.stdout.readline().strip() != b"ready":
            print("FAIL: the terminal could not be given a session of its own")
            return 1
        if not line_problems(termios.tcgetattr(slave)):
            print("FAIL: the terminal already has the expected settings; the check would prove nothing")
            return 1
        os.symlink(os.ttyname(slave), link)
        os.mkdir(os.path.join(workdir, "Qenlog"))
        with open(os.path.join(workdir, "Rn.ini"), "w", newline="") as ini:
            ini.write(INI)
        found = run(wine_run, prefix, program, master, slave, workdir, number)
        found += log_problems(workdir)
    finally:
        if os.path.lexists(link):
            os.unlink(link)
        shutil.rmtree(workdir, ignore_errors=True)
        holder.stdin.close()
        holder.wait()
        os.close(master)
        os.close(slave)
    for problem in found:
        print(f"FAIL: {problem}")
    if not found:
        print(f"COM{number}: line set, message handed over and acknowledged, type 0 acknowledged twice, "
              "both logged, closed")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
