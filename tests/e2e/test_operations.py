"""Every operation through the installed service under Wine: the adapter and DNS operations against
the stand-in PowerShell in the service's folder (its journal shows every script run), the startup
entries against the real registry, the restore point against Wine's System Restore stub, and the
IP renewal with Wine's own ipconfig."""

from __future__ import annotations

import json
import time
import unittest

from installation import APPROVAL_KEY, RUN_KEY
from service_case import ServiceTestCase

OK = '{"status":"ok","version":1}'
PUBLIC = "1.1.1.1,8.8.8.8"


def error_line(kind: str, message: str) -> str:
    return json.dumps({"status": "error", "kind": kind, "message": message},
                      separators=(",", ":"), ensure_ascii=False)


def calls(journal: list[dict]) -> list[tuple]:
    """The journal as (script, VLX_ADAPTER, VLX_DNS) with the variables a script does not read
    left out, so the expectations read like the scripts' own order."""
    shown = []
    for entry in journal:
        script = entry["script"]
        if script in ("list_physical", "list_connected"):
            shown.append((script,))
        elif script in ("enable", "disable", "read_dns"):
            shown.append((script, entry["VLX_ADAPTER"]))
        else:
            shown.append((script, entry["VLX_ADAPTER"], entry["VLX_DNS"]))
    return shown


def adapter(name: str, **members) -> dict:
    return {"name": name, **members}


class OperationsTest(ServiceTestCase):
    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        cls.service.stage_powershell({})

    def run_op(self, *args: str, machine: dict):
        """Sets up the machine and sends one request; gives the client's result and the one log
        line the request made."""
        self.service.set_machine(machine)
        mark = self.log_mark()
        result = self.service.client(*args)
        self.assertEqual(result.stderr, "", str(result))
        lines = self.log_since(mark)
        self.assertEqual(len(lines), 1, lines)
        return result, lines[0]

    def assert_no_refused_calls(self) -> None:
        for entry in self.service.journal():
            self.assertIsNotNone(entry["script"], f"the stand-in refused a call: {entry}")

    def statuses(self) -> dict[str, str]:
        return {a["name"]: a.get("status", "Up") for a in self.service.machine()["adapters"]}

    def servers(self) -> dict[str, list[str]]:
        return {a["name"]: a.get("dns", []) for a in self.service.machine()["adapters"]}

    # --- enable_adapters ----------------------------------------------------------------------

    def test_enable_adapters_switches_on_the_disabled_ones_in_list_order(self):
        machine = {"adapters": [
            adapter("Ethernet"),
            adapter("Wi-Fi", status="Disabled"),
            adapter("Cellular", status="Down"),
            adapter("Bluetooth & <PAN>", status="Disabled", link=False),
            adapter("Hyper-V", status="Disabled", physical=False),
        ]}
        result, log = self.run_op("enable-adapters", machine=machine)
        self.assertEqual(result.stdout,
                         '{"status":"ok","version":1,"names":["Wi-Fi","Bluetooth & <PAN>"]}\n')
        self.assertEqual(result.returncode, 0)
        self.assertEqual(log, 'enable_adapters: ok ["Wi-Fi", "Bluetooth & <PAN>"]')
        self.assertEqual(calls(self.service.journal()), [
            ("list_physical",), ("enable", "Wi-Fi"), ("enable", "Bluetooth & <PAN>")])
        self.assertEqual(self.statuses(), {"Ethernet": "Up", "Wi-Fi": "Up", "Cellular": "Down",
                                           "Bluetooth & <PAN>": "Down", "Hyper-V": "Disabled"})

    def test_enable_adapters_with_nothing_disabled_runs_only_the_listing(self):
        result, log = self.run_op("enable-adapters", machine={"adapters": [adapter("Ethernet")]})
        self.assertEqual((result.stdout, result.returncode), (OK + "\n", 0))
        self.assertEqual(log, "enable_adapters: ok")
        self.assertEqual(calls(self.service.journal()), [("list_physical",)])

    def test_enable_adapters_stops_at_the_first_failure_and_keeps_what_it_did(self):
        machine = {
            "adapters": [adapter("A", status="Disabled"), adapter("B", status="Disabled"),
                         adapter("C", status="Disabled")],
            "failures": [{"script": "enable", "adapter": "B",
                          "stderr": "Enable-NetAdapter : Access is denied.\r\n  more\r\n"}],
        }
        result, log = self.run_op("enable-adapters", machine=machine)
        message = "os error: Enable-NetAdapter : Access is denied.\r\n  more"
        self.assertEqual((result.stdout, result.returncode),
                         (error_line("failed", message) + "\n", 1))
        self.assertEqual(log, "enable_adapters: Failed " + message.replace("\r\n", "  "))
        self.assertEqual(calls(self.service.journal()),
                         [("list_physical",), ("enable", "A"), ("enable", "B")])
        self.assertEqual(self.statuses(), {"A": "Up", "B": "Disabled", "C": "Disabled"})

    def test_a_script_failure_shows_its_trimmed_standard_error(self):
        machine = {"adapters": [adapter("A")],
                   "failures": [{"script": "list_physical", "stderr": "  boom\r\n", "exit_code": 1}]}
        result, log = self.run_op("enable-adapters", machine=machine)
        self.assertEqual((result.stdout, result.returncode),
                         (error_line("failed", "os error: boom") + "\n", 1))
        self.assertEqual(log, "enable_adapters: Failed os error: boom")

    def test_listing_output_that_is_not_the_expected_json_fails(self):
        for stdout in ["", "not json\r\n", '[{"name":"A"}]\r\n', '{"name":"A","disabled":true}',
                       '[{"name":"A","disabled":"yes"}]']:
            with self.subTest(stdout=stdout):
                machine = {"adapters": [adapter("A")],
                           "failures": [{"script": "list_physical", "stdout": stdout,
                                         "exit_code": 0}]}
                result, log = self.run_op("enable-adapters", machine=machine)
                response = json.loads(result.stdout)
                self.assertEqual((response["status"], response["kind"]), ("error", "failed"))
                self.assertTrue(response["message"].startswith("os error: "), response)
                self.assertGreater(len(response["message"]), len("os error: "))
                self.assertEqual(result.returncode, 1)
                self.assertEqual(log, "enable_adapters: Failed " + response["message"])
                self.assertEqual(calls(self.service.journal()), [("list_physical",)])

    # --- disable_adapters ---------------------------------------------------------------------

    MACHINE = {"adapters": [adapter("Ethernet"), adapter("Wi-Fi"), adapter("Ethernet 2"),
                            adapter("vEthernet (WSL)", physical=False)]}

    def test_disable_adapters_switches_off_the_named_ones_in_request_order(self):
        result, log = self.run_op("disable-adapters", "Wi-Fi", "Ethernet 2", "Wi-Fi",
                                  machine=self.MACHINE)
        self.assertEqual((result.stdout, result.returncode), (OK + "\n", 0))
        self.assertEqual(log, 'disable_adapters ["Wi-Fi", "Ethernet 2", "Wi-Fi"]: ok')
        self.assertEqual(calls(self.service.journal()), [
            ("list_physical",), ("disable", "Wi-Fi"), ("disable", "Ethernet 2"),
            ("disable", "Wi-Fi")])
        self.assertEqual(self.statuses(), {"Ethernet": "Up", "Wi-Fi": "Disabled",
                                           "Ethernet 2": "Disabled", "vEthernet (WSL)": "Up"})

    def test_disable_adapters_with_an_unknown_name_changes_nothing(self):
        cases = [
            (["Ethernet", "Nope"], "Nope"),
            # Windows would find "wi-fi" (names ignore case there); the service compares exactly.
            (["wi-fi"], "wi-fi"),
            (["vEthernet (WSL)"], "vEthernet (WSL)"),
        ]
        for names, missing in cases:
            with self.subTest(names=names):
                result, log = self.run_op("disable-adapters", *names, machine=self.MACHINE)
                self.assertEqual((result.stdout, result.returncode),
                                 (error_line("not_found", f"item not found: {missing}") + "\n", 1))
                self.assertEqual(log, "disable_adapters [" + ", ".join(f'"{n}"' for n in names)
                                 + f"]: NotFound item not found: {missing}")
                self.assertEqual(calls(self.service.journal()), [("list_physical",)])
                self.assertEqual(self.service.machine(), self.MACHINE)

    # --- use_public_dns -----------------------------------------------------------------------

    def test_use_public_dns_switches_the_connected_adapters_and_returns_what_they_had(self):
        machine = {"adapters": [
            adapter("Ethernet", dns=["192.168.1.1"]),
            adapter("Wi-Fi", dns=["10.0.0.1", "10.0.0.2", "fe80::1"], dns_separator=" "),
            adapter("Ethernet 2"),
            adapter("Public", dns=["1.1.1.1", "8.8.8.8"]),
            adapter("Reversed", dns=["8.8.8.8", "1.1.1.1"]),
            adapter("Off", status="Disabled", dns=["10.1.1.1"]),
            adapter("Unplugged", status="Down", dns=["10.1.1.2"]),
            adapter("No IPv4", ipv4=False, dns=["10.1.1.3"]),
        ]}
        result, log = self.run_op("use-public-dns", machine=machine)
        self.assertEqual(result.stdout, '{"status":"ok","version":1,"dns":['
                         '{"adapter":"Ethernet","servers":["192.168.1.1"]},'
                         '{"adapter":"Wi-Fi","servers":["10.0.0.1","10.0.0.2"]},'
                         '{"adapter":"Ethernet 2","servers":[]},'
                         '{"adapter":"Reversed","servers":["8.8.8.8","1.1.1.1"]}]}\n')
        self.assertEqual(result.returncode, 0)
        self.assertEqual(log, "use_public_dns: ok 4 adapter(s)")
        self.assertEqual(calls(self.service.journal()), [
            ("list_connected",),
            ("read_dns", "Ethernet"), ("set_dns", "Ethernet", PUBLIC),
            ("read_dns", "Wi-Fi"), ("set_dns", "Wi-Fi", PUBLIC),
            ("read_dns", "Ethernet 2"), ("set_dns", "Ethernet 2", PUBLIC),
            ("read_dns", "Public"),
            ("read_dns", "Reversed"), ("set_dns", "Reversed", PUBLIC)])
        servers = self.servers()
        for name in ["Ethernet", "Wi-Fi", "Ethernet 2", "Public", "Reversed"]:
            self.assertEqual(servers[name], ["1.1.1.1", "8.8.8.8"], name)
        self.assertEqual(servers["Off"], ["10.1.1.1"])

    def test_use_public_dns_with_nothing_to_switch(self):
        machine = {"adapters": [adapter("Public", dns=["1.1.1.1", "8.8.8.8"]),
                                adapter("Off", status="Disabled")]}
        result, log = self.run_op("use-public-dns", machine=machine)
        self.assertEqual((result.stdout, result.returncode), (OK + "\n", 0))
        self.assertEqual(log, "use_public_dns: ok 0 adapter(s)")

    def test_use_public_dns_puts_back_the_adapters_it_switched_when_a_later_one_fails(self):
        machine = {
            "adapters": [adapter("A", dns=["192.168.1.1", "192.168.1.2"]), adapter("B"),
                         adapter("C", dns=["10.0.0.1"]), adapter("D", dns=["10.0.0.9"])],
            "failures": [{"script": "set_dns", "adapter": "C",
                          "stderr": "Set-DnsClientServerAddress : boom\r\n"}],
        }
        result, log = self.run_op("use-public-dns", machine=machine)
        message = "os error: Set-DnsClientServerAddress : boom"
        self.assertEqual((result.stdout, result.returncode),
                         (error_line("failed", message) + "\n", 1))
        self.assertEqual(log, "use_public_dns: " + message)
        self.assertEqual(calls(self.service.journal()), [
            ("list_connected",),
            ("read_dns", "A"), ("set_dns", "A", PUBLIC),
            ("read_dns", "B"), ("set_dns", "B", PUBLIC),
            ("read_dns", "C"), ("set_dns", "C", PUBLIC),
            # The undo: a restore of what was saved so far, the failing adapter not included.
            ("list_physical",),
            ("set_dns", "A", "192.168.1.1,192.168.1.2"),
            ("set_dns", "B", "")])
        self.assertEqual(self.servers(), {"A": ["192.168.1.1", "192.168.1.2"], "B": [],
                                          "C": ["10.0.0.1"], "D": ["10.0.0.9"]})

    # --- restore_dns --------------------------------------------------------------------------

    def test_restore_dns_sets_each_list_and_resets_an_empty_one(self):
        machine = {"adapters": [adapter("Ethernet", dns=PUBLIC.split(",")),
                                adapter("Wi-Fi", dns=PUBLIC.split(","))]}
        result, log = self.run_op("restore-dns", "Ethernet=192.168.1.1,192.168.1.2", "Wi-Fi=",
                                  machine=machine)
        self.assertEqual((result.stdout, result.returncode), (OK + "\n", 0))
        self.assertEqual(log, "restore_dns 2 adapter(s): ok")
        # An empty list still passes VLX_DNS, empty, so the script takes its reset branch.
        self.assertEqual(calls(self.service.journal()), [
            ("list_physical",), ("set_dns", "Ethernet", "192.168.1.1,192.168.1.2"),
            ("set_dns", "Wi-Fi", "")])
        self.assertEqual(self.servers(), {"Ethernet": ["192.168.1.1", "192.168.1.2"], "Wi-Fi": []})

    def test_restore_dns_of_an_adapter_that_is_gone_changes_nothing(self):
        machine = {"adapters": [adapter("Ethernet", dns=["10.0.0.1"])]}
        result, log = self.run_op("restore-dns", "Ethernet=192.168.1.1", "Gone=",
                                  machine=machine)
        self.assertEqual((result.stdout, result.returncode),
                         (error_line("not_found", "item not found: Gone") + "\n", 1))
        self.assertEqual(log, "restore_dns 2 adapter(s): NotFound item not found: Gone")
        self.assertEqual(calls(self.service.journal()), [("list_physical",)])
        self.assertEqual(self.service.machine(), machine)

    def test_restore_dns_stops_at_a_failing_set_without_undo(self):
        machine = {"adapters": [adapter("A", dns=["10.0.0.1"]), adapter("B", status="Disabled"),
                                adapter("C", dns=["10.0.0.3"])]}
        result, log = self.run_op("restore-dns", "A=1.2.3.4", "B=1.2.3.5", "C=1.2.3.6",
                                  machine=machine)
        response = json.loads(result.stdout)
        self.assertEqual((response["status"], response["kind"]), ("error", "failed"))
        # The stand-in answers like Set-DnsClientServerAddress for an adapter that is switched off.
        self.assertTrue(response["message"].startswith(
            "os error: Set-DnsClientServerAddress : No matching MSFT_DNSClientServerAddress"),
            response)
        self.assertEqual(calls(self.service.journal()), [
            ("list_physical",), ("set_dns", "A", "1.2.3.4"), ("set_dns", "B", "1.2.3.5")])
        self.assertEqual(self.servers(), {"A": ["1.2.3.4"], "B": [], "C": ["10.0.0.3"]})

    # --- set_machine_startup ------------------------------------------------------------------

    def approval_bytes(self, name: str) -> bytes | None:
        result = self.prefix.reg_query(APPROVAL_KEY, name)
        if result.returncode != 0:
            return None
        for line in result.stdout.splitlines():
            fields = line.split()
            if len(fields) == 3 and fields[1] == "REG_BINARY":
                return bytes.fromhex(fields[2])
        raise AssertionError(f"no REG_BINARY line: {result}")

    def test_set_machine_startup_writes_the_approval_value(self):
        added = self.prefix.reg_add(RUN_KEY, "Updater", r"C:\Updater\updater.exe")
        self.assertEqual(added.returncode, 0, str(added))

        before = time.time()
        result, log = self.run_op("set-machine-startup", "Updater", "off", machine={})
        after = time.time()
        self.assertEqual((result.stdout, result.returncode), (OK + "\n", 0))
        self.assertEqual(log, 'set_machine_startup "Updater" enabled=false: ok')
        value = self.approval_bytes("Updater")
        self.assertEqual(len(value), 12)
        self.assertEqual(value[:4], bytes([3, 0, 0, 0]))
        filetime = int.from_bytes(value[4:], "little")
        seconds = filetime / 10_000_000 - 11_644_473_600
        self.assertGreaterEqual(seconds, before - 2)
        self.assertLessEqual(seconds, after + 2)

        # Run entries are found in any letter case; the value is written under the name as sent.
        result, log = self.run_op("set-machine-startup", "UPDATER", "on", machine={})
        self.assertEqual((result.stdout, result.returncode), (OK + "\n", 0))
        self.assertEqual(log, 'set_machine_startup "UPDATER" enabled=true: ok')
        self.assertEqual(self.approval_bytes("Updater"), bytes([2] + [0] * 11))

    def test_set_machine_startup_of_a_missing_entry_is_not_found(self):
        added = self.prefix.reg_add(RUN_KEY.replace("HKLM", "HKCU"), "UserOnly", r"C:\u.exe")
        self.assertEqual(added.returncode, 0, str(added))
        for name in ["Nope", "UserOnly"]:
            with self.subTest(name=name):
                result, log = self.run_op("set-machine-startup", name, "off", machine={})
                self.assertEqual((result.stdout, result.returncode),
                                 (error_line("not_found", f"item not found: {name}") + "\n", 1))
                self.assertEqual(log, f'set_machine_startup "{name}" enabled=false: '
                                      f"NotFound item not found: {name}")
                self.assertIsNone(self.approval_bytes(name))

    # --- create_restore_point and renew_ip ----------------------------------------------------

    def test_create_restore_point_reports_wines_status_0(self):
        # Wine's SRSetRestorePointW always fails with status 0 (Windows would create the point).
        result, log = self.run_op("create-restore-point", machine={})
        self.assertEqual((result.stdout, result.returncode),
                         (error_line("failed", "os error: System Restore error 0") + "\n", 1))
        self.assertEqual(log, "create_restore_point: Failed os error: System Restore error 0")

    def test_renew_ip_succeeds_whatever_ipconfig_says(self):
        # Wine's ipconfig does not know /renew and exits with 1: still a success.
        result, log = self.run_op("renew-ip", machine={})
        self.assertEqual((result.stdout, result.returncode), (OK + "\n", 0))
        self.assertEqual(log, "renew_ip: ok")

    def tearDown(self) -> None:
        self.assert_no_refused_calls()


if __name__ == "__main__":
    unittest.main()
