"""The client package as an app's project uses it: the example app, built outside this tree against
the installed package (VEMLOX_EXAMPLE_APP names it), pings the installed service from the install
folder under the app's name."""

from __future__ import annotations

import os
import unittest
from pathlib import Path

from installation import INSTALL_FOLDER
from service_case import ServiceTestCase

APP = INSTALL_FOLDER + r"\vemlox-app.exe"


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


if __name__ == "__main__":
    unittest.main()
