"""A Dask scheduler and workers of a test's own, as separate processes on 127.0.0.1, bounded in
time and stopped whatever the test does."""

from __future__ import annotations

import socket
import subprocess
import sys
import threading
from contextlib import contextmanager
from typing import Iterator


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class DaskServices:
    """The scheduler at `address`, its workers, and every other process a test starts beside
    them with `start`."""

    def __init__(self) -> None:
        self.port = free_port()
        self.address = f"tcp://127.0.0.1:{self.port}"
        self.scheduler: subprocess.Popen
        self.workers: list[subprocess.Popen] = []
        self._started: list[subprocess.Popen] = []

    def start(self, *arguments: str, **pipes) -> subprocess.Popen:
        """``python3 -m ARGUMENTS``, its output dropped unless piped; stopped with the
        services."""
        pipes.setdefault("stdout", subprocess.DEVNULL)
        pipes.setdefault("stderr", subprocess.DEVNULL)
        process = subprocess.Popen([sys.executable, "-m", *arguments], text=True, **pipes)
        self._started.append(process)
        return process

    def kill(self) -> None:
        for process in self._started:
            process.kill()

    def stop(self) -> None:
        self.kill()
        for process in self._started:
            process.wait()


@contextmanager
def dask_services(workers: int, timeout_seconds: float) -> Iterator[DaskServices]:
    """A scheduler and `workers` single-threaded workers (no nanny, no dashboard).  Every
    process started, these and the test's own, is killed after `timeout_seconds` or on
    leaving, whichever comes first."""
    services = DaskServices()
    watchdog = threading.Timer(timeout_seconds, services.kill)
    watchdog.start()
    try:
        services.scheduler = services.start(
            "distributed.cli.dask_scheduler", "--host", "127.0.0.1", "--port",
            str(services.port), "--no-dashboard")
        services.workers = [
            services.start("distributed.cli.dask_worker", services.address, "--nthreads", "1",
                           "--no-nanny", "--host", "127.0.0.1", "--no-dashboard")
            for _ in range(workers)
        ]
        yield services
    finally:
        watchdog.cancel()
        services.stop()
