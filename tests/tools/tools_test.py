#!/usr/bin/env python3
"""Process-level tests of zentrok-monitor, zentrok-sim, the example hosts and
the bindings.

The end-to-end cases run the simulator on a pseudo-terminal and a host
against it through ZENTROK_PORT_DIR, each in a working folder of its own.

    tools_test.py --monitor M --sim S --host-minimal H --host-worker W --library L
                  --examples DIR --data DIR --bindings DIR --binding-hosts DIR
                  --project-version V --readme README.md [--no-ctypes] [unittest names...]

The Windows build runs WineTest and ReplayTest with zentrok-monitor.exe under
Wine; WineTest's device end is the simulator built for the build machine, on
a pseudo-terminal linked into the Wine prefix.

    tools_test.py --monitor M.exe --sim S --wine-run R --wine-prefix P --dll-dir D WineTest ReplayTest
"""
import argparse
import ctypes
import datetime
import errno
import fcntl
import json
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time
import unittest
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import doc_blocks  # noqa: E402
from protocol_facts import ACK, END, MAX_TELEGRAM_LENGTH  # noqa: E402

ARGS = None
RUN_TIMEOUT = 20

# The items that the simulator's built-in samples yield, in order, as the
# monitor's table rows; YYYY stands for the current UTC year.
SAMPLE_ROWS = """\
 item  number  ch  ident     code  text       stamp                queued
    1       7  10  00003F2C  " B"  "   X123"  -                    no
    2       8  10  00003F2C  " C"  "   Y456"  YYYY-02-28 14:05:09  no
    3       2  15  0000ABCD  "K7"  "  OK 55"  -                    no
    4      12   3  000000C1  "XY"  "ABCD567"  -                    no
    5      13   3  000000C1  "XY"  "ABCD567"  YYYY-06-15 14:05:09  no
    6       7   1  00002A4F  "12"  " HALL A"  -                    no
    7       -   1  00002A4F  "03"  "   GATE"  -                    yes
    8       -   1  00002A4F  "07"  "      9"  -                    yes
    9       0   0  00000000  ""    ""         -                    no
"""
SAMPLE_ITEMS = 9
SAMPLE_TELEGRAMS = 9
FIRST_QUEUED_TELEGRAM = 7  # the telegram of the first queued entry
SAMPLE_ACKS = 10  # type "0" is answered twice


def utc_years():
    """The current UTC year, and the next one if a new year is near."""
    now = datetime.datetime.now(datetime.timezone.utc)
    return {now.year, (now + datetime.timedelta(minutes=1)).year}


def with_year_placeholder(text):
    """Replaces the year of every stamp by YYYY, after checking it is current."""
    years = {int(year) for year in re.findall(r"\b(\d{4})-\d\d-\d\d \d\d:\d\d:\d\d", text)}
    assert years <= utc_years(), "stamps of years %s, expected %s" % (years, utc_years())
    return re.sub(r"\b\d{4}(-\d\d-\d\d \d\d:\d\d:\d\d)", r"YYYY\1", text)


def without_received(table):
    """A replay's table without its column of receive times."""
    lines = table.splitlines()
    cut = lines[0].index("  received")
    return "".join(line[:cut].rstrip() + "\n" for line in lines)


def trace_events(path, port):
    """The events of COM<port> in a trace file, without their time stamps."""
    with open(path, "rb") as trace:
        lines = trace.read().decode("latin-1").split("\r\n")
    assert lines[-1] == "", "the trace does not end with a whole line"
    tag = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} COM%d (.*)$" % port)
    return [match.group(1) for match in map(tag.match, lines[:-1]) if match]


def run(command, cwd=None, env=None, timeout=RUN_TIMEOUT):
    return subprocess.run(command, cwd=cwd, env=env, capture_output=True, timeout=timeout)


def windows_path(path):
    """A Linux path as a program under Wine names it (drive Z: is the root)."""
    return "Z:" + path.replace("/", "\\")


def run_monitor(arguments, cwd=None, env=None):
    """The monitor; in the Windows build zentrok-monitor.exe under Wine, which
    takes Linux paths as paths on drive Z: and ends its lines with CR LF."""
    if not ARGS.wine_run:
        return run([ARGS.monitor] + arguments, cwd=cwd, env=env)
    env = dict(env or os.environ, WINEPATH=windows_path(ARGS.dll_dir))
    result = run([ARGS.wine_run, ARGS.wine_prefix, ARGS.monitor] + arguments, cwd=cwd, env=env, timeout=90)
    result.stdout = result.stdout.replace(b"\r\n", b"\n")
    result.stderr = result.stderr.replace(b"\r\n", b"\n")
    return result


def text(stream):
    return stream.decode("utf-8", "replace")


def opened_notes(workspace, port, settings="9600 baud, 8 data bits, no parity, 1 stop bit, no flow control",
                 defaults=("default Parity=0, StopBit=0, FlowCtrl=0: missing key in [RecNr1]",)):
    """What the monitor says on stderr when it has opened a port of a workspace."""
    link = os.path.join(workspace.path, "COM%d" % port)
    return (["zentrok-monitor: COM%d = %s, RecNr1: %s" % (port, link, settings)]
            + ["zentrok-monitor: " + line for line in defaults]
            + ["zentrok-monitor: listening on COM%d; Ctrl-C closes the port" % port])


# The monitor's last line: what the driver counted on the port.
COUNTED = re.compile(r"^zentrok-monitor: COM(\d+) counted (\d+) telegrams?, (\d+) ACKs? sent, (\d+) withdrawn, "
                     r"(\d+) discarded for line errors, (\d+) line errors?, (\d+) reopens?, "
                     r"(\d+) log lines? not written$")


class Workspace:
    """A working folder with Rn.ini and the Qenlog folder, and the environment
    that points the driver's ports at it."""

    def __init__(self, case):
        self._temp = tempfile.TemporaryDirectory(prefix="zentrok-tools-")
        case.addCleanup(self._temp.cleanup)
        self.path = self._temp.name
        os.mkdir(os.path.join(self.path, "Qenlog"))
        with open(os.path.join(self.path, "Rn.ini"), "w", newline="") as ini:
            ini.write("[RecNr1]\r\nBaud=9600\r\nDataBit=8\r\n")
        self.env = dict(os.environ, ZENTROK_PORT_DIR=self.path, LC_ALL="C")

    def file(self, name, content):
        path = os.path.join(self.path, name)
        with open(path, "wb") as out:
            out.write(content.encode("utf-8") if isinstance(content, str) else content)
        return path

    def log_lines(self):
        logs = sorted(os.listdir(os.path.join(self.path, "Qenlog")))
        if not logs:
            return []
        with open(os.path.join(self.path, "Qenlog", logs[-1]), "rb") as log:
            return log.read().decode("latin-1").split("\r\n")[:-1]


class Simulator:
    """zentrok-sim on a pseudo-terminal linked as COM<port> in a workspace."""

    def __init__(self, case, workspace, port, source, pacing=("--ack-timeout", "3000"), wine_prefix=None):
        if wine_prefix:
            self.link = os.path.join(wine_prefix, "dosdevices", "com%d" % port)
            line = ["--wine-prefix", wine_prefix, "--wait-host", "60"]
        else:
            self.link = os.path.join(workspace.path, "COM%d" % port)
            line = ["--pty", workspace.path, "--wait-host", "10"]
        command = [ARGS.sim] + line + ["--port", str(port)] + list(pacing) + source
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        case.addCleanup(self._stop)
        deadline = time.monotonic() + 5
        while not os.path.islink(self.link):
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise AssertionError("the simulator made no port: %s" % text(self.process.stderr.read()))
            time.sleep(0.01)

    def report(self, status=0):
        out, err = self.process.communicate(timeout=RUN_TIMEOUT)
        assert self.process.returncode == status, "simulator exit status %d: %s" % (self.process.returncode, text(err))
        return text(out) + text(err)

    def _stop(self):
        # Asked to stop, the simulator removes its link; a Wine prefix keeps
        # links that are left behind.
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.communicate(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
        self.process.communicate()


class QuietLine:
    """A pseudo-terminal linked as COM<port> in a workspace, on which nothing
    is sent: the device end is this test."""

    def __init__(self, case, workspace, port):
        self.master, self.slave = pty.openpty()
        self.link = os.path.join(workspace.path, "COM%d" % port)
        os.symlink(os.ttyname(self.slave), self.link)
        case.addCleanup(self.hang_up)

    def exchange(self, telegram, timeout=5):
        """Sends `telegram` and the end character; returns what the driver
        answered within `timeout` seconds, up to one byte."""
        os.write(self.master, telegram + END)
        ready, _, _ = select.select([self.master], [], [], timeout)
        return os.read(self.master, 1) if ready else b""

    def hang_up(self):
        """Closes the terminal, as a device that went away; the link stays."""
        for fd in (self.master, self.slave):
            if fd is not None:
                os.close(fd)
        self.master = self.slave = None


class CommandLineTest(unittest.TestCase):
    """Bad arguments, missing ports and malformed scripts."""

    def assert_usage_error(self, command, message):
        """Options that do not fit together get the usage; a value an option
        does not take gets its message and a pointer to --help."""
        result = run(command)
        self.assertEqual((result.returncode, result.stdout), (2, b""), command)
        tool = os.path.basename(command[0])
        lines = text(result.stderr).splitlines()
        self.assertTrue(lines[0].startswith(tool + ": ") and message in lines[0], lines)
        if ', not "' in lines[0]:  # the value, quoted
            self.assertEqual(lines[1:], [tool + " --help lists the options"])
        else:
            self.assertTrue(lines[2].startswith("usage: " + tool), lines)

    def test_monitor_rejects_bad_arguments(self):
        cases = [
            ([], "give either --port N or --replay FILE"),
            (["--port"], "--port needs a value"),
            (["--port", "x"], 'not "x"'),
            (["--port", "0"], "from 1 to 255"),
            (["--port", "3", "--count", "0"], "--count needs a whole number"),
            (["--port", "3", "--count", "2x"], 'not "2x"'),
            (["--port", "3", "--timeout", "-1"], "--timeout needs a positive number of seconds"),
            (["--port", "3", "--frobnicate"], 'unknown option "--frobnicate"'),
            (["--port", "3", "--replay", "x.zqa"], "give either --port N or --replay FILE"),
            (["--replay", "x.zqa", "--count", "3"], "--replay takes no --section, --count or --timeout"),
            (["--list", "--port", "3"], "--list takes no other option"),
        ]
        for arguments, message in cases:
            with self.subTest(arguments=arguments):
                self.assert_usage_error([ARGS.monitor] + arguments, message)

    def test_help_and_version_go_to_stdout(self):
        for tool in (ARGS.monitor, ARGS.sim):
            result = run([tool, "--help"])
            self.assertEqual(result.returncode, 0)
            self.assertIn("usage:", text(result.stdout))
            result = run([tool, "--version"])
            self.assertEqual((result.returncode, text(result.stdout)),
                             (0, "%s %s\n" % (os.path.basename(tool), ARGS.project_version)))

    def test_monitor_names_the_device_of_a_port_that_does_not_open(self):
        workspace = Workspace(self)
        workspace.file("COM5", "a plain file")
        # In the words of the driver's trace: the reason, then the system's.
        cases = [
            (workspace.env, 42, os.path.join(workspace.path, "COM42") + ": missing (%s)" % os.strerror(errno.ENOENT)),
            (workspace.env, 5, os.path.join(workspace.path, "COM5") + ": not a serial device (%s)"
             % os.strerror(errno.ENOTTY)),
            ({k: v for k, v in workspace.env.items() if k != "ZENTROK_PORT_DIR"}, 200, "/dev/ttyS199: missing"),
        ]
        for env, port, device in cases:
            with self.subTest(port=port):
                result = run([ARGS.monitor, "--port", str(port), "--timeout", "5"], cwd=workspace.path, env=env)
                self.assertEqual(result.returncode, 1)
                self.assertIn("port %d did not open: %s" % (port, device), text(result.stderr))
                self.assertEqual(result.stdout, b"")

    def test_sim_rejects_bad_arguments(self):
        directory = tempfile.gettempdir()
        pty = ["--pty", directory, "--port", "9"]
        cases = [
            ([], "give either --pty DIR or --device PATH"),
            (["--pty", directory, "--samples"], "--pty needs --port N"),
            (pty, "give either --script FILE or --samples"),
            (pty + ["--samples", "--script", "x.tlg"], "give either --script FILE or --samples"),
            (pty + ["--device", "/dev/null", "--samples"], "give either --pty DIR or --device PATH"),
            (pty + ["--samples", "--ack-timeout", "5", "--interval", "5"], "exclude each other"),
            (pty + ["--samples", "--ack-timeout", "soon"], 'not "soon"'),
            (pty + ["--samples", "--wait-host", "-1"], "--wait-host needs a number of seconds"),
            (pty + ["--samples", "--verbose"], 'unknown option "--verbose"'),
            (["--device", "/dev/null", "--port", "3", "--samples"], "--port goes with --pty"),
            (["--wine-prefix", directory, "--samples"], "--wine-prefix needs --port N"),
            (pty + ["--wine-prefix", directory, "--samples"], "give either --pty DIR or --device PATH"),
            (pty + ["--samples", "--byte-delay", "x"], 'not "x"'),
        ]
        for arguments, message in cases:
            with self.subTest(arguments=arguments):
                self.assert_usage_error([ARGS.sim] + arguments, message)

    def test_list_shows_the_linked_ports_and_whether_they_are_in_use(self):
        workspace = Workspace(self)
        workspace.file("COM5", "a plain file: no port")
        free, taken = QuietLine(self, workspace, 11), QuietLine(self, workspace, 12)
        fcntl.flock(taken.slave, fcntl.LOCK_EX)  # as the driver holds a port it opened
        result = run([ARGS.monitor, "--list"], env=workspace.env)
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        self.assertEqual(text(result.stdout).splitlines(), [
            "COM11   %s -> %s  (free)" % (free.link, os.ttyname(free.slave)),
            "COM12   %s -> %s  (in use)" % (taken.link, os.ttyname(taken.slave)),
        ])
        empty = Workspace(self)
        result = run([ARGS.monitor, "--list"], env=empty.env)
        self.assertEqual((result.returncode, text(result.stderr)),
                         (1, "zentrok-monitor: no serial port found that a host could open\n"))

    def test_sim_reports_a_malformed_script_line_before_sending(self):
        workspace = Workspace(self)
        script = workspace.file("bad.tlg", "# comment\n107A      3F2C XB123\n\n5123 \\x0\n")
        result = run([ARGS.sim, "--pty", workspace.path, "--port", "3", "--script", script])
        self.assertEqual(result.returncode, 1)
        self.assertIn("bad.tlg:4: column 6: \\x needs two hexadecimal digits; nothing was sent",
                      text(result.stderr))
        self.assertFalse(os.path.lexists(os.path.join(workspace.path, "COM3")), "a port was made")

    def test_sim_errors_name_what_failed(self):
        workspace = Workspace(self)
        missing = os.path.join(workspace.path, "missing")
        cases = [
            (["--pty", workspace.path, "--port", "3", "--script", missing], "cannot read the script " + missing),
            (["--device", missing, "--samples"], "cannot open " + missing),
            (["--pty", missing, "--port", "3", "--samples"], "cannot create " + os.path.join(missing, "COM3")),
        ]
        for arguments, message in cases:
            with self.subTest(arguments=arguments):
                result = run([ARGS.sim] + arguments)
                self.assertEqual(result.returncode, 1)
                self.assertIn(message, text(result.stderr))

    def test_sim_leaves_a_plain_file_in_place_of_its_link_alone(self):
        workspace = Workspace(self)
        occupied = workspace.file("COM3", "keep me")
        result = run([ARGS.sim, "--pty", workspace.path, "--port", "3", "--samples"])
        self.assertEqual(result.returncode, 1)
        self.assertIn("is not a link", text(result.stderr))
        with open(occupied) as kept:
            self.assertEqual(kept.read(), "keep me")

    def test_sim_gives_up_when_no_host_opens_the_port(self):
        workspace = Workspace(self)
        result = run([ARGS.sim, "--pty", workspace.path, "--port", "3", "--samples", "--wait-host", "0.3"])
        self.assertEqual(result.returncode, 1)
        self.assertIn("no host opened the port within 0.3 s", text(result.stderr))
        self.assertFalse(os.path.lexists(os.path.join(workspace.path, "COM3")), "the link was left behind")


class ReplayTest(unittest.TestCase):
    """zentrok-monitor --replay of a checked-in log file."""

    def replay(self, path, *options):
        return run_monitor(["--replay", path] + list(options))

    def test_rows_of_a_known_log_with_its_bad_lines_reported(self):
        log = os.path.join(ARGS.data, "replay.zqa")
        result = self.replay(log)
        with open(os.path.join(ARGS.data, "replay.expected")) as expected:
            self.assertEqual(with_year_placeholder(text(result.stdout)), expected.read())
        # Line 8 is blank; lines 13-14 are one telegram that held CR LF.
        self.assertEqual(text(result.stderr).splitlines(), [
            "zentrok-monitor: %s: the name is no log name YYYYMM_P.zqa, so time stamps take the current year" % log,
            "zentrok-monitor: %s:1: no time text at the start of the line" % log,
            "zentrok-monitor: %s:7: no telegram after the time text" % log,
            "zentrok-monitor: %s:13-14: one telegram with a line break (CR LF or LF) inside, logged as it came; "
            "decoded as one" % log,
        ])
        self.assertEqual(result.returncode, 1)

    def test_json_rows_carry_the_same_items(self):
        log = os.path.join(ARGS.data, "replay.zqa")
        rows = [json.loads(line) for line in text(self.replay(log, "--json").stdout).splitlines()]
        table = without_received(text(self.replay(log).stdout)).splitlines()[1:]
        self.assertEqual(len(rows), len(table))
        self.assertEqual([row["item"] for row in rows], list(range(1, len(rows) + 1)))
        self.assertEqual([row["queued"] for row in rows], [line.endswith("yes") for line in table])
        queued = [row for row in rows if row["queued"]]
        self.assertTrue(queued)
        self.assertTrue(all(row["number"] is None and row["stamp"] is None for row in queued))
        self.assertEqual(rows[7], {"item": 8, "number": 3, "channel": 15, "ident": "0000ABCD", "code": "Kx",
                                   "text": "  44 55", "stamp": None, "queued": False, "received": "14:05:14"})
        self.assertEqual([row["received"] for row in rows[1:4]], ["PM 2:05:09"] * 3)

    def test_a_clean_log_exits_zero(self):
        workspace = Workspace(self)
        log = workspace.file("202403_1.zqa", "14:05:09 107A      3F2C XB123\r\n\r\n   \r\n14:05:10 001\r\n")
        result = self.replay(log)
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        self.assertEqual(len(text(result.stdout).splitlines()), 2)

    def test_a_telegram_longer_than_any_read_is_a_bad_line(self):
        # A line cut by the log's length limit runs on into the next one.
        workspace = Workspace(self)
        log = workspace.file("cut.zqa", "14:05:09 X" + "y" * MAX_TELEGRAM_LENGTH + "\r\n14:05:10 107A      3F2C XB123\r\n")
        result = self.replay(log)
        self.assertEqual(result.returncode, 1)
        self.assertIn(f"cut.zqa:1: telegram longer than {MAX_TELEGRAM_LENGTH} characters", text(result.stderr))
        self.assertEqual(len(text(result.stdout).splitlines()), 2)

    def test_folders_and_files_in_name_order_with_the_years_of_their_names(self):
        # A 29 February is a date only in the log's own year.
        workspace = Workspace(self)
        folder = os.path.join(workspace.path, "Qenlog")
        workspace.file("Qenlog/202403_1.zqa", "11:00:00 107A      3F2C XB123\r\n")
        workspace.file("Qenlog/202402_3.zqa", "10:00:00 108A      3F2C YC45614:05:09 29.02\r\n")
        workspace.file("Qenlog/notes.txt", "not a log")
        rows = [
            "    1       8  10  00003F2C  \" C\"  \"   Y456\"  2024-02-29 14:05:09  no      10:00:00",
            "    2       7  10  00003F2C  \" B\"  \"   X123\"  -                    no      11:00:00",
        ]
        files = [os.path.join(folder, name) for name in ("202402_3.zqa", "202403_1.zqa")]
        for paths in ([folder], files):
            with self.subTest(paths=paths):
                result = run_monitor(["--replay"] + paths)
                self.assertEqual(text(result.stdout).splitlines()[1:], rows)
                self.assertEqual((result.returncode, text(result.stderr)),
                                 (0, "zentrok-monitor: 2 telegrams replayed from 2 files\n"))

    def test_nothing_to_replay_is_said_and_exits_one(self):
        workspace = Workspace(self)
        empty = workspace.file("202403_1.zqa", "\r\n")
        cases = [
            (os.path.join(workspace.path, "Qenlog"), "Qenlog: no log files (*.zqa) in this folder"),
            (empty, "202403_1.zqa: no telegram in this file"),
        ]
        for path, message in cases:
            with self.subTest(path=path):
                result = run_monitor(["--replay", path])
                self.assertEqual((result.returncode, result.stdout), (1, b""))
                self.assertIn(message, text(result.stderr))
                self.assertIn("0 telegrams replayed", text(result.stderr))

    def test_a_missing_file(self):
        result = self.replay(os.path.join(ARGS.data, "missing.zqa"))
        self.assertEqual(result.returncode, 1)
        self.assertIn("cannot read " + os.path.join(ARGS.data, "missing.zqa"), text(result.stderr))


class SampleChecks:
    def assert_counted(self, notes, port, telegrams, acks, reopens=0, not_logged=0):
        """The monitor's notes before its closing line of counters, once
        those are checked. The last ACK may still be on its way when the
        monitor looks at them last; the simulator counts every one."""
        self.assertTrue(notes, "the monitor said nothing")
        counted = COUNTED.match(notes[-1])
        self.assertTrue(counted, notes)
        numbers = [int(number) for number in counted.groups()]
        self.assertIn(numbers[2], (acks - 1, acks), notes[-1])
        self.assertEqual(numbers[:2] + numbers[3:], [port, telegrams, 0, 0, 0, reopens, not_logged], notes[-1])
        return notes[:-1]

    def start_monitor(self, workspace, port, *options):
        """The monitor as a process (under Wine in the Windows build), once
        it has said that it listens; and what it said until then."""
        command = [ARGS.monitor, "--port", str(port)] + list(options)
        env = workspace.env
        if ARGS.wine_run:
            command = [ARGS.wine_run, ARGS.wine_prefix] + command
            env = dict(env, WINEPATH=windows_path(ARGS.dll_dir))
        monitor = subprocess.Popen(command, cwd=workspace.path, env=env, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
        self.addCleanup(monitor.kill)
        notes = []
        while not notes or "listening on" not in notes[-1]:
            line = monitor.stderr.readline()
            self.assertTrue(line, "the monitor ended: %s" % notes)
            notes.append(text(line).rstrip("\r\n"))
        return monitor, notes

    def assert_heard_again(self, workspace, port, device, wine_prefix=None):
        """A simulator that ends closes its terminal, as a pulled adapter; one
        started again makes a new terminal at the same COM<n>, which the
        driver opens again within about a second. The monitor says both and
        receives from the second; returns what it said when it opened."""
        first = Simulator(self, workspace, port, ["--samples"], wine_prefix=wine_prefix)
        monitor, notes = self.start_monitor(workspace, port, "--count", str(2 * SAMPLE_ITEMS), "--timeout", "60")
        self.assert_samples_acknowledged(first.report())
        self.assertEqual(text(monitor.stderr.readline()).rstrip("\r\n"), "zentrok-monitor: the device %s has gone "
                         "away after %d items; the port waits for it to come back" % (device, SAMPLE_ITEMS))
        second = Simulator(self, workspace, port, ["--samples"], wine_prefix=wine_prefix)
        out, err = (text(stream).replace("\r\n", "\n") for stream in monitor.communicate(timeout=60))
        print(err, file=sys.stderr)  # the monitor's lines for a restart, for `ctest -V`
        self.assertEqual(monitor.returncode, 0, err)
        back = self.assert_counted(err.splitlines(), port, 2 * SAMPLE_TELEGRAMS, 2 * SAMPLE_ACKS, reopens=1)
        self.assertEqual(len(back), 1, back)
        self.assertRegex(back[0], r"^zentrok-monitor: the device %s is back after \d+\.\d s: \d+ baud, 8 data bits, "
                         r"no parity, 1 stop bit, no flow control; listening again$" % re.escape(device))
        again = ["%5d" % (int(row[:5]) + SAMPLE_ITEMS) + row[5:] for row in SAMPLE_ROWS.splitlines(True)[1:]]
        self.assertEqual(with_year_placeholder(out), SAMPLE_ROWS + "".join(again))
        self.assert_samples_acknowledged(second.report())
        return notes

    def assert_samples_acknowledged(self, report):
        self.assertIn("telegrams sent:        %d" % SAMPLE_TELEGRAMS, report)
        self.assertIn("ACKs received:         %d of %d expected" % (SAMPLE_ACKS, SAMPLE_ACKS), report)
        self.assertIn("telegrams not ACKed:   0", report)
        self.assertRegex(report, r"round trip \(ms\): +min [\d.]+, median [\d.]+, max [\d.]+ over %d telegrams"
                         % SAMPLE_TELEGRAMS)
        self.assertIn('sent "001" (3 bytes); ACKs 2/2 in', report)


class EndToEndTest(SampleChecks, unittest.TestCase):
    """The simulator's samples through the driver to each kind of host."""

    def monitor(self, workspace, port, *options):
        return run([ARGS.monitor, "--port", str(port), "--count", str(SAMPLE_ITEMS), "--timeout", "15"]
                   + list(options), cwd=workspace.path, env=workspace.env)

    def test_monitor_rows_and_log_then_replay_of_that_log(self):
        workspace = Workspace(self)
        simulator = Simulator(self, workspace, 4, ["--samples"])
        result = self.monitor(workspace, 4)
        self.assertEqual(result.returncode, 0, text(result.stderr))
        self.assertEqual(self.assert_counted(text(result.stderr).splitlines(), 4, SAMPLE_TELEGRAMS, SAMPLE_ACKS),
                         opened_notes(workspace, 4))
        rows = text(result.stdout)
        self.assertEqual(with_year_placeholder(rows), SAMPLE_ROWS)
        self.assert_samples_acknowledged(simulator.report())

        log = workspace.log_lines()
        self.assertEqual(len(log), SAMPLE_TELEGRAMS)
        for line in log:
            self.assertRegex(line, r"^\d\d:\d\d:\d\d \S")
        self.assertEqual(log[6][9:], "S071#2A4F/Eri12/Hall A/ri03/gate/Nda5/x/Eri7/9]")

        # The log holds every sample telegram, so its replay yields what the
        # host received.
        logs = os.listdir(os.path.join(workspace.path, "Qenlog"))
        replay = run([ARGS.monitor, "--replay", os.path.join(workspace.path, "Qenlog", logs[0])])
        self.assertEqual((replay.returncode, without_received(text(replay.stdout))), (0, rows))
        received = [row.split()[-1] for row in text(replay.stdout).splitlines()[1:]]
        self.assertLessEqual(set(received), {line[:8] for line in log})

    def test_monitor_json_and_a_script_with_escapes(self):
        workspace = Workspace(self)
        script = workspace.file("escapes.tlg", "\n".join([
            "# control and Latin-1 bytes, quote and backslash, an ident of all ones",
            r"5123    0C1A\x01C\xE9XY567",
            r"S011#FFFFFFFF/Eri01/\x22q\\/ri02/]",
            "5124    0C1AB@DXY567",
        ]) + "\n")
        simulator = Simulator(self, workspace, 6, ["--script", script])
        # A trace that cannot be written changes nothing.
        env = dict(workspace.env, ZENTROK_TRACE=os.path.join(workspace.path, "missing", "trace.txt"))
        result = run([ARGS.monitor, "--port", "6", "--count", "4", "--timeout", "15", "--json"],
                     cwd=workspace.path, env=env)
        self.assertEqual(result.returncode, 0, text(result.stderr))
        self.assertEqual(self.assert_counted(text(result.stderr).splitlines(), 6, 3, 3), opened_notes(workspace, 6))
        rows = [json.loads(line) for line in text(result.stdout).splitlines()]
        self.assertEqual(rows, [
            {"item": 1, "number": 12, "channel": 3, "ident": "000000C1", "code": "XY", "text": "A\u0001C\u00e9567",
             "stamp": None, "queued": False},
            {"item": 2, "number": 1, "channel": 1, "ident": "FFFFFFFF", "code": "01", "text": '    "Q\\',
             "stamp": None, "queued": False},
            {"item": 3, "number": None, "channel": 1, "ident": "FFFFFFFF", "code": "02", "text": "       ",
             "stamp": None, "queued": True},
            {"item": 4, "number": 12, "channel": 4, "ident": "000000C1", "code": "XY", "text": "AB@D567",
             "stamp": None, "queued": False},
        ])
        report = simulator.report()
        self.assertIn("ACKs received:         3 of 3 expected", report)
        self.assertIn(r'sent "5123    0C1A\x01C\xE9XY567" (20 bytes); ACKs 1/1', report)
        log = workspace.log_lines()
        self.assertEqual([line[9:] for line in log],
                         ["5123    0C1A\x01C\xe9XY567", 'S011#FFFFFFFF/Eri01/"q\\/ri02/]'])

    def test_ctrl_c_closes_the_port_and_ends_the_monitor(self):
        # Paced, so that the simulator is still there for the Ctrl-C.
        workspace = Workspace(self)
        simulator = Simulator(self, workspace, 5, ["--samples"], pacing=("--interval", "300"))
        monitor = subprocess.Popen([ARGS.monitor, "--port", "5", "--timeout", "30"], cwd=workspace.path,
                                   env=workspace.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(monitor.kill)
        header_and_rows = [monitor.stdout.readline() for _ in range(SAMPLE_ITEMS + 1)]
        self.assertTrue(header_and_rows[-1].startswith(b"    9"), header_and_rows)
        monitor.send_signal(signal.SIGINT)
        out, err = monitor.communicate(timeout=10)
        self.assertEqual((monitor.returncode, out), (0, b""), text(err))
        self.assertEqual(self.assert_counted(text(err).splitlines(), 5, SAMPLE_TELEGRAMS, SAMPLE_ACKS),
                         opened_notes(workspace, 5))
        self.assert_samples_acknowledged(simulator.report())

    def test_settings_the_monitor_applied_and_a_quiet_run(self):
        # A value followed by anything else, here an inline comment, is no
        # number and gives the default; a byte-order mark is skipped. The
        # settings line is what the line took: a pseudo-terminal keeps 8 data
        # bits without parity, and a rate it does not know leaves the one it
        # had. A value its key has no meaning for is named with what the line
        # stays at, whatever the key; the trace gives the values as written.
        cases = [
            ("[RecNr1]\r\nBaud=9600 ; bits per second\r\nDataBit=8\r\nParity=2\r\nStopBit=2\r\nFlowCtrl=1\r\n",
             "300 baud, 8 data bits, no parity, 2 stop bits, XON/XOFF flow control",
             ["Parity=2: this line does not support that; it stays at no parity",
              'default Baud=300: not a number: "9600 ; bits per second"'],
             "300 baud, 8 data bits, even parity, 2 stop bits, XON/XOFF flow control"),
            ("\ufeff[RecNr1]\r\nBaud=9600\r\n", "9600 baud, 8 data bits, no parity, 1 stop bit, no flow control",
             ["DataBit=7: this line does not support that; it stays at 8 data bits",
              "default DataBit=7, Parity=0, StopBit=0, FlowCtrl=0: missing key in [RecNr1]"],
             "9600 baud, 7 data bits, no parity, 1 stop bit, no flow control"),
            ("[RecNr1]\r\nBaud=12345\r\nDataBit=9\r\nParity=7\r\nStopBit=5\r\nFlowCtrl=9\r\n",
             "9600 baud, 8 data bits, no parity, 1 stop bit, no flow control",
             ["Baud=12345: this line does not support that rate; it stays at 9600 baud",
              "DataBit=9: out of range (5 to 8); it stays at 8 data bits",
              "Parity=7: out of range (0 to 4); it stays at no parity",
              "StopBit=5: out of range (0 to 2); it stays at 1 stop bit",
              "FlowCtrl=9: out of range (0 to 2); it stays at no flow control"],
             "12345 baud, 9 data bits, parity 7, stop bits 5, flow control 9"),
            ("[RecNr1]\r\nBaud=-9600\r\nDataBit=263\r\nStopBit=-1\r\nFlowCtrl=99999999999\r\n",
             "9600 baud, 8 data bits, no parity, 1 stop bit, no flow control",
             ["Baud=-9600: out of range (at least 1); it stays at 9600 baud",
              "DataBit=263: out of range (5 to 8); it stays at 8 data bits",
              "StopBit=-1: out of range (0 to 2); it stays at 1 stop bit",
              'default FlowCtrl=0: out of range: "99999999999"',
              "default Parity=0: missing key in [RecNr1]"],
             "-9600 baud, 263 data bits, no parity, stop bits -1, no flow control"),
        ]
        for ini, settings, notes, asked in cases:
            with self.subTest(ini=ini):
                workspace = Workspace(self)
                workspace.file("Rn.ini", ini)
                line = QuietLine(self, workspace, 11)
                attrs = termios.tcgetattr(line.slave)
                attrs[4] = attrs[5] = termios.B9600  # what the line had before
                termios.tcsetattr(line.slave, termios.TCSANOW, attrs)
                trace = os.path.join(workspace.path, "trace.txt")
                result = run([ARGS.monitor, "--port", "11", "--timeout", "0.5"], cwd=workspace.path,
                             env=dict(workspace.env, ZENTROK_TRACE=trace))
                self.assertEqual((result.returncode, result.stdout), (0, b""))
                self.assertEqual(self.assert_counted(text(result.stderr).splitlines(), 11, 0, 0),
                                 opened_notes(workspace, 11, settings, notes)
                                 + ["zentrok-monitor: nothing arrived within 0.5 s"])
                # (A pseudo-terminal may refuse the driver's second configure, which the trace says first.)
                events = [event for event in trace_events(trace, 11) if not event.startswith("configure failed")]
                self.assertEqual(events[1].split("; the device reports ")[0],
                                 "line settings of RecNr1: asked " + asked)
                self.assertEqual(events[2:-1], [note for note in notes if "out of range" in note
                                                or "not a number" in note])

    def test_monitor_says_when_the_device_goes_away(self):
        # The device does not come back: the monitor waits for it until its
        # time-out and then says it is still away (exit status 1).
        workspace = Workspace(self)
        line = QuietLine(self, workspace, 12)
        monitor, notes = self.start_monitor(workspace, 12, "--timeout", "3")
        self.assertEqual(notes, opened_notes(workspace, 12))
        # The terminal's number may go to another program's terminal, so
        # the link goes too, as the node of a pulled adapter does.
        line.hang_up()
        os.unlink(line.link)
        self.assertEqual(text(monitor.stderr.readline()), "zentrok-monitor: the device %s has gone away after 0 items; "
                         "the port waits for it to come back\n" % line.link)
        out, err = monitor.communicate(timeout=10)
        self.assertEqual((monitor.returncode, out), (1, b""))
        notes = self.assert_counted(text(err).splitlines(), 12, 0, 0)
        self.assertEqual(len(notes), 2, notes)
        self.assertRegex(notes[0], r"^zentrok-monitor: the device %s is still away, for \d+\.\d s$"
                         % re.escape(line.link))
        self.assertEqual(notes[1], "zentrok-monitor: nothing arrived within 3 s")

    def test_monitor_receives_again_after_the_simulator_is_stopped_and_started_again(self):
        workspace = Workspace(self)
        notes = self.assert_heard_again(workspace, 13, os.path.join(workspace.path, "COM13"))
        self.assertEqual(notes, opened_notes(workspace, 13))

    def test_monitor_says_when_telegrams_are_not_logged(self):
        # Without the log folder the driver logs nothing, as it always has;
        # one that goes away while the port is open costs lines as well.
        missing = "the log folder Qenlog in the current directory: it does not exist"
        for removed_later in (False, True):
            with self.subTest(removed_later=removed_later):
                workspace = Workspace(self)
                folder = os.path.join(workspace.path, "Qenlog")
                if not removed_later:
                    os.rmdir(folder)
                line = QuietLine(self, workspace, 14)
                monitor, notes = self.start_monitor(workspace, 14, "--count", "2", "--timeout", "15")
                expected = opened_notes(workspace, 14)
                if not removed_later:
                    expected.insert(-1, "zentrok-monitor: %s; telegrams are not logged" % missing)
                self.assertEqual(notes, expected)
                self.assertEqual(line.exchange(b"107A      3F2C XB123"), ACK)
                if removed_later:
                    shutil.rmtree(folder)
                self.assertEqual(line.exchange(b"108A      3F2C YC456"), ACK)
                out, err = monitor.communicate(timeout=10)
                self.assertEqual((monitor.returncode, len(text(out).splitlines())), (0, 3), text(err))
                later = self.assert_counted(text(err).splitlines(), 14, 2, 2, not_logged=1 if removed_later else 2)
                self.assertEqual(later, ["zentrok-monitor: log lines not written: 1 so far; " + missing]
                                 if removed_later else [])

    def test_count_finishes_the_telegram_under_way(self):
        # Item 7 is the first queued entry of telegram 7: the monitor takes
        # the second one too, so that telegram is acknowledged. The monitor
        # then closes, and the simulator exits 1 for the telegrams after it.
        workspace = Workspace(self)
        simulator = Simulator(self, workspace, 9, ["--samples"], pacing=("--ack-timeout", "1000"))
        result = run([ARGS.monitor, "--port", "9", "--count", "7", "--timeout", "15"], cwd=workspace.path,
                     env=workspace.env)
        self.assertEqual(result.returncode, 0, text(result.stderr))
        self.assertEqual(with_year_placeholder(text(result.stdout)), "".join(SAMPLE_ROWS.splitlines(True)[:9]))
        report = simulator.report(status=1)
        self.assertRegex(report, r'telegram 7 \(line 11\): sent "S071#[^"]*" \(\d+ bytes\); ACKs 1/1 in')
        self.assertRegex(report, r"telegrams not ACKed:   [1-9]")
        self.assertIn("zentrok-sim: not every telegram was acknowledged as expected", report)

    def test_host_minimal_with_telegrams_at_fixed_intervals(self):
        workspace = Workspace(self)
        simulator = Simulator(self, workspace, 7, ["--samples"], pacing=("--interval", "200"))
        result = run([ARGS.host_minimal, "7", "1", str(SAMPLE_ITEMS), "15"], cwd=workspace.path, env=workspace.env)
        self.assertEqual(result.returncode, 0, text(result.stderr))
        lines = text(result.stdout).splitlines()
        self.assertEqual(lines[0], "driver ZENTROK (65533, 2, 3)")
        self.assertEqual(lines[2], '2: number 8, channel 10, ident 00003F2C, code " C", text "   Y456", '
                                   "at 28.02. 14:05:09")
        self.assertEqual(lines[-1], "%d items" % SAMPLE_ITEMS)
        self.assertIn("ACKs received:         %d of %d expected" % (SAMPLE_ACKS, SAMPLE_ACKS), simulator.report())

    def test_host_worker_polls_a_port_its_main_thread_opened(self):
        workspace = Workspace(self)
        simulator = Simulator(self, workspace, 10, ["--samples"])
        result = run([ARGS.host_worker, "10", "1", str(SAMPLE_ITEMS), "15"], cwd=workspace.path, env=workspace.env)
        self.assertEqual(result.returncode, 0, text(result.stderr))
        lines = text(result.stdout).splitlines()
        self.assertEqual(lines[0], "port 10 opened on the main thread; a worker thread takes the items")
        self.assertEqual(lines[6:9], [
            '6: number 7, channel 1, ident 00002A4F, code "12", text " HALL A"',
            '7: queued entry, channel 1, ident 00002A4F, code "03", text "   GATE"',
            '8: queued entry, channel 1, ident 00002A4F, code "07", text "      9"',
        ])
        self.assertEqual(lines[-1], "%d items" % SAMPLE_ITEMS)
        self.assert_samples_acknowledged(simulator.report())

    def test_host_ctypes(self):
        if ARGS.no_ctypes:
            self.skipTest("the library is built with a sanitizer")
        workspace = Workspace(self)
        simulator = Simulator(self, workspace, 8, ["--samples"])
        env = dict(workspace.env, ZENTROK_LIBRARY=ARGS.library)
        result = run([sys.executable, os.path.join(ARGS.examples, "host_ctypes.py"), "--port", "8",
                      "--count", str(SAMPLE_ITEMS), "--timeout", "15"], cwd=workspace.path, env=env)
        self.assertEqual(result.returncode, 0, text(result.stderr))
        lines = text(result.stdout).splitlines()
        self.assertEqual(lines[0], "driver ZENTROK (65533, 2, 3)")
        self.assertEqual(lines[7], "7: queued entry, channel 1, ident 00002A4F, code '03', text '   GATE'")
        self.assertEqual(lines[-1], "%d items" % SAMPLE_ITEMS)
        self.assert_samples_acknowledged(simulator.report())


class WineTest(SampleChecks, unittest.TestCase):
    """zentrok-monitor.exe under Wine, with the simulator on a pseudo-terminal
    linked into the Wine prefix."""

    def monitor(self, workspace, *options, env=None):
        return run_monitor(list(options), cwd=workspace.path, env=env or workspace.env)

    def free_port(self):
        for number in range(60, 256):
            if not os.path.lexists(os.path.join(ARGS.wine_prefix, "dosdevices", "com%d" % number)):
                return number
        self.fail("no free COM number in the Wine prefix")

    def test_monitor_receives_telegrams_sent_a_byte_at_a_time(self):
        workspace = Workspace(self)
        workspace.file("Rn.ini", "[RecNr1]\r\nBaud=12345\r\nDataBit=8\r\n")
        trace = os.path.join(workspace.path, "trace.txt")
        port = self.free_port()
        simulator = Simulator(self, workspace, port, ["--samples"], pacing=("--ack-timeout", "3000", "--byte-delay", "1"),
                              wine_prefix=ARGS.wine_prefix)
        result = self.monitor(workspace, "--port", str(port), "--count", str(SAMPLE_ITEMS), "--timeout", "60",
                              env=dict(workspace.env, ZENTROK_TRACE=windows_path(trace)))
        notes = text(result.stderr).splitlines()
        self.assertEqual(result.returncode, 0, notes)
        self.assertEqual(with_year_placeholder(text(result.stdout)), SAMPLE_ROWS)
        self.assert_samples_acknowledged(simulator.report())
        device = "\\\\.\\COM%d" % port
        self.assertRegex(notes[0], r"^zentrok-monitor: COM%d = %s, RecNr1: \d+ baud, 8 data bits, no parity, 1 stop "
                                   r"bit, no flow control$" % (port, re.escape(device)))
        self.assertRegex(notes[1], r"^zentrok-monitor: Baud=12345: this line does not support that rate; it stays at "
                                   r"\d+ baud$")
        events = trace_events(trace, port)
        self.assertEqual(events[0], "opened " + device)
        self.assertRegex(events[1], r"^line settings of RecNr1: asked 12345 baud, .*; differs: Baud$")
        self.assertRegex(events[-1], r"^closed in \d+ ms$")

    def test_monitor_receives_again_after_the_simulator_is_stopped_and_started_again(self):
        port = self.free_port()
        notes = self.assert_heard_again(Workspace(self), port, "\\\\.\\COM%d" % port, ARGS.wine_prefix)
        self.assertEqual(notes[-1], "zentrok-monitor: listening on COM%d; Ctrl-C closes the port" % port)

    def test_list_shows_the_linked_port(self):
        workspace = Workspace(self)
        port = self.free_port()
        Simulator(self, workspace, port, ["--samples"], wine_prefix=ARGS.wine_prefix)
        link = windows_path(os.path.join(ARGS.wine_prefix, "dosdevices", "com%d" % port))
        result = self.monitor(workspace, "--list", env=dict(workspace.env, WINEPREFIX=ARGS.wine_prefix))
        self.assertEqual(result.returncode, 0, text(result.stderr))
        self.assertIn("%-6s  \\\\.\\COM%d -> Wine link %s  (free)" % ("COM%d" % port, port, link),
                      text(result.stdout).splitlines())


# Fields of QenLineState and their offsets, as zentrok.h lays the record out.
LINE_STATE_OFFSETS = [("DevicePresent", 4), ("BaudRate", 16), ("ByteSize", 20), ("SettingsKnown", 23), ("Flags", 24),
                      ("Telegrams", 28), ("LogLinesNotWritten", 52)]


def sample_items():
    """SAMPLE_ROWS as the binding hosts print items: item|number|channel|ident|code|text|stamp|queued."""
    row = re.compile(r' *(\d+) +(\S+) +(\d+) +([0-9A-F]{8}) +"(.*)" +"(.*)" +(-|\S+ \S+) +(yes|no)$')
    return ["|".join(row.match(line).groups()) for line in SAMPLE_ROWS.splitlines()[1:]]


def required_tool(case, name, package):
    """The path of a compiler or runtime; without it the test is skipped, or
    fails under CI."""
    path = shutil.which(name)
    if path:
        return path
    why = "%s is not installed (Debian package %s)" % (name, package)
    if os.environ.get("CI") == "true":
        case.fail(why + "; under CI every binding test must run")
    case.skipTest(why)


class BindingsTest(SampleChecks, unittest.TestCase):
    """Each binding's record layout, then the simulator's samples through it;
    then its section of the README: the declarations shown there are the
    binding's, and its example, built as it stands, takes the simulator's
    first sample from COM3."""

    NAME_AND_SYSTEM_LINES = ["driver ZENTROK (65533, 2, 3)", "system lines: mask 1, entry 5 FF, value 2"]
    LINE_STATE_LAYOUT = "line state layout: size 56, " + ", ".join("%s %d" % field for field in LINE_STATE_OFFSETS)
    # The open port at the first queued entry, while the device waits for the
    # ACK of the seventh telegram (Rn.ini asks for 9600 baud, 8 data bits);
    # then a record one byte too small and the closed port.
    LINE_STATE_LINES = ["line state 1: size 56, device present 1, away 0 ms, telegrams %d, 9600 baud, 8 data bits, "
                        "settings known 1" % FIRST_QUEUED_TELEGRAM,
                        "line state of a record too small: 0, untouched", "line state after the close: 0, untouched"]
    PASCAL_COMMENTS = r"\{.*?\}|\(\*.*?\*\)|//[^\n]*"
    CSHARP_COMMENTS = r"//[^\n]*|/\*.*?\*/"

    def readme_example(self, title, language, file_name):
        """The section's last block of the language, written to a workspace as `file_name`."""
        workspace = Workspace(self)
        with open(os.path.join(workspace.path, file_name), "w") as f:
            f.write(doc_blocks.blocks(ARGS.readme, title, language)[-1])
        return workspace

    def assert_readme_declarations(self, title, language, sources, comments):
        source = ""
        for path in sources:
            with open(path) as f:
                source += f.read()
        shown = doc_blocks.blocks(ARGS.readme, title, language)[0]
        self.assertEqual(doc_blocks.undeclared(shown, source, comments), [],
                         "the README's %s declarations that the binding does not hold" % title)

    def assert_readme_example_output(self, workspace, command, expected):
        Simulator(self, workspace, 3, ["--samples"])
        env = dict(workspace.env, LD_LIBRARY_PATH=os.path.dirname(ARGS.library), ZENTROK_LIBRARY=ARGS.library,
                   PYTHONPATH=os.path.join(ARGS.bindings, "python"))
        result = run(command, cwd=workspace.path, env=env)
        print(text(result.stdout), file=sys.stderr)  # what the example printed, for `ctest -V`
        self.assertEqual((result.returncode, text(result.stdout).splitlines()), (0, expected), text(result.stderr))

    def assert_host_output(self, workspace, command, layout):
        simulator = Simulator(self, workspace, 10, ["--samples"])
        env = dict(workspace.env, LD_LIBRARY_PATH=os.path.dirname(ARGS.library))
        result = run(command + ["10", str(SAMPLE_ITEMS), "15"], cwd=workspace.path, env=env)
        self.assertEqual(result.returncode, 0, text(result.stderr))
        print(text(result.stdout), file=sys.stderr)  # what the host received, for `ctest -V`
        lines = with_year_placeholder(text(result.stdout)).splitlines()
        self.assertEqual(lines[0:2], [layout, self.LINE_STATE_LAYOUT])
        self.assertEqual(lines[2:4], self.NAME_AND_SYSTEM_LINES)
        self.assertEqual(lines[4:], sample_items() + self.LINE_STATE_LINES + ["%d items" % SAMPLE_ITEMS])
        self.assert_samples_acknowledged(simulator.report())

    def test_pascal(self):
        fpc = required_tool(self, "fpc", "fpc")
        unit = os.path.join(ARGS.bindings, "pascal")

        def build(workspace, program):
            done = run([fpc, "-vew", "-Fu" + unit, "-FU" + workspace.path, "-FE" + workspace.path,
                        "-Fl" + os.path.dirname(ARGS.library), program], timeout=60)
            self.assertEqual(done.returncode, 0, text(done.stdout) + text(done.stderr))
        workspace = Workspace(self)
        build(workspace, os.path.join(ARGS.binding_hosts, "pascal_host.pas"))
        self.assert_host_output(workspace, [os.path.join(workspace.path, "pascal_host")],
                                "layout: size 44, Number 0, Channel 4, Ident 8, Code 12 (capacity 2), "
                                "Text 15 (capacity 7), Stamp 24 (size 16), Note 40 (size 4)")

        self.assert_readme_declarations("Pascal", "pascal", [os.path.join(unit, "zentrok.pas")],
                                        self.PASCAL_COMMENTS)
        example = self.readme_example("Pascal", "pascal", "host.pas")
        build(example, os.path.join(example.path, "host.pas"))
        self.assert_readme_example_output(example, [os.path.join(example.path, "host")],
                                          ["ZENTROK 65533 2 3", '" B" "   X123" queued entry: FALSE'])

    def test_dotnet(self):
        mcs = required_tool(self, "mcs", "mono-mcs")
        mono = required_tool(self, "mono", "mono-runtime")
        workspace = Workspace(self)
        host = os.path.join(workspace.path, "dotnet_host.exe")
        sources = sorted(os.path.join(ARGS.bindings, "dotnet", name)
                         for name in os.listdir(os.path.join(ARGS.bindings, "dotnet")) if name.endswith(".cs"))
        build = run([mcs, "-out:" + host, os.path.join(ARGS.binding_hosts, "dotnet_host.cs")] + sources, timeout=60)
        self.assertEqual(build.returncode, 0, text(build.stdout) + text(build.stderr))
        self.assert_host_output(workspace, [mono, host],
                                "layout: size 44, Number 0, Channel 4, Ident 8, Code 12 (size 3), "
                                "Text 15 (size 8), Stamp 24 (size 16), Note 40")

        self.assert_readme_declarations("C#", "csharp", sources, self.CSHARP_COMMENTS)
        example = self.readme_example("C#", "csharp", "host.cs")
        host = os.path.join(example.path, "host.exe")
        build = run([mcs, "-out:" + host, os.path.join(example.path, "host.cs")] + sources, timeout=60)
        self.assertEqual(build.returncode, 0, text(build.stdout) + text(build.stderr))
        self.assert_readme_example_output(example, [mono, host],
                                          ["ZENTROK (65533, 2, 3)", '" B" "   X123" queued entry: False'])

    def test_python(self):
        # In this process: the driver and the package are loaded here.
        sys.path.insert(0, os.path.join(ARGS.bindings, "python"))
        import zentrok
        library = zentrok.load(ARGS.library)
        self.assertEqual(ctypes.sizeof(zentrok.QenMsg), 44)
        self.assertEqual({name: getattr(zentrok.QenMsg, name).offset for name in
                          ("Number", "Channel", "Ident", "Code", "Text", "Stamp", "Note")},
                         {"Number": 0, "Channel": 4, "Ident": 8, "Code": 12, "Text": 15, "Stamp": 24, "Note": 40})
        self.assertEqual(ctypes.sizeof(zentrok.QenLineState), 56)
        self.assertEqual({name: getattr(zentrok.QenLineState, name).offset for name, _ in LINE_STATE_OFFSETS},
                         dict(LINE_STATE_OFFSETS))
        self.assertEqual(zentrok.name(), ("ZENTROK", 65533, 2, 3))
        state = zentrok.apply_system_line("   A 03")
        self.assertEqual(zentrok.apply_system_line(b"   R E5", state.mask, state.table),
                         (1, bytes(4) + b"\xff" + bytes(9), 2))
        with self.assertRaises(ValueError):  # its length would not fit the length byte
            zentrok.apply_system_line("x" * 256)

        workspace = Workspace(self)
        simulator = Simulator(self, workspace, 10, ["--samples"])
        cwd = os.getcwd()
        os.chdir(workspace.path)  # Rn.ini and Qenlog
        self.addCleanup(os.chdir, cwd)
        with mock.patch.dict(os.environ, ZENTROK_PORT_DIR=workspace.path), zentrok.Port(10) as port:
            items, state = [], None
            for _ in range(SAMPLE_ITEMS):
                items.append(port.wait(5))
                # While its telegram is handed over, the device waits for the ACK.
                if items[-1] and items[-1].queued and state is None:
                    state = port.line_state()
            self.assertEqual((state.Size, state.DevicePresent, state.AwayMs, state.Telegrams),
                             (56, 1, 0, FIRST_QUEUED_TELEGRAM))
            self.assertEqual((state.BaudRate, state.ByteSize, state.SettingsKnown), (9600, 8, 1))
            self.assertLess(state.SinceTelegramMs, 10000)
            start = time.monotonic()
            self.assertIsNone(port.wait(0.3))
            self.assertTrue(0.3 <= time.monotonic() - start < 2)
            state = port.line_state()
            self.assertEqual((state.Telegrams, state.AcksSent, state.Withdrawn), (SAMPLE_TELEGRAMS, SAMPLE_ACKS, 0))
            too_small = zentrok.QenLineState(Size=55, Telegrams=0xA5A5A5A5)
            before = bytes(too_small)
            self.assertEqual(library.qen_GetLineState(port._handle, ctypes.byref(too_small)), 0)
            self.assertEqual(bytes(too_small), before)
            closed_handle = port._handle
        self.assertTrue(port.closed)
        with self.assertRaises(ValueError):
            port.wait()
        with self.assertRaises(ValueError):
            port.line_state()
        port.close()

        self.assertNotIn(None, items)
        rows = ["|".join([str(index), "-" if item.queued else str(item.number), str(item.channel),
                          "%08X" % item.ident, item.code, item.text,
                          item.stamp.strftime("%Y-%m-%d %H:%M:%S") if item.stamp else "-",
                          "yes" if item.queued else "no"]) for index, item in enumerate(items, 1)]
        print("\n".join(rows), file=sys.stderr)  # what the package received, for `ctest -V`
        self.assertEqual(with_year_placeholder("\n".join(rows)).splitlines(), sample_items())
        self.assert_samples_acknowledged(simulator.report())

        self.assert_port_errors_say_why(zentrok)
        self.assert_library_errors_say_what_was_tried()

        example = self.readme_example("Python", "python", "host.py")
        self.assert_readme_example_output(example, [sys.executable, os.path.join(example.path, "host.py")],
                                          ["DriverName(name='ZENTROK', info1=65533, info2=2, info3=3)",
                                           " B    X123 7 None"])

        # A handle that is not an open port: nothing delivered, the records untouched.
        record = zentrok.QenMsg(Number=42)
        state = zentrok.QenLineState(Size=ctypes.sizeof(zentrok.QenLineState), Telegrams=42)
        before = bytes(record) + bytes(state)
        for handle in (None, 0x1000, closed_handle):
            self.assertEqual(library.qen_GetMsg(handle, ctypes.byref(record)), 0)
            self.assertEqual(library.qen_GetLineState(handle, ctypes.byref(state)), 0)
            self.assertEqual(library.qen_CloseComm(handle), 0)
        self.assertEqual(bytes(record) + bytes(state), before)


    def assert_port_errors_say_why(self, zentrok):
        workspace = Workspace(self)
        workspace.file("COM5", "a plain file")
        master, slave = os.openpty()  # a terminal another program holds the lock of
        self.addCleanup(os.close, master)
        self.addCleanup(os.close, slave)
        fcntl.flock(slave, fcntl.LOCK_EX)
        os.symlink(os.ttyname(slave), os.path.join(workspace.path, "COM6"))
        QuietLine(self, workspace, 7)
        device = lambda port: os.path.join(workspace.path, "COM%d" % port)
        cases = [(42, device(42) + ": it does not exist"), (5, device(5) + ": it is not a terminal device"),
                 (6, device(6) + ": it is in use by another program"),
                 (7, device(7) + ": this process has port 7 open already")]
        with mock.patch.dict(os.environ, ZENTROK_PORT_DIR=workspace.path), zentrok.Port(7):
            for port, why in cases:
                with self.subTest(port=port), self.assertRaises(zentrok.PortError) as raised:
                    zentrok.Port(port)
                self.assertEqual(str(raised.exception), "port %d did not open: %s" % (port, why))

    def assert_library_errors_say_what_was_tried(self):
        load = "import zentrok; zentrok.load()"
        env = {k: v for k, v in os.environ.items() if k not in ("ZENTROK_LIBRARY", "LD_LIBRARY_PATH")}
        env["PYTHONPATH"] = os.path.join(ARGS.bindings, "python")
        missing = os.path.join(tempfile.gettempdir(), "no-such-dir", "libzentrok.so")
        for extra, named in (({}, ["libzentrok.so", "ZENTROK_LIBRARY"]),
                             ({"ZENTROK_LIBRARY": missing}, [missing, "$ZENTROK_LIBRARY"])):
            result = run([sys.executable, "-c", load], env=dict(env, **extra))
            self.assertNotEqual(result.returncode, 0)
            last = text(result.stderr).strip().splitlines()[-1]
            self.assertTrue(last.startswith("zentrok._native.LibraryError: "), last)
            for name in named:
                self.assertIn(name, last)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for option in ("--monitor", "--sim", "--host-minimal", "--host-worker", "--library", "--examples", "--data",
                   "--bindings", "--binding-hosts", "--project-version", "--readme", "--wine-run", "--wine-prefix",
                   "--dll-dir"):
        parser.add_argument(option)
    parser.add_argument("--no-ctypes", action="store_true")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], "-v"] + rest)


if __name__ == "__main__":
    main()
