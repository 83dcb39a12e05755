#!/usr/bin/env python3
"""Runs a Windows program under wine against the simulated sensor on a COM port.

  wine_sim_run.py --prefix DIR --sim PATH [--sim-arg ARG]... -- PROGRAM [ARG]...

Starts varnel-sensor-sim on a pseudo-terminal and maps a free COM<n> of the wine
prefix to the link the simulator publishes (the link follows an unplug and replug,
so the port comes back under the same name). The mapping is what wine itself
would make: the value COM<n> under HKLM\\Software\\Wine\\Ports, an entry under
HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM (where the port list is read), and the
prefix's dosdevices/com<n> entry. Wine turns the Ports key into that entry only as it
starts up; an entry made here is followed at once, so no restart is needed.

PROGRAM runs through cmake/wine-run.sh with the port name in VARNEL_TEST_PORT and
in place of every "{port}" in its arguments. While it runs, a line
"@sim COMMAND" it prints goes to the simulator's control input, and the
simulator's answer (one line, empty when none came within 10 s) is written to
the program's standard input; every other line is passed on.

The mapping and the simulator are removed afterwards, also on SIGINT and SIGTERM.
Tests may run side by side: each takes its COM number under a lock of its own.
Exit status: the program's; 77 (skipped) when the simulator has not been built.
"""

import argparse
import fcntl
import os
import queue
import signal
import subprocess
import sys
import tempfile
import threading
import time

SKIPPED = 77
FIRST_COM, LAST_COM = 20, 89  # tests that need a port that is absent use numbers outside this
ANSWER_TIMEOUT_S = 10.0
START_TIMEOUT_S = 10.0
WINE_RUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "cmake", "wine-run.sh")


class Interrupted(Exception):
    pass


def on_signal(signum, _frame):
    raise Interrupted(signal.Signals(signum).name)


class Simulator:
    """varnel-sensor-sim as a child: its output lines in one queue, tagged by stream."""

    def __init__(self, path, name, extra_args):
        self.proc = subprocess.Popen(
            [path, "--name", name, "--exit-with-parent"] + extra_args,
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.lines = queue.Queue()
        for stream, tag in ((self.proc.stdout, "out"), (self.proc.stderr, "err")):
            threading.Thread(target=self._pump, args=(stream, tag), daemon=True).start()

    def _pump(self, stream, tag):
        for raw in stream:
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            if tag == "err":
                print("sim: " + line, file=sys.stderr, flush=True)
            self.lines.put((tag, line))
        self.lines.put((tag, None))

    def next_line(self, deadline):
        try:
            return self.lines.get(timeout=max(0.0, deadline - time.monotonic()))
        except queue.Empty:
            return None, None

    def wait_for_link(self):
        deadline = time.monotonic() + START_TIMEOUT_S
        while time.monotonic() < deadline:
            tag, line = self.next_line(deadline)
            if line is not None and tag == "out" and line.startswith("link "):
                return line[len("link "):]
            if line is None and tag is not None and self.proc.poll() is not None:
                break
        return None

    def ask(self, command):
        """Sends one control command; answers its reply line, or "" when none came."""
        try:
            self.proc.stdin.write((command + "\n").encode())
            self.proc.stdin.flush()
        except OSError:
            return ""
        deadline = time.monotonic() + ANSWER_TIMEOUT_S
        while time.monotonic() < deadline:
            tag, line = self.next_line(deadline)
            if line is None:
                continue
            # A replug announces its new pseudo-terminal before its "ok".
            if tag == "out" and not line.startswith(("pty ", "link ")):
                return line
            if tag == "err" and "error: " in line:
                return line[line.find("error: "):]
        return ""

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def take_com_number(prefix):
    """Locks and answers a COM number no other run on this prefix holds, with its lock file."""
    start = FIRST_COM + os.getpid() % (LAST_COM - FIRST_COM + 1)
    span = LAST_COM - FIRST_COM + 1
    for i in range(span):
        n = FIRST_COM + (start - FIRST_COM + i) % span
        lock = open(f"{prefix}.com{n}.lock", "w")
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return n, lock
        except OSError:
            lock.close()
    raise RuntimeError(f"every COM number from {FIRST_COM} to {LAST_COM} is taken")


def reg_text(value):
    return value.replace("\\", "\\\\").replace('"', '\\"')


def wine_reg_import(prefix, lines):
    """Imports registry lines through the running server (one wine start)."""
    with tempfile.NamedTemporaryFile("w", suffix=".reg", dir=os.path.dirname(prefix), delete=False) as f:
        f.write("Windows Registry Editor Version 5.00\r\n\r\n" + "\r\n".join(lines) + "\r\n")
        path = f.name
    try:
        # wine-run.sh makes the prefix and starts its server first when needed; Z: is the root.
        result = subprocess.run([WINE_RUN, prefix, "reg", "import", "Z:" + path.replace("/", "\\")],
                                stdin=subprocess.DEVNULL, capture_output=True, text=True)
        if result.returncode != 0:
            raise RuntimeError(f"wine reg import failed ({result.returncode}): {result.stdout}{result.stderr}")
    finally:
        os.unlink(path)


def port_keys(n, link):
    ports = f'"COM{n}"=' + (f'"{reg_text(link)}"' if link else "-")
    # Wine's own name for the n-th port's entry.
    device = reg_text("\\Device\\Serial" + str(n - 1))
    serial = f'"{device}"=' + (f'"COM{n}"' if link else "-")
    return ["[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]", ports, "",
            "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]", serial]


def map_port(prefix, n, link):
    wine_reg_import(prefix, port_keys(n, link))
    entry = os.path.join(prefix, "dosdevices", f"com{n}")
    if os.path.lexists(entry):
        os.unlink(entry)
    os.symlink(link, entry)


def unmap_port(prefix, n):
    entry = os.path.join(prefix, "dosdevices", f"com{n}")
    if os.path.lexists(entry):
        os.unlink(entry)
    wine_reg_import(prefix, port_keys(n, None))


def run_program(prefix, program, port, sim):
    """Runs the program with the control relay; answers its exit status and whether it printed."""
    env = dict(os.environ, VARNEL_TEST_PORT=port, VARNEL_WINE_RUN_DIRECT="1")
    proc = subprocess.Popen([WINE_RUN, prefix] + program, stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env)
    printed = False
    done = threading.Event()

    def relay():
        nonlocal printed
        for raw in proc.stdout:
            printed = True
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            if line.startswith("@sim "):
                answer = sim.ask(line[len("@sim "):])
                try:
                    proc.stdin.write((answer + "\n").encode())
                    proc.stdin.flush()
                except OSError:
                    pass
            else:
                print(line, flush=True)
        done.set()

    threading.Thread(target=relay, daemon=True).start()
    try:
        status = proc.wait()
    except BaseException:
        proc.kill()
        proc.wait()
        raise
    # A wine server started by this program would keep the pipe open for its life:
    # take what is left for a moment, not until it ends.
    done.wait(timeout=2)
    return status, printed


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--prefix", required=True, help="the build's wine prefix")
    parser.add_argument("--sim", required=True, help="the (Linux) varnel-sensor-sim")
    parser.add_argument("--sim-arg", action="append", default=[], help="an option for the simulator")
    parser.add_argument("program", nargs="+", help="the Windows program and its arguments")
    args = parser.parse_args()

    if not os.access(args.sim, os.X_OK):
        print(f"skipped: no simulator at {args.sim} (build varnel-sensor-sim in the default build)", flush=True)
        return SKIPPED
    prefix = os.path.abspath(args.prefix)
    os.makedirs(os.path.dirname(prefix), exist_ok=True)
    for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(s, on_signal)

    n, lock = take_com_number(prefix)
    port = f"COM{n}"
    sim = Simulator(args.sim, f"wine-{os.getpid()}", args.sim_arg)
    mapped = False
    try:
        link = sim.wait_for_link()
        if not link:
            print("wine_sim_run: the simulator published no port", file=sys.stderr)
            return 1
        map_port(prefix, n, link)
        mapped = True
        program = [a.replace("{port}", port) for a in args.program]
        # Now and then wine ends a program before it has run a line of it, printing
        # nothing; a test program always prints, so such an end is wine's: once more.
        for attempt in (1, 2):
            status, printed = run_program(prefix, program, port, sim)
            if status == 0 or printed:
                break
            print(f"wine_sim_run: {program[0]} ended with status {status} before printing anything "
                  f"(attempt {attempt})", file=sys.stderr, flush=True)
        return status
    except Interrupted as e:
        print(f"wine_sim_run: stopped by {e}", file=sys.stderr, flush=True)
        return 1
    finally:
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        sim.stop()
        if mapped:
            unmap_port(prefix, n)
        lock.close()


if __name__ == "__main__":
    sys.exit(main())
