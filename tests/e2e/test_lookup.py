"""Which powershell.exe and ipconfig.exe the installed service runs: its own folder, the system
folder, the system folder's WindowsPowerShell\\v1.0, the Windows folder, in that order; never a
folder of PATH. A stand-in planted in each place answers with an adapter named after its place,
so the response tells which one ran, and each one's journal shows whether it ran at all. (Under
Wine a program started from the system folder under the name of one of Wine's own programs runs
Wine's built-in instead, so the stand-in there shows itself only by what it is not.) The tests
remove Wine's own programs from the prefix, which nothing after them needs."""

from __future__ import annotations

import unittest

from installation import INSTALL_FOLDER
from service_case import ServiceTestCase

SYSTEM = r"C:\windows\system32"
POWERSHELL_FOLDER = r"C:\windows\system32\WindowsPowerShell\v1.0"
WINDOWS = r"C:\windows"
# On the service's PATH (services.exe's default), and searched by no rule of the lookup.
PATH_ONLY = r"C:\windows\system32\wbem"

LOOKUP_ORDER = [INSTALL_FOLDER, SYSTEM, POWERSHELL_FOLDER, WINDOWS]
NOT_FOUND = '{"status":"error","kind":"failed","message":"os error: program not found"}'


def label(folder: str) -> str:
    """An adapter name saying where the stand-in lies (slashes and backslashes are not allowed)."""
    return "in " + folder.replace("\\", " > ")


class ProgramLookupTest(ServiceTestCase):
    def plant_standin(self, folder: str, name: str = "powershell.exe") -> None:
        path = self.service.stage_powershell(
            {"adapters": [{"name": label(folder), "status": "Disabled"}]}, folder, name)
        host = self.prefix.host_path(folder)
        for planted in [path, host / "fake-powershell.json", host / "fake-powershell.journal.jsonl"]:
            self.addCleanup(planted.unlink, missing_ok=True)

    def remove(self, folder: str, name: str = "powershell.exe") -> None:
        self.prefix.host_path(folder + "\\" + name).unlink()

    def test_powershell_is_looked_up_in_the_trusted_folders_in_order_and_never_on_path(self):
        for folder in LOOKUP_ORDER + [PATH_ONLY]:
            self.plant_standin(folder)

        # PATH_ONLY must really be on the service's PATH, or this test would prove nothing.
        response, _ = self.service.response("enable-adapters")
        self.assertEqual(response.get("names"), [label(INSTALL_FOLDER)], response)
        entry = self.service.journal(INSTALL_FOLDER)[0]
        self.assertIn(PATH_ONLY.lower(), entry["PATH"].lower().split(";"))

        for removed, next_folder in zip(LOOKUP_ORDER, LOOKUP_ORDER[1:]):
            with self.subTest(after_removing=removed):
                self.remove(removed)
                response, _ = self.service.response("enable-adapters")
                if next_folder == SYSTEM:
                    # Wine runs its own built-in program for any powershell.exe started from the
                    # system folder, so the stand-in there answers like Wine's stub: with
                    # nothing. That it is not the stand-in of the next folder shows the order.
                    self.assertEqual(response["kind"], "failed", response)
                    self.assertNotEqual(response["message"], "os error: program not found")
                    self.assertEqual(self.service.journal(POWERSHELL_FOLDER), [])
                else:
                    self.assertEqual(response.get("names"), [label(next_folder)], response)

        self.remove(WINDOWS)
        mark = self.log_mark()
        result = self.service.client("enable-adapters")
        self.assertEqual(result.stdout, NOT_FOUND + "\n")
        self.assertEqual(self.log_since(mark), ["enable_adapters: Failed os error: program not found"])
        self.assertEqual(self.service.journal(PATH_ONLY), [], "a program on PATH was run")

    def test_ipconfig_is_looked_up_the_same_way(self):
        # A stand-in named ipconfig.exe in the service's folder is run first, with "/renew".
        self.plant_standin(INSTALL_FOLDER, "ipconfig.exe")
        self.plant_standin(PATH_ONLY, "ipconfig.exe")
        self.assert_response(("renew-ip",), '{"status":"ok","version":1}', 0)
        calls = self.service.journal(INSTALL_FOLDER)
        self.assertEqual([c.get("arguments") for c in calls], [["/renew"]])

        # Then Wine's own in the system folder (it exits with 1 for /renew: still a success).
        self.remove(INSTALL_FOLDER, "ipconfig.exe")
        self.service.set_machine({}, INSTALL_FOLDER)
        self.assert_response(("renew-ip",), '{"status":"ok","version":1}', 0)
        self.assertEqual(self.service.journal(INSTALL_FOLDER), [])

        # Without it nothing is left but the one on PATH, which is not run.
        self.remove(SYSTEM, "ipconfig.exe")
        mark = self.log_mark()
        self.assert_response(("renew-ip",), NOT_FOUND, 1)
        self.assertEqual(self.log_since(mark), ["renew_ip: Failed os error: program not found"])
        self.assertEqual(self.service.journal(PATH_ONLY), [], "a program on PATH was run")


if __name__ == "__main__":
    unittest.main()
