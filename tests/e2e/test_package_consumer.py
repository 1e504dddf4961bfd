"""Apps as their developers build them: the example built outside this tree against the installed
client package, the same built with the client from source, and the one written in Rust from the
protocol page alone (VEMLOX_EXAMPLE_APP names them, separated by the path separator). Each pings the
installed service from the install folder under the app's name, is refused from elsewhere, and
refuses a stranger that holds the pipe name while the service is stopped."""

from __future__ import annotations

import os
import unittest
from pathlib import Path

from installation import INSTALL_FOLDER, SERVICE, STAGE_FOLDER
from service_case import ServiceTestCase

APP = INSTALL_FOLDER + r"\vemlox-app.exe"
STRANGER = STAGE_FOLDER + r"\vemlox-app.exe"
SQUATTER = r"C:\Elsewhere\pipe_probe.exe"


class PackageConsumerTest(ServiceTestCase):
    @classmethod
    def setUpClass(cls) -> None:
        # Checked before a prefix is booted: without the apps there is nothing to test.
        cls.example_apps = [Path(p) for p in os.environ["VEMLOX_EXAMPLE_APP"].split(os.pathsep)]
        for app in cls.example_apps:
            if not app.is_file():
                raise FileNotFoundError(f"not built: {app}")
        super().setUpClass()

    def test_example_apps_ping_the_installed_service(self):
        for app in self.example_apps:
            with self.subTest(app=str(app)):
                self.plant(app, APP)
                mark = self.log_mark()
                result = self.service.client(program=APP)
                # The C runtime's text mode ends a line written to a file with CR LF.
                self.assertEqual((result.returncode, result.stdout.splitlines()), (0, ["ping: ok"]),
                                 str(result))
                self.assertEqual(self.wait_for_log(mark, 1), ["ping: ok"])
                # From outside the install folder the service's refusal is the call's error.
                self.plant(app, STRANGER)
                result = self.service.client(program=STRANGER)
                self.assertEqual(result.returncode, 1, str(result))
                self.assertIn("caller not allowed", result.stdout)

    def test_the_apps_refuse_a_stranger_holding_the_pipe_name(self):
        self.assertEqual(self.prefix.run("net", "stop", SERVICE).returncode, 0)
        self.plant(self.service.exes.pipe_probe, SQUATTER)
        for app in self.example_apps:
            with self.subTest(app=str(app)):
                self.plant(app, APP)
                # A squatter of its own for each app: it answers one connection only.
                squatter = self.prefix.start_background(SQUATTER, "squat")
                try:
                    squatter_id = squatter.wait_for_line("holding").split()[1]
                    result = self.service.client(program=APP)
                finally:
                    squatter.release()
                self.assertEqual(result.returncode, 1, str(result))
                self.assertIn(f"served by process {squatter_id}", result.stdout)

if __name__ == "__main__":
    unittest.main()
