"""The Node client package's pings against the C++ client library's, in one Wine session and one
run: sequential pings through the installed service from one process each, the package in Node
for Windows (22, and 20.18 as Electron 33 and 34 have it) and the library in ping_loop.exe. Both
sides make the same exchange: a connection per ping at identification level, the server checked
against the service manager's record before the request is sent, the answer read and decoded.

Each takes its turn as the app's vemlox-app.exe in the install folder (the only callers the
service answers), in alternating rounds so that a slow spell of the machine hits all alike. Each
round's ratio Node / C++ is taken from the medians of its runs' ping times, and the headline is the
median of those ratios (docs/wine.md, "The pipe's speed", says why rounds are compared this way).
The target is at most TARGET.

Usage: run.py BENCH_BUILD_DIR [--pings N] [--rounds R]; the service comes from VEMLOX_BUILD_DIR
(default build/windows), Node from build/windows-node and build/windows-node-20."""

from __future__ import annotations

import argparse
import dataclasses
import os
import statistics
import sys
import time
from pathlib import Path, PureWindowsPath

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests" / "e2e"))

from installation import INSTALL_FOLDER, Executables, Installation  # noqa: E402
from wine_prefix import WinePrefix, boot_template  # noqa: E402

TARGET = 2.0
APP = INSTALL_FOLDER + r"\vemlox-app.exe"
SCRIPT = str(PureWindowsPath("Z:\\", *(Path(__file__).resolve().parent / "ping_loop.cjs")
                             .parts[1:]))
NODES = {
    "Node 22.23.3": REPO / "build" / "windows-node" / "node.exe",
    "Node 20.18.1": REPO / "build" / "windows-node-20" / "node.exe",
}
BASELINE = "C++ library"


@dataclasses.dataclass(frozen=True)
class Run:
    median: float  # microseconds per ping
    quick: float  # the 10th percentile, microseconds


@dataclasses.dataclass(frozen=True)
class Contestant:
    program: Path  # staged as vemlox-app.exe for its turn
    arguments: tuple[str, ...]


class Bench:
    def __init__(self, service: Installation, pings: int):
        self.service = service
        self.prefix = service.prefix
        self.pings = pings
        self.staged: Path | None = None

    def run(self, contestant: Contestant) -> Run:
        if self.staged != contestant.program:
            self.service.copy_into(contestant.program, APP)
            self.staged = contestant.program
        before = len(self.service.log_lines())
        result = self.prefix.run(APP, *contestant.arguments, str(self.pings), timeout=900)
        fields = result.stdout.split()
        if result.returncode != 0 or fields[:2] != ["pings", str(self.pings)]:
            raise RuntimeError(f"{contestant.program.name} failed: {result}")
        # Each ping, the warming one included, reached the service and was answered.
        deadline = time.monotonic() + 30
        while True:
            logged = self.service.log_messages()[before:]
            if len(logged) >= self.pings + 1 or time.monotonic() > deadline:
                break
            time.sleep(0.05)
        if logged != ["ping: ok"] * (self.pings + 1):
            raise RuntimeError(f"expected {self.pings + 1} 'ping: ok' log lines, got {logged[-3:]}")
        if os.environ.get("VEMLOX_BENCH_VERBOSE"):
            print("   " + result.stdout.strip(), flush=True)
        return Run(float(fields[fields.index("median") + 1]),
                   float(fields[fields.index("quick") + 1]))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("bench_build", type=Path)
    parser.add_argument("--pings", type=int, default=100)
    parser.add_argument("--rounds", type=int, default=9)
    args = parser.parse_args()

    exes = Executables.from_environment()
    contestants = {BASELINE: Contestant(args.bench_build.resolve() / "ping_loop.exe", ())}
    for name, node in NODES.items():
        contestants[name] = Contestant(node, (SCRIPT,))
    missing = [str(c.program) for c in contestants.values() if not c.program.is_file()]
    if missing:
        raise FileNotFoundError("not built or fetched: " + ", ".join(missing))

    work = Path(os.environ.get("VEMLOX_BUILD_DIR", REPO / "build" / "windows")).resolve()
    work = work / "bench-node"
    prefix = WinePrefix.copy_of(boot_template(work / "template"), work / "prefix")
    try:
        prefix.start()
        # Node refuses Wine's default Windows 7.
        version = prefix.run("reg", "add", r"HKCU\Software\Wine", "/v", "Version", "/t", "REG_SZ",
                             "/d", "win10", "/f")
        if version.returncode != 0:
            raise RuntimeError(f"cannot set the prefix's Windows version: {version}")
        service = Installation(prefix, exes)
        service.stage()
        installed = service.install()
        if installed.returncode != 0:
            raise RuntimeError(f"install failed: {installed}")
        bench = Bench(service, args.pings)

        # Warm every path (the first starts of each program, the page cache) unmeasured.
        warm = Bench(service, 20)
        for contestant in contestants.values():
            warm.run(contestant)
        bench.staged = warm.staged

        runs: dict[str, list[Run]] = {name: [] for name in contestants}
        for round_number in range(1, args.rounds + 1):
            # Each round starts with another program, so that none always follows the same one.
            order = list(contestants)
            order = order[round_number % len(order):] + order[:round_number % len(order)]
            for name in order:
                runs[name].append(bench.run(contestants[name]))
            print(f"round {round_number}: " + ", ".join(
                f"{name} {values[-1].median / 1000:.2f} ms" for name, values in runs.items()),
                flush=True)

        median = statistics.median
        print(f"\nsequential pings through the service, {args.rounds} rounds of {args.pings} "
              "per program (one connection and one server check per ping):")
        print(f"  {'':14} {'per ping: median':>16} {'range of rounds':>17}   "
              "quick (10th percentile)")
        for name, values in runs.items():
            medians = [run.median / 1000 for run in values]
            quick = median(run.quick for run in values) / 1000
            print(f"  {name:14} {median(medians):13.2f} ms "
                  f"{min(medians):8.2f}-{max(medians):.2f} ms   {quick:8.2f} ms")
        print()
        for name in NODES:
            pairs = list(zip(runs[name], runs[BASELINE]))
            ratios = [mine.median / theirs.median for mine, theirs in pairs]
            by_quick = median(mine.quick / theirs.quick for mine, theirs in pairs)
            verdict = "meets" if median(ratios) <= TARGET else "misses"
            print(f"{name} / {BASELINE} = {median(ratios):.2f} ({verdict} the target of at most "
                  f"{TARGET}; rounds {min(ratios):.2f}-{max(ratios):.2f}; {by_quick:.2f} by the "
                  "quick pings)")
        print("(each the median of the rounds' own ratios)")
        return 0
    finally:
        prefix.remove()


if __name__ == "__main__":
    started = time.monotonic()
    status = main()
    print(f"done in {time.monotonic() - started:.1f} s")
    sys.exit(status)
