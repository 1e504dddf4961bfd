"""The base of every end-to-end test class: a private prefix copied from the template, its own
wineserver, the downloaded files staged, and (unless a class says otherwise) the service installed.
Tests of one class share that prefix and run in name order."""

from __future__ import annotations

import re
import time
import unittest
from pathlib import Path

from installation import INSTALL_FOLDER, Executables, Installation, work_folder
from wine_prefix import Background, WinePrefix, boot_template


class ServiceTestCase(unittest.TestCase):
    install_at_start = True
    # Host environment added to every wine command of the class's prefix, its wineserver session
    # included; the service runs with the locale (LC_ALL) given here, and so with its code pages.
    prefix_environment: dict[str, str] = {}
    prefix: WinePrefix
    service: Installation

    @classmethod
    def setUpClass(cls) -> None:
        work = work_folder()
        template = boot_template(work / "template")
        name = re.sub(r"[^A-Za-z0-9]+", "-", cls.__module__ + "-" + cls.__name__)
        cls.prefix = WinePrefix.copy_of(template, work / "prefixes" / name,
                                        cls.prefix_environment)
        try:
            cls.prefix.start()
            cls.service = Installation(cls.prefix, Executables.from_environment())
            cls.service.stage()
            if cls.install_at_start:
                cls.install_result = cls.service.install()
                if cls.install_result.returncode != 0:
                    raise AssertionError(f"install failed: {cls.install_result}")
        except BaseException:
            cls.prefix.remove()
            raise

    @classmethod
    def tearDownClass(cls) -> None:
        cls.prefix.remove()

    # --- helpers ------------------------------------------------------------------------------

    def log_since(self, mark: int) -> list[str]:
        """The log messages appended after the first `mark` lines."""
        return self.service.log_messages()[mark:]

    def log_mark(self) -> int:
        return len(self.service.log_lines())

    def wait_for_log(self, mark: int, count: int, timeout: float = 30) -> list[str]:
        """Waits until at least `count` lines follow `mark` (the log is written by the service
        process, which may still be finishing when the command that caused it has returned)."""
        deadline = time.monotonic() + timeout
        while True:
            lines = self.log_since(mark)
            if len(lines) >= count or time.monotonic() > deadline:
                return lines
            time.sleep(0.05)

    def wait_for_state(self, wanted: str | None, timeout: float = 30) -> str | None:
        deadline = time.monotonic() + timeout
        while True:
            state = self.service.state()
            if state == wanted or time.monotonic() > deadline:
                return state
            time.sleep(0.1)

    def start_request_held_in_powershell(self, sleep_ms: int) -> Background:
        """Sends enable-adapters as the app while the stand-in PowerShell sleeps `sleep_ms` in the
        request's first script; returns once the request has reached PowerShell, so that it is
        surely with the service."""
        self.service.stage_powershell({"failures": [
            {"script": "list_physical", "sleep_ms": sleep_ms, "times": 1, "exit_code": 0,
             "stdout": "[]"}]})
        request = self.prefix.start_background(INSTALL_FOLDER + r"\vemlox.exe", "--timeout", "120",
                                               "enable-adapters")
        self.addCleanup(request.release)
        deadline = time.monotonic() + 60
        while not self.service.journal():
            self.assertLess(time.monotonic(), deadline, "the request never reached PowerShell")
            time.sleep(0.1)
        return request

    def assert_response(self, args: tuple[str, ...], line: str, exit_code: int) -> None:
        """The client's whole output: exactly `line` on stdout, nothing on stderr."""
        result = self.service.client(*args)
        self.assertEqual(result.stdout, line + "\n", str(result))
        self.assertEqual(result.stderr, "", str(result))
        self.assertEqual(result.returncode, exit_code, str(result))

    def plant(self, source: Path, windows_path: str) -> Path:
        path = self.service.copy_into(source, windows_path)
        self.addCleanup(path.unlink, missing_ok=True)
        return path
