"""The Vemlox service installed in a private Wine prefix, as the tests, the demo and the benchmark
use it: staging the downloaded files, install and uninstall, the client started from the install
folder, the service log, and the stand-in PowerShell with its state and journal."""

from __future__ import annotations

import dataclasses
import json
import os
import shutil
from pathlib import Path

from wine_prefix import Result, WinePrefix

REPO = Path(__file__).resolve().parents[2]

INSTALL_FOLDER = r"C:\Program Files\Vemlox"
SERVICE = "vemlox"
STAGE_FOLDER = r"C:\Downloads"

RUN_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
APPROVAL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run"

POWERSHELL_STATE = "fake-powershell.json"
POWERSHELL_JOURNAL = "fake-powershell.journal.jsonl"


@dataclasses.dataclass(frozen=True)
class Executables:
    """The built programs. Taken from VEMLOX_SERVICE_EXE and friends when set (CTest sets them),
    otherwise from the build folder VEMLOX_BUILD_DIR (default build/windows)."""

    service: Path
    client: Path
    fake_powershell: Path
    pipe_probe: Path
    slow_service: Path

    @classmethod
    def from_environment(cls) -> "Executables":
        build = Path(os.environ.get("VEMLOX_BUILD_DIR", REPO / "build" / "windows"))
        found = cls(
            service=Path(os.environ.get("VEMLOX_SERVICE_EXE", build / "vemlox-service.exe")),
            client=Path(os.environ.get("VEMLOX_CLIENT_EXE", build / "vemlox-client.exe")),
            fake_powershell=Path(os.environ.get(
                "VEMLOX_FAKE_POWERSHELL", build / "tests" / "support" / "powershell.exe")),
            pipe_probe=Path(os.environ.get(
                "VEMLOX_PIPE_PROBE", build / "tests" / "support" / "pipe_probe.exe")),
            slow_service=Path(os.environ.get(
                "VEMLOX_SLOW_SERVICE", build / "tests" / "support" / "slow_service.exe")),
        )
        missing = [str(p) for p in dataclasses.astuple(found) if not Path(p).is_file()]
        if missing:
            raise FileNotFoundError("not built: " + ", ".join(missing))
        return found


def work_folder() -> Path:
    """Where templates and prefixes go: VEMLOX_E2E_WORK, or a folder in the build tree."""
    default = Path(os.environ.get("VEMLOX_BUILD_DIR", REPO / "build" / "windows")) / "e2e-work"
    return Path(os.environ.get("VEMLOX_E2E_WORK", default))


@dataclasses.dataclass
class LogLine:
    timestamp: int
    message: str


class Installation:
    """The service in one prefix. Host paths are pathlib paths; Windows paths are strings."""

    def __init__(self, prefix: WinePrefix, exes: Executables):
        self.prefix = prefix
        self.exes = exes
        self.install_folder = prefix.host_path(INSTALL_FOLDER)
        self.stage_folder = prefix.host_path(STAGE_FOLDER)

    # --- files --------------------------------------------------------------------------------

    def stage(self) -> None:
        """The download as a user has it: the service and the client as "vemlox.exe", without
        "vemlox-app.exe"."""
        self.stage_folder.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(self.exes.service, self.stage_folder / "vemlox-service.exe")
        shutil.copyfile(self.exes.client, self.stage_folder / "vemlox.exe")

    def copy_into(self, source: Path, windows_path: str) -> Path:
        target = self.prefix.host_path(windows_path)
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(source, target)
        return target

    # --- the service executable's command line ------------------------------------------------

    def service_command(self, *args: str, timeout: float = 120) -> Result:
        return self.prefix.run(STAGE_FOLDER + r"\vemlox-service.exe", *args, timeout=timeout)

    def install(self) -> Result:
        return self.service_command("install")

    def uninstall(self) -> Result:
        return self.service_command("uninstall")

    def state(self) -> str | None:
        return self.prefix.service_state(SERVICE)

    # --- talking to the service ---------------------------------------------------------------

    def client(self, *args: str, program: str = INSTALL_FOLDER + r"\vemlox.exe",
               timeout: float = 120) -> Result:
        """The client started by its C: path, so that the service sees that path as its image."""
        return self.prefix.run(program, *args, timeout=timeout)

    def response(self, *args: str, **kwargs) -> tuple[dict, Result]:
        """The client's printed response line, decoded, and the whole result."""
        result = self.client(*args, **kwargs)
        lines = result.stdout_bytes.split(b"\n")
        if len(lines) != 2 or lines[1] != b"":
            raise AssertionError(f"expected exactly one response line: {result}")
        return json.loads(lines[0]), result

    # --- the log ------------------------------------------------------------------------------

    def log_lines(self) -> list[LogLine]:
        path = self.install_folder / "service.log"
        if not path.exists():
            return []
        lines = []
        for raw in path.read_bytes().split(b"\n")[:-1]:
            stamp, _, message = raw.partition(b" ")
            lines.append(LogLine(int(stamp), message.decode("utf-8", "replace")))
        return lines

    def log_messages(self) -> list[str]:
        return [line.message for line in self.log_lines()]

    # --- the stand-in PowerShell --------------------------------------------------------------

    def stage_powershell(self, state: dict, folder: str = INSTALL_FOLDER,
                         name: str = "powershell.exe") -> Path:
        """Copies the stand-in into `folder` (the service's own by default) under `name`, with
        `state` as its machine."""
        target = self.copy_into(self.exes.fake_powershell, folder + "\\" + name)
        self.set_machine(state, folder)
        return target

    def set_machine(self, state: dict, folder: str = INSTALL_FOLDER) -> None:
        """Replaces the simulated machine of the stand-in in `folder` and empties its journal."""
        host = self.prefix.host_path(folder)
        (host / POWERSHELL_STATE).write_text(json.dumps(state, indent=2))
        (host / POWERSHELL_JOURNAL).unlink(missing_ok=True)

    def machine(self, folder: str = INSTALL_FOLDER) -> dict:
        return json.loads((self.prefix.host_path(folder) / POWERSHELL_STATE).read_text())

    def journal(self, folder: str = INSTALL_FOLDER) -> list[dict]:
        """The calls the stand-in in `folder` recorded since its machine was last set."""
        path = self.prefix.host_path(folder) / POWERSHELL_JOURNAL
        if not path.exists():
            return []
        return [json.loads(line) for line in path.read_text(encoding="utf-8").splitlines()]
