"""Install while another process of the same user swaps the downloaded files: while the installer
waits for an old service to stop, a Windows process renames the running installer (or the app
next to it) and puts another program at its path. What gets installed must be what was started."""

from __future__ import annotations

import threading
import time
import unittest

from installation import SERVICE, STAGE_FOLDER
from service_case import ServiceTestCase

SLOW_FOLDER = r"C:\Slow"
OTHER_PROGRAM = r"C:\Elsewhere\other.exe"


class SwapDuringInstallTest(ServiceTestCase):
    install_at_start = False

    def start_slow_old_service(self) -> None:
        """A stand-in for the old installed service that stops only once released."""
        if self.service.state() is not None:
            self.assertEqual(self.service.uninstall().returncode, 0)
        for marker in ("stopping", "release"):
            (self.prefix.host_path(SLOW_FOLDER) / marker).unlink(missing_ok=True)
        result = self.prefix.run("sc", "create", SERVICE,
                                 "binPath=", SLOW_FOLDER + r"\slow_service.exe")
        self.assertEqual(result.returncode, 0, str(result))
        result = self.prefix.run("net", "start", SERVICE)
        self.assertEqual(result.returncode, 0, str(result))

    def wait_until_stopping(self, installer: threading.Thread, timeout: float = 60) -> None:
        marker = self.prefix.host_path(SLOW_FOLDER) / "stopping"
        deadline = time.monotonic() + timeout
        while not marker.exists():
            if not installer.is_alive() or time.monotonic() > deadline:
                self.fail("the installer never asked the old service to stop")
            time.sleep(0.05)

    def test_the_installed_files_are_the_ones_the_install_started_with(self):
        self.service.copy_into(self.service.exes.slow_service, SLOW_FOLDER + r"\slow_service.exe")
        self.service.copy_into(self.service.exes.pipe_probe, OTHER_PROGRAM)
        for name, original in [("vemlox-service.exe", self.service.exes.service),
                               ("vemlox.exe", self.service.exes.client)]:
            with self.subTest(swapped=name):
                self.service.stage()
                self.start_slow_old_service()
                results = []
                installer = threading.Thread(target=lambda: results.append(self.service.install()))
                installer.start()
                try:
                    self.wait_until_stopping(installer)
                    # Rename the file out of the way and put another program at its path; either
                    # step alone is refused while the installer holds the file.
                    path = STAGE_FOLDER + "\\" + name
                    self.prefix.run("cmd", "/c", f"move /y {path} {path}.moved & "
                                                 f"copy /y {OTHER_PROGRAM} {path}")
                finally:
                    (self.prefix.host_path(SLOW_FOLDER) / "release").touch()
                    installer.join(timeout=180)
                installed = (self.service.install_folder / name).read_bytes()
                self.assertTrue(installed == original.read_bytes(),
                                f"the installed {name} is not the program the install started with")
                self.assertEqual(results[0].returncode, 0, str(results[0]))


if __name__ == "__main__":
    unittest.main()
