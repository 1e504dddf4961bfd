"""Ping round trips per second through the installed service against a bare named-pipe server
with the same framing, both in one Wine session and one run; prints both rates and their ratio.

The same load program (round_trips.exe, installed as the app's "vemlox-app.exe" so the service
accepts it) drives both servers, in alternating rounds so that a slow moment of the machine hits
both alike; the medians are compared. Variants of the bare server show where the service's extra time
goes: each adds one more of the service's own per-connection costs (caller check, log line,
overlapped waits, timer-bounded flush); what remains beyond the last is the request's dispatch.
Usage: run.py SERVICE_BUILD_DIR BENCH_BUILD_DIR [--trips N] [--rounds R]"""

from __future__ import annotations

import argparse
import os
import statistics
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests" / "e2e"))

from installation import INSTALL_FOLDER, Executables, Installation  # noqa: E402
from wine_prefix import WinePrefix, boot_template  # noqa: E402

TARGET = 0.8
LOAD = INSTALL_FOLDER + r"\vemlox-app.exe"
BENCH_FOLDER = r"C:\bench"
BARE_PIPE = r"\\.\pipe\vemlox-bench"


def rate_of(output: str) -> float:
    fields = output.split()
    if os.environ.get("VEMLOX_BENCH_VERBOSE"):
        print("   " + output.strip(), flush=True)
    return float(fields[fields.index("rate") + 1])


class Bench:
    def __init__(self, service: Installation, bench_build: Path, trips: int):
        self.service = service
        self.prefix = service.prefix
        self.trips = trips
        for program in ["bare_server.exe", "round_trips.exe"]:
            service.copy_into(bench_build / program, BENCH_FOLDER + "\\" + program)
        service.copy_into(bench_build / "round_trips.exe", LOAD)

    def load(self, pipe: str, trips: int) -> float:
        result = self.prefix.run(LOAD, pipe, str(trips), timeout=600)
        if result.returncode != 0:
            raise RuntimeError(f"round trips against {pipe} failed: {result}")
        return rate_of(result.stdout)

    def through_service(self, trips: int) -> float:
        before = len(self.service.log_lines())
        rate = self.load(r"\\.\pipe\vemlox", trips)
        logged = self.service.log_messages()[before:]
        if logged != ["ping: ok"] * trips:
            raise RuntimeError(f"expected {trips} 'ping: ok' log lines, got {len(logged)}")
        return rate

    def through_bare(self, trips: int, *options: str) -> float:
        server = self.prefix.start_background(BENCH_FOLDER + r"\bare_server.exe", BARE_PIPE,
                                              str(trips), *options)
        try:
            server.wait_for_line("listening")
            return self.load(BARE_PIPE, trips)
        finally:
            if server.release(timeout=60) != 0:
                raise RuntimeError("the bare server did not end cleanly")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("service_build", type=Path)
    parser.add_argument("bench_build", type=Path)
    parser.add_argument("--trips", type=int, default=1000)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()

    os.environ.setdefault("VEMLOX_BUILD_DIR", str(args.service_build.resolve()))
    exes = Executables.from_environment()
    work = args.service_build.resolve() / "bench-pipe"
    prefix = WinePrefix.copy_of(boot_template(work / "template"), work / "prefix")
    try:
        prefix.start()
        service = Installation(prefix, exes)
        service.stage()
        installed = service.install()
        if installed.returncode != 0:
            raise RuntimeError(f"install failed: {installed}")
        bench = Bench(service, args.bench_build.resolve(), args.trips)
        log_file = BENCH_FOLDER + r"\bench.log"

        # Warm both paths (first process starts, page cache) before anything is measured.
        bench.through_service(100)
        bench.through_bare(100)

        # The bare server, then with the service's own costs added one after another.
        steps = [
            ("bare", []),
            ("+ caller check", ["--check-caller"]),
            ("+ log line", ["--log", log_file]),
            ("+ overlapped waits", ["--overlapped"]),
            ("+ timer-bounded flush", ["--timed-flush"]),
        ]
        servers = {"service": lambda: bench.through_service(args.trips)}
        options: list[str] = []
        for name, added in steps:
            options = options + added
            servers[name] = lambda chosen=tuple(options): bench.through_bare(args.trips, *chosen)
        rates: dict[str, list[float]] = {name: [] for name in servers}
        for round_number in range(1, args.rounds + 1):
            for name, measure in servers.items():
                rates[name].append(measure())
            print(f"round {round_number}: " + ", ".join(
                f"{name} {values[-1]:.0f}/s" for name, values in rates.items()), flush=True)

        # The median is the headline; the best round shows what each server manages when the
        # machine leaves it alone (a busy 2-core machine spreads single rounds widely).
        medians = {name: statistics.median(values) for name, values in rates.items()}
        bests = {name: max(values) for name, values in rates.items()}
        print(f"\nping round trips per second over {args.rounds} rounds of {args.trips} "
              "(one connection per request, one client at a time):")
        print(f"  {'':32} {'median':>9} {'best':>9}   per trip (median)")
        for name in servers:
            print(f"  {name:32} {medians[name]:7.0f}/s {bests[name]:7.0f}/s   "
                  f"{1e6 / medians[name]:6.0f} us")
        ratio = medians["service"] / medians["bare"]
        best_ratio = bests["service"] / bests["bare"]
        verdict = "meets" if ratio >= TARGET else "is below"
        print(f"\nservice / bare = {ratio:.2f} by the medians ({verdict} the target of {TARGET}), "
              f"{best_ratio:.2f} by the best rounds")
        return 0
    finally:
        prefix.remove()


if __name__ == "__main__":
    started = time.monotonic()
    status = main()
    print(f"done in {time.monotonic() - started:.1f} s")
    sys.exit(status)
