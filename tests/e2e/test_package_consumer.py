"""An app as its developers build it pings the installed service from the install folder under the
app's name, and refuses a stranger that holds the pipe name while the service is stopped.
VEMLOX_EXAMPLE_APP names the app: the example built outside this tree against the installed client
package, or the one written in Rust from the protocol page alone."""

from __future__ import annotations

import os
import unittest
from pathlib import Path

from installation import INSTALL_FOLDER, SERVICE
from service_case import ServiceTestCase

APP = INSTALL_FOLDER + r"\vemlox-app.exe"
SQUATTER = r"C:\Elsewhere\pipe_probe.exe"


class PackageConsumerTest(ServiceTestCase):
    @classmethod
    def setUpClass(cls) -> None:
        # Checked before a prefix is booted: without the app there is nothing to test.
        cls.example_app = Path(os.environ["VEMLOX_EXAMPLE_APP"])
        if not cls.example_app.is_file():
            raise FileNotFoundError(f"not built: {cls.example_app}")
        super().setUpClass()

    def test_example_app_pings_the_installed_service(self):
        self.plant(self.example_app, APP)
        mark = self.log_mark()
        result = self.service.client(program=APP)
        # The C runtime's text mode ends a line written to a file with CR LF.
        self.assertEqual((result.returncode, result.stdout.splitlines()), (0, ["ping: ok"]),
                         str(result))
        self.assertEqual(self.wait_for_log(mark, 1), ["ping: ok"])

    def test_the_app_refuses_a_stranger_holding_the_pipe_name(self):
        self.plant(self.example_app, APP)
        self.assertEqual(self.prefix.run("net", "stop", SERVICE).returncode, 0)
        self.plant(self.service.exes.pipe_probe, SQUATTER)
        squatter = self.prefix.start_background(SQUATTER, "squat")
        self.addCleanup(squatter.release)
        squatter_id = squatter.wait_for_line("holding").split()[1]
        result = self.service.client(program=APP)
        self.assertEqual(result.returncode, 1, str(result))
        self.assertIn(f"served by process {squatter_id}", result.stdout)


if __name__ == "__main__":
    unittest.main()
