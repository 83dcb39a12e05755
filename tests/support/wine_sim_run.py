#!/usr/bin/env python3
"""Runs a Windows program under wine against the simulated sensor on a COM port.

  wine_sim_run.py --prefix DIR --sim PATH [--sim-arg ARG]... [--sim-on-request] -- PROGRAM [ARG]...

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

A line "@simctl REQUEST" steers the simulator itself (fields separated by tabs;
tests/support/SimProcessWine.cpp is the other end):
  start<TAB>OPTION...             (re)starts it with these options under the same
                                  link name, so the COM port stays valid; answers
                                  "ok COM<n>" once its link is up, or "error: ..."
  stop                            stops it; answers "ok"
  send<TAB>COMMAND                a control command; answers "ok"
  ask<TAB>MS<TAB>PREFIX<TAB>COMMAND  sends COMMAND and waits up to MS ms for an
                                  output line after it starting with PREFIX:
                                  answers "+LINE", or "-" when none came
  wait<TAB>MS<TAB>PREFIX          the same for any line of its output so far
  lines<TAB>FROM                  its output lines from number FROM on: a line
                                  with their count, then the lines
With --sim-on-request no simulator runs until the first "start", and the port is
mapped then; a program that asks for it when it has not been built is reported
skipped, whatever its own status. A run that only lists the program's tests (--gtest_list_tests)
starts no simulator and maps no port.

The mapping and the simulator are removed afterwards, also on SIGINT and SIGTERM.
Tests may run side by side: each takes its COM number under a lock of its own.
Exit status: the program's; 77 (skipped) when the simulator has not been built
(with --sim-on-request: and the program asked for it).
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
    """varnel-sensor-sim as a child: its output lines kept, in order, as they come."""

    def __init__(self, path, name, extra_args):
        self.proc = subprocess.Popen(
            [path, "--name", name, "--exit-with-parent"] + extra_args,
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.changed = threading.Condition()
        self.out = []        # standard output lines; guarded by changed
        self.errors = []     # (standard output lines before it, error line); guarded by changed
        self.open_streams = 2  # guarded by changed
        for stream, tag in ((self.proc.stdout, "out"), (self.proc.stderr, "err")):
            threading.Thread(target=self._pump, args=(stream, tag), daemon=True).start()

    def _pump(self, stream, tag):
        for raw in stream:
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            if tag == "err":
                print("sim: " + line, file=sys.stderr, flush=True)
            with self.changed:
                if tag == "out":
                    self.out.append(line)
                elif "error: " in line:
                    self.errors.append((len(self.out), line[line.find("error: "):]))
                self.changed.notify_all()
        with self.changed:
            self.open_streams -= 1
            self.changed.notify_all()

    def _wait(self, found, timeout_s):
        """Waits until found() answers something (under the lock), the output ends, or the time is up."""
        deadline = time.monotonic() + timeout_s
        with self.changed:
            while True:
                answer = found()
                if answer is not None or self.open_streams == 0:
                    return answer
                left = deadline - time.monotonic()
                if left <= 0:
                    return None
                self.changed.wait(left)

    def line_count(self):
        with self.changed:
            return len(self.out)

    def lines(self, first):
        with self.changed:
            return self.out[first:]

    def wait_for_line(self, prefix, first, timeout_s):
        """The first output line from number first on that starts with prefix, or None."""
        return self._wait(lambda: next((l for l in self.out[first:] if l.startswith(prefix)), None), timeout_s)

    def wait_for_link(self):
        line = self.wait_for_line("link ", 0, START_TIMEOUT_S)
        return line[len("link "):] if line else None

    def send(self, command):
        try:
            self.proc.stdin.write((command + "\n").encode())
            self.proc.stdin.flush()
            return True
        except OSError:
            return False

    def ask(self, command):
        """Sends one control command; answers its reply line, or "" when none came."""
        with self.changed:
            first, first_error = len(self.out), len(self.errors)
        if not self.send(command):
            return ""

        def reply():
            error = self.errors[first_error] if len(self.errors) > first_error else None
            for i in range(first, len(self.out)):
                if error and error[0] <= i:
                    return error[1]
                # A replug announces its new pseudo-terminal before its "ok".
                if not self.out[i].startswith(("pty ", "link ")):
                    return self.out[i]
            return error[1] if error else None
        return self._wait(reply, ANSWER_TIMEOUT_S) or ""

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


class Bench:
    """The simulator behind one COM port: started, restarted under the same name, mapped once."""

    def __init__(self, prefix, sim_path, port_number):
        self.prefix = prefix
        self.sim_path = sim_path
        self.n = port_number
        self.port = f"COM{port_number}"
        self.name = f"wine-{os.getpid()}"
        self.sim = None
        self.mapped = False
        self.missed_simulator = False  # a start was asked for with no simulator built

    def start(self, options):
        """(Re)starts the simulator; answers an error text, or None once its link is up and mapped."""
        if not os.access(self.sim_path, os.X_OK):
            self.missed_simulator = True
            return f"no simulator at {self.sim_path}"
        self.stop()  # the old one takes its link with it before the new one publishes it
        self.sim = Simulator(self.sim_path, self.name, options)
        link = self.sim.wait_for_link()
        if not link:
            return "the simulator published no port"
        if not self.mapped:
            map_port(self.prefix, self.n, link)
            self.mapped = True
        return None

    def stop(self):
        if self.sim:
            self.sim.stop()
            self.sim = None

    def close(self):
        self.stop()
        if self.mapped:
            unmap_port(self.prefix, self.n)
            self.mapped = False

    def control(self, request):
        """Answers one "@simctl" request with the lines to write back."""
        fields = request.split("\t")
        verb, args = fields[0], fields[1:]
        try:
            if verb == "start":
                problem = self.start(args)
                return [f"error: {problem}" if problem else f"ok {self.port}"]
            if verb == "stop":
                self.stop()
                return ["ok"]
            if not self.sim:
                return ["error: no simulator runs"] if verb != "lines" else ["0"]
            if verb == "send" and len(args) == 1:
                return ["ok" if self.sim.send(args[0]) else "error: the simulator has ended"]
            if verb in ("ask", "wait") and len(args) == (3 if verb == "ask" else 2):
                first = self.sim.line_count() if verb == "ask" else 0
                if verb == "ask":
                    self.sim.send(args[2])
                line = self.sim.wait_for_line(args[1], first, int(args[0]) / 1000.0)
                return ["-" if line is None else "+" + line]
            if verb == "lines" and len(args) == 1:
                lines = self.sim.lines(int(args[0]))
                return [str(len(lines))] + lines
        except ValueError:
            pass
        return [f"error: not a request: {request}"]


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


def run_program(prefix, program, port, bench):
    """Runs the program with the control relay; answers its exit status and whether it printed."""
    env = dict(os.environ, VARNEL_TEST_PORT=port, VARNEL_WINE_RUN_DIRECT="1")
    # Standard error goes through a pipe of ours too: a wine process the program
    # starts (the desktop, a service) may keep it open for the wine server's life,
    # and ctest would wait for that.
    proc = subprocess.Popen([WINE_RUN, prefix] + program, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=env)
    printed = False
    done = threading.Event()
    errors_done = threading.Event()

    def pass_errors():
        for raw in proc.stderr:
            sys.stderr.write(raw.decode("utf-8", "replace"))
            sys.stderr.flush()
        errors_done.set()

    def relay():
        nonlocal printed
        for raw in proc.stdout:
            printed = True
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            if line.startswith(("@sim ", "@simctl ")):
                if line.startswith("@sim "):
                    answer = [bench.sim.ask(line[len("@sim "):]) if bench.sim else ""]
                else:
                    answer = bench.control(line[len("@simctl "):])
                try:
                    proc.stdin.write("".join(a + "\n" for a in answer).encode())
                    proc.stdin.flush()
                except OSError:
                    pass
            else:
                print(line, flush=True)
        done.set()

    threading.Thread(target=relay, daemon=True).start()
    threading.Thread(target=pass_errors, daemon=True).start()
    try:
        status = proc.wait()
    except BaseException:
        proc.kill()
        proc.wait()
        raise
    # A wine server started by this program would keep the pipe open for its life:
    # take what is left for a moment, not until it ends.
    done.wait(timeout=2)
    errors_done.wait(timeout=0.5)
    return status, printed


def run_with_retry(prefix, program, port, bench):
    # Now and then wine ends a program before it has run a line of it, printing
    # nothing; a test program always prints, so such an end is wine's: once more.
    for attempt in (1, 2):
        status, printed = run_program(prefix, program, port, bench)
        if status == 0 or printed:
            break
        print(f"wine_sim_run: {program[0]} ended with status {status} before printing anything "
              f"(attempt {attempt})", file=sys.stderr, flush=True)
    return status


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--prefix", required=True, help="the build's wine prefix")
    parser.add_argument("--sim", required=True, help="the (Linux) varnel-sensor-sim")
    parser.add_argument("--sim-arg", action="append", default=[], help="an option for the simulator")
    parser.add_argument("--sim-on-request", action="store_true",
                        help="start the simulator only when the program asks for it (@simctl start)")
    parser.add_argument("program", nargs="+", help="the Windows program and its arguments")
    args = parser.parse_args()
    prefix = os.path.abspath(args.prefix)

    if "--gtest_list_tests" in args.program[1:]:
        # Listing needs neither the simulator nor a port; wine-run.sh retries a silent end itself.
        return subprocess.run([WINE_RUN, prefix] + args.program, stdin=subprocess.DEVNULL).returncode
    no_simulator = f"skipped: no simulator at {args.sim} (build varnel-sensor-sim in the default build)"
    if not args.sim_on_request and not os.access(args.sim, os.X_OK):
        print(no_simulator, flush=True)
        return SKIPPED
    os.makedirs(os.path.dirname(prefix), exist_ok=True)
    for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(s, on_signal)

    n, lock = take_com_number(prefix)
    bench = Bench(prefix, args.sim, n)
    try:
        if not args.sim_on_request:
            problem = bench.start(args.sim_arg)
            if problem:
                print(f"wine_sim_run: {problem}", file=sys.stderr)
                return 1
        program = [a.replace("{port}", bench.port) for a in args.program]
        status = run_with_retry(prefix, program, bench.port, bench)
        if bench.missed_simulator:
            # What failed for want of the simulator proves nothing about the program.
            print(no_simulator, flush=True)
            return SKIPPED
        return status
    except Interrupted as e:
        print(f"wine_sim_run: stopped by {e}", file=sys.stderr, flush=True)
        return 1
    finally:
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        bench.close()
        lock.close()


if __name__ == "__main__":
    sys.exit(main())
