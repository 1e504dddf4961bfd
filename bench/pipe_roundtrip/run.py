"""Ping round trips through the installed service against a bare named-pipe server with the same
framing, all in one Wine session and one run; prints trip times, rates and their ratios.

The same load program (round_trips.exe, installed as the app's "vemlox-app.exe" so the service
accepts it) drives every server, in alternating rounds so that a slow moment of the machine hits
all alike. Variants of the bare server show where the service's extra time goes: each adds one
more of the service's own per-connection costs (caller check, log line, overlapped waits,
timer-bounded flush); what remains beyond the last is the request's dispatch. The last variant
does all the work every connection requires, so it is the yardstick: the service should reach at
least TARGET of it. Under Wine the caller check and the log line alone cost about 0.4 of the bare
server, so the ratio to the bare server is shown for information only.
--compare NAME=SERVICE_EXE (repeatable) adds another build's service executable (an older one,
say): it is swapped in for its own turn of every round, stopped and started by the service
manager, so all builds meet the same machine.
Usage: run.py SERVICE_BUILD_DIR BENCH_BUILD_DIR [--trips N] [--rounds R] [--compare NAME=EXE]..."""

from __future__ import annotations

import argparse
import dataclasses
import os
import statistics
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests" / "e2e"))

from installation import INSTALL_FOLDER, SERVICE, Executables, Installation  # noqa: E402
from wine_prefix import WinePrefix, boot_template  # noqa: E402

TARGET = 0.9
YARDSTICK = "+ timer-bounded flush"
LOAD = INSTALL_FOLDER + r"\vemlox-app.exe"
BENCH_FOLDER = r"C:\bench"
BARE_PIPE = r"\\.\pipe\vemlox-bench"
SERVICE_EXE = INSTALL_FOLDER + r"\vemlox-service.exe"


@dataclasses.dataclass(frozen=True)
class Load:
    rate: float  # round trips per second over the whole run
    quick: float  # the 10th percentile of the trips' own times, in microseconds


def load_of(output: str) -> Load:
    fields = output.split()
    if os.environ.get("VEMLOX_BENCH_VERBOSE"):
        print("   " + output.strip(), flush=True)
    return Load(float(fields[fields.index("rate") + 1]), float(fields[fields.index("quick") + 1]))


class Bench:
    def __init__(self, service: Installation, bench_build: Path, trips: int):
        self.service = service
        self.prefix = service.prefix
        self.trips = trips
        for program in ["bare_server.exe", "round_trips.exe"]:
            service.copy_into(bench_build / program, BENCH_FOLDER + "\\" + program)
        service.copy_into(bench_build / "round_trips.exe", LOAD)
        self.running = service.exes.service  # install leaves it running

    def use_service(self, executable: Path) -> None:
        """Runs `executable` as the installed service, stopping the one running first."""
        if self.running == executable:
            return
        self.prefix.run("net", "stop", SERVICE, timeout=120)
        if self.settled_state() != "STOPPED":
            raise RuntimeError("the service did not stop")
        # STOPPED comes before the old process has ended and let go of the pipe: a new service
        # would find the pipe taken and stop (or, built before it checked, not notice).
        time.sleep(2)
        self.service.copy_into(executable, SERVICE_EXE)
        for _ in range(20):
            self.prefix.run("net", "start", SERVICE, timeout=120)
            if self.settled_state() == "RUNNING":
                break
            time.sleep(0.5)
        else:
            raise RuntimeError(f"{executable} does not start as the service")
        self.running = executable
        # Running may be reported a moment before the pipe exists.
        for _ in range(50):
            try:
                self.through_service(10)
                return
            except RuntimeError:
                time.sleep(0.2)
        raise RuntimeError(f"{executable} does not answer on the pipe")

    def settled_state(self) -> str | None:
        """The service's state once it is neither starting nor stopping (at most a minute)."""
        deadline = time.monotonic() + 60
        state = self.service.state()
        while state in ("START_PENDING", "STOP_PENDING") and time.monotonic() < deadline:
            time.sleep(0.2)
            state = self.service.state()
        return state

    def load(self, pipe: str, trips: int) -> Load:
        result = self.prefix.run(LOAD, pipe, str(trips), timeout=600)
        if result.returncode != 0:
            raise RuntimeError(f"round trips against {pipe} failed: {result}")
        return load_of(result.stdout)

    def through_service(self, trips: int) -> Load:
        before = len(self.service.log_lines())
        load = self.load(r"\\.\pipe\vemlox", trips)
        logged = self.service.log_messages()[before:]
        if logged != ["ping: ok"] * trips:
            raise RuntimeError(f"expected {trips} 'ping: ok' log lines, got {len(logged)}")
        return load

    def through_bare(self, trips: int, *options: str) -> Load:
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
    parser.add_argument("--compare", action="append", default=[], metavar="NAME=SERVICE_EXE",
                        help="another build's vemlox-service.exe, measured in the same rounds")
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

        # Warm every path (first process starts, page cache) before anything is measured.
        bench.through_service(100)
        compared = {}
        for argument in args.compare:
            name, equals, path = argument.partition("=")
            if not equals or not name:
                parser.error(f"--compare takes NAME=SERVICE_EXE, not {argument!r}")
            compared["service " + name] = Path(path).resolve()
        for executable in compared.values():
            bench.use_service(executable)
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

        def through(executable: Path):
            def measure() -> Load:
                bench.use_service(executable)
                return bench.through_service(args.trips)
            return measure

        services = ["service", *compared]
        servers = {"service": through(exes.service)}
        for name, executable in compared.items():
            servers[name] = through(executable)
        options: list[str] = []
        for name, added in steps:
            options = options + added
            servers[name] = lambda chosen=tuple(options): bench.through_bare(args.trips, *chosen)
        loads: dict[str, list[Load]] = {name: [] for name in servers}
        for round_number in range(1, args.rounds + 1):
            for name, measure in servers.items():
                loads[name].append(measure())
            print(f"round {round_number}: " + ", ".join(
                f"{name} {values[-1].rate:.0f}/s {values[-1].quick:.0f} us"
                for name, values in loads.items()), flush=True)

        # On a busy 2-core machine whole rounds spread widely (2-5x), and the machine drifts
        # between slow and fast spells lasting minutes. A round's servers run within seconds of
        # each other, so each round's ratio to the yardstick is taken and the median of those is
        # the headline. The quick trips (the 10th percentile of a run's trip times: the trips that
        # waited for no core) show each server's own cost and give the second figure.
        def median(values) -> float:
            return statistics.median(list(values))

        def ratio(name: str, to: str) -> tuple[float, float]:
            pairs = list(zip(loads[name], loads[to]))
            return (median(mine.rate / theirs.rate for mine, theirs in pairs),
                    median(theirs.quick / mine.quick for mine, theirs in pairs))

        print(f"\nping round trips over {args.rounds} rounds of {args.trips} "
              "(one connection per request, one client at a time):")
        print(f"  {'':24} {'rate: median':>12} {'range':>13}   quick trip: median")
        for name, values in loads.items():
            rates = [load.rate for load in values]
            print(f"  {name:24} {median(rates):10.0f}/s {min(rates):6.0f}-{max(rates):.0f}/s   "
                  f"{median(load.quick for load in values):8.0f} us")
        print()
        for name in services:
            by_rate, by_quick = ratio(name, YARDSTICK)
            verdict = "meets" if by_rate >= TARGET else "is below"
            print(f"{name} / {YARDSTICK[2:]} = {by_rate:.2f} ({verdict} the target of {TARGET}; "
                  f"{by_quick:.2f} by the quick trips)")
            by_rate, by_quick = ratio(name, "bare")
            print(f"  {name} / bare = {by_rate:.2f} ({by_quick:.2f} by the quick trips; for "
                  "information)")
        print("(each the median of the rounds' own ratios)")
        return 0
    finally:
        prefix.remove()


if __name__ == "__main__":
    started = time.monotonic()
    status = main()
    print(f"done in {time.monotonic() - started:.1f} s")
    sys.exit(status)
