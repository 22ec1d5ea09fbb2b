"""Runs one job (one process, or several side by side) and measures the whole of it: wall time
from the first start to the last exit, CPU time (user + system, the children each process
waited for included) and peak RSS, both summed over the job's processes.

build/bench/run_measured starts each process and reports its CPU time, to the microsecond, and
its peak RSS: a process started from this Python would inherit the interpreter's peak RSS
(Linux carries it across exec), one started by the launcher only the launcher's megabyte or two."""

import contextlib
import os
import signal
import statistics
import subprocess
import threading
import time
from dataclasses import dataclass
from pathlib import Path


RUN_MEASURED = Path(__file__).resolve().parents[2] / "build/bench/run_measured"
RUN_LIMIT = 300  # seconds; a run this long has hung (the largest takes well under a minute)


class Failure(Exception):
    """A run that did not do its job: the scenario's figures would mean nothing."""


@dataclass
class Process:
    argv: list
    stdin: Path = None   # default: /dev/null
    stdout: Path = None  # default: /dev/null
    cwd: Path = None


@dataclass
class Sample:
    wall: float  # seconds
    cpu: float   # seconds
    rss: int     # bytes

    @staticmethod
    def median(samples):
        return Sample(*(statistics.median(getattr(s, f) for s in samples) for f in ("wall", "cpu", "rss")))


def run(processes, run_dir: Path):
    """Runs `processes` at once to their ends; their stderr goes to run_dir/stderr.log."""
    log = run_dir / "stderr.log"
    reports = [run_dir / f"time{i}.txt" for i in range(len(processes))]
    with contextlib.ExitStack() as files:
        def opened(path, mode):
            return files.enter_context(open(path, mode)) if path else subprocess.DEVNULL

        errors = opened(log, "wb")
        streams = [(opened(p.stdin, "rb"), opened(p.stdout, "wb")) for p in processes]
        start = time.monotonic()
        # Each in a session of its own, so that a hung one goes with everything it started.
        children = [subprocess.Popen([RUN_MEASURED, report, *map(str, p.argv)],
                                     cwd=p.cwd, stdin=stdin, stdout=stdout, stderr=errors, start_new_session=True)
                    for p, (stdin, stdout), report in zip(processes, streams, reports)]
        # A blocking wait, with a watchdog for a hung run: a wait with a timeout polls in sleeps of
        # up to 50 ms, which would round each wall time up to the poll that saw the exit.
        hung = threading.Event()

        def kill_all():
            for child in children:
                with contextlib.suppress(ProcessLookupError):
                    os.killpg(child.pid, signal.SIGKILL)

        def kill_hung():
            hung.set()
            kill_all()

        watchdog = threading.Timer(RUN_LIMIT, kill_hung)
        watchdog.start()
        try:
            codes = [child.wait() for child in children]
        except BaseException:  # the benchmark interrupted: leave nothing running
            kill_all()
            for child in children:
                child.wait()
            raise
        finally:
            watchdog.cancel()
        wall = time.monotonic() - start
        if hung.is_set():
            raise Failure(f"still running after {RUN_LIMIT} s, killed; see {log}")
    failed = [f"{p.argv[0]} exited with {code}" for p, code in zip(processes, codes) if code]
    if failed:
        raise Failure("; ".join(failed) + f"; see {log}")
    cpu, rss = 0.0, 0
    for report in reports:
        user, system, kib = report.read_text().split()
        cpu += (int(user) + int(system)) / 1e6
        rss += int(kib) * 1024
    return Sample(wall, cpu, rss)
