"""Private Wine prefixes for the end-to-end tests, the demo and the pipe benchmark.

A template prefix is booted once (``wineboot -i``, several seconds) and copied for every prefix
(``cp -a``, about two seconds). Each prefix gets a persistent wineserver of its own (``wineserver
-p``), because a service lives only as long as its wineserver session, and is warmed up with a
first command whose output goes to /dev/null: Wine's helper processes (services.exe and the
services it starts) keep the standard error of the session's first command open for ever, so
capturing that command's output would hang. The output of every later command is captured
through temporary files, never pipes, for the same reason.
"""

from __future__ import annotations

import dataclasses
import fcntl
import os
import shutil
import subprocess
import tempfile
import time
from pathlib import Path, PureWindowsPath

WINE = shutil.which("wine") or "/usr/bin/wine"
WINESERVER = shutil.which("wineserver") or "/usr/bin/wineserver"
# What Wine's start.exe prints when it could not start the program it was asked to run.
START_FAILED = "ShellExecuteEx failed"
LAUNCH_ATTEMPTS = 3

_TEMPLATE_STAMP = ".vemlox-template"


def wine_environment(prefix: Path) -> dict[str, str]:
    """The host environment for a wine command in `prefix`, without anything of other prefixes."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("WINE")}
    env.update(
        WINEPREFIX=str(prefix),
        WINEDEBUG="-all",
        # No Mono or Gecko installers at prefix creation: nothing here needs them.
        WINEDLLOVERRIDES="mscoree,mshtml=",
    )
    return env


def boot_template(path: Path, fresh: bool = False) -> Path:
    """Boots a template prefix at `path` unless one is already there (or `fresh` asks for a new one).

    Safe to call from several processes at once: the first one boots, the others wait for it.
    """
    path = Path(path).resolve()
    path.parent.mkdir(parents=True, exist_ok=True)
    with open(path.parent / (path.name + ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if (path / _TEMPLATE_STAMP).exists() and not fresh:
            return path
        shutil.rmtree(path, ignore_errors=True)
        booting = path.with_name(path.name + ".booting")
        shutil.rmtree(booting, ignore_errors=True)
        env = wine_environment(booting)
        log = path.parent / (path.name + ".boot.log")
        with open(log, "wb") as out:
            subprocess.run([WINE, "wineboot", "-i"], stdin=subprocess.DEVNULL, stdout=out,
                           stderr=out, env=env, timeout=600, check=True)
        # The registry reaches the prefix's files only when the server exits.
        _quiet([WINESERVER, "-k"], env, timeout=60)
        _quiet([WINESERVER, "-w"], env, timeout=60)
        (booting / _TEMPLATE_STAMP).write_text(subprocess.run(
            [WINE, "--version"], capture_output=True, text=True, env=env).stdout)
        # wine --version starts no server, but make sure nothing of the boot lingers.
        _quiet([WINESERVER, "-k"], env, timeout=60)
        os.rename(booting, path)
        return path


def _quiet(command: list[str], env: dict[str, str], timeout: float) -> int:
    try:
        return subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, env=env, timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return -1


@dataclasses.dataclass
class Result:
    """What one command did: exit code and both output streams (raw and as text)."""

    returncode: int
    stdout_bytes: bytes
    stderr_bytes: bytes

    @property
    def stdout(self) -> str:
        return self.stdout_bytes.decode("utf-8", "replace")

    @property
    def stderr(self) -> str:
        return self.stderr_bytes.decode("utf-8", "replace")

    def __str__(self) -> str:
        return f"exit {self.returncode}, stdout {self.stdout!r}, stderr {self.stderr!r}"


class Background:
    """A wine process running beside the test: stdout goes to a file, stdin stays open until
    `release` closes it (the test helpers hold what they hold until then)."""

    def __init__(self, process: subprocess.Popen, output: Path):
        self.process = process
        self.output = output

    def text(self) -> str:
        return self.output.read_text(encoding="utf-8", errors="replace")

    def wait_for_line(self, word: str, timeout: float = 60) -> str:
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for line in self.text().splitlines():
                if line.startswith(word):
                    return line
            if self.process.poll() is not None:
                break
            time.sleep(0.05)
        raise AssertionError(f"no line starting with {word!r} (output so far: {self.text()!r})")

    def release(self, timeout: float = 60) -> int:
        if self.process.stdin and not self.process.stdin.closed:
            self.process.stdin.close()
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            return self.process.wait(timeout=10)


class WinePrefix:
    """One private prefix with its own persistent wineserver.

    `environment` is added to the host environment of every wine command in the prefix, the
    server's session included: a locale given there (LC_ALL) is the one its services run with."""

    def __init__(self, path: Path, environment: dict[str, str] | None = None):
        self.path = Path(path).resolve()
        self.env = {**wine_environment(self.path), **(environment or {})}
        self._scratch = Path(tempfile.mkdtemp(prefix="vemlox-wine-"))
        self._started = False

    @classmethod
    def copy_of(cls, template: Path, path: Path,
                environment: dict[str, str] | None = None) -> "WinePrefix":
        path = Path(path)
        if path.exists():
            # A run that was killed may have left this prefix's persistent server behind.
            _quiet([WINESERVER, "-k"], wine_environment(path.resolve()), timeout=60)
            shutil.rmtree(path, ignore_errors=True)
        path.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run(["cp", "-a", str(template), str(path)], check=True, timeout=300)
        (path / _TEMPLATE_STAMP).unlink(missing_ok=True)
        return cls(path, environment)

    @property
    def drive_c(self) -> Path:
        return self.path / "drive_c"

    def start(self) -> None:
        """Starts the persistent server and warms it up (services.exe starts here)."""
        _quiet([WINESERVER, "-p"], self.env, timeout=60)
        self._started = True
        subprocess.run([WINE, "cmd", "/c", "exit"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=self.env,
                       timeout=300)

    def stop(self) -> None:
        """Ends the session: every process of the prefix, the service included, is killed."""
        if self._started:
            _quiet([WINESERVER, "-k"], self.env, timeout=60)
            _quiet([WINESERVER, "-w"], self.env, timeout=60)
            self._started = False

    def remove(self) -> None:
        self.stop()
        shutil.rmtree(self._scratch, ignore_errors=True)
        if not os.environ.get("VEMLOX_KEEP_PREFIXES"):
            shutil.rmtree(self.path, ignore_errors=True)

    def host_path(self, windows_path: str) -> Path:
        """The host path of a C: path."""
        parts = PureWindowsPath(windows_path).parts
        if not parts or parts[0].upper() != "C:\\":
            raise ValueError(f"not a C: path: {windows_path}")
        return self.drive_c.joinpath(*parts[1:])

    def run(self, *args: str, timeout: float = 120, env: dict[str, str] | None = None,
            cwd: Path | None = None) -> Result:
        """Runs `wine ARGS...` and waits for it; both output streams are captured. A program
        that Wine reaches through its start.exe (a built-in named without a path, such as `sc`)
        is run again when start.exe failed to start it, which a loaded machine sometimes makes
        it do: the program never ran, so running it again changes nothing."""
        for _ in range(LAUNCH_ATTEMPTS):
            result = self._run_once(args, timeout, env, cwd)
            if not (result.returncode == 1 and START_FAILED in result.stdout):
                break
            time.sleep(0.2)
        return result

    def _run_once(self, args: tuple[str, ...], timeout: float, env: dict[str, str] | None,
                  cwd: Path | None) -> Result:
        full_env = dict(self.env)
        full_env.update(env or {})
        with tempfile.TemporaryFile(dir=self._scratch) as out, \
                tempfile.TemporaryFile(dir=self._scratch) as err:
            completed = subprocess.run([WINE, *args], stdin=subprocess.DEVNULL, stdout=out,
                                       stderr=err, env=full_env, timeout=timeout, cwd=cwd)
            out.seek(0)
            err.seek(0)
            return Result(completed.returncode, out.read(), err.read())

    def start_background(self, *args: str) -> Background:
        """Starts `wine ARGS...` without waiting; see Background."""
        output = Path(tempfile.mkstemp(dir=self._scratch, suffix=".out")[1])
        with open(output, "wb") as out:
            process = subprocess.Popen([WINE, *args], stdin=subprocess.PIPE, stdout=out,
                                       stderr=subprocess.DEVNULL, env=self.env)
        return Background(process, output)

    def service_status(self, name: str) -> dict[str, list[str]]:
        """The fields `sc query` shows, split into words ("STATE": ["4", "RUNNING"],
        "WIN32_EXIT_CODE": ["231", "(0xe7)"], ...); empty when there is no such service."""
        fields = {}
        for line in self.run("sc", "query", name).stdout.splitlines():
            label, colon, value = line.partition(":")
            if colon and value.split():
                fields[label.strip()] = value.split()
        return fields

    def service_state(self, name: str) -> str | None:
        """"RUNNING", "STOPPED", ... as `sc query` reports it; None when there is no such service."""
        state = self.service_status(name).get("STATE", [])
        return state[1] if len(state) >= 2 else None


def main(argv: list[str]) -> int:
    """Command line for CTest and scripts: `wine_prefix.py boot-template PATH [--fresh]`."""
    if len(argv) >= 2 and argv[0] == "boot-template":
        started = time.monotonic()
        boot_template(Path(argv[1]), fresh="--fresh" in argv[2:])
        print(f"template prefix ready at {argv[1]} ({time.monotonic() - started:.1f} s)")
        return 0
    print("usage: wine_prefix.py boot-template PATH [--fresh]")
    return 2


if __name__ == "__main__":
    import sys

    sys.exit(main(sys.argv[1:]))
