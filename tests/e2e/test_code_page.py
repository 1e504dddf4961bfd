"""The adapter and DNS operations on a machine whose OEM code page is 936: the stand-in PowerShell
prints in it, as Windows PowerShell does without a console, and names and error texts outside ASCII
must still arrive whole, the names reaching the scripts exactly."""

from __future__ import annotations

import unittest

import test_operations as ops
from installation import INSTALL_FOLDER
from service_case import ServiceTestCase

NAME = "以太网"


class ChineseCodePageTest(ServiceTestCase):
    # Under Wine the service's OEM code page follows the locale of the session that started it.
    prefix_environment = {"LC_ALL": "zh_CN.UTF-8"}

    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        cls.service.stage_powershell({})

    def request(self, *args: str, adapters: list[dict] | None = None, **state) -> tuple[str, int]:
        # Without adapters the machine stays as it is; the journal starts afresh either way.
        self.service.set_machine(self.service.machine() if adapters is None else
                                 {"output_code_page": "oem", "adapters": adapters, **state})
        # Wine reads a command line in the host's locale, and a host without a zh_CN locale
        # garbles it; the client gets a locale the host has, the service keeps the session's.
        result = self.prefix.run(INSTALL_FOLDER + r"\vemlox.exe", *args, env={"LC_ALL": "C.UTF-8"})
        self.assertEqual(result.stderr, "", str(result))
        return result.stdout, result.returncode

    def test_adapter_named_in_chinese_is_listed_enabled_and_disabled(self):
        self.assertEqual(
            self.request("enable-adapters", adapters=[ops.adapter(NAME, status="Disabled"),
                                                      ops.adapter("Wi-Fi")]),
            ('{"status":"ok","version":1,"names":["' + NAME + '"]}\n', 0))
        self.assertEqual(ops.calls(self.service.journal()), [("list_physical",), ("enable", NAME)])

        self.assertEqual(self.request("disable-adapters", NAME), (ops.OK + "\n", 0))
        self.assertEqual(ops.calls(self.service.journal()), [("list_physical",), ("disable", NAME)])
        self.assertEqual(self.service.machine()["adapters"][0]["status"], "Disabled")

    def test_dns_of_an_adapter_named_in_chinese_is_switched_and_restored(self):
        self.assertEqual(
            self.request("use-public-dns", adapters=[ops.adapter(NAME, dns=["192.168.1.1"])]),
            ('{"status":"ok","version":1,"dns":[{"adapter":"' + NAME
             + '","servers":["192.168.1.1"]}]}\n', 0))
        self.assertEqual(ops.calls(self.service.journal()), [
            ("list_connected",), ("read_dns", NAME), ("set_dns", NAME, ops.PUBLIC)])

        self.assertEqual(self.request("restore-dns", NAME + "=192.168.1.1"), (ops.OK + "\n", 0))
        self.assertEqual(ops.calls(self.service.journal()), [
            ("list_physical",), ("set_dns", NAME, "192.168.1.1")])

    def test_error_text_in_chinese_arrives_with_its_letters(self):
        failure = {"script": "enable", "stderr": "Enable-NetAdapter : 拒绝访问。\r\n"}
        self.assertEqual(
            self.request("enable-adapters", adapters=[ops.adapter(NAME, status="Disabled")],
                         failures=[failure]),
            (ops.error_line("failed", "os error: Enable-NetAdapter : 拒绝访问。") + "\n", 1))


if __name__ == "__main__":
    unittest.main()
