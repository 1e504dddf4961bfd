"""Every operation through the installed service under Wine: the adapter and DNS operations against
the stand-in PowerShell in the service's folder (its journal shows every script run and the exact
names and values it got), the startup entries against the real registry, the restore point against
Wine's System Restore stub, and the IP renewal with Wine's own ipconfig."""

from __future__ import annotations

import json
import time
import unittest

from installation import APPROVAL_KEY, RUN_KEY
from service_case import ServiceTestCase

OK = '{"status":"ok","version":1}'
PUBLIC = "1.1.1.1,8.8.8.8"
MACHINE_ENVIRONMENT = r"HKLM\System\CurrentControlSet\Control\Session Manager\Environment"


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


def fail(script: str, stderr: str, **members) -> dict:
    return {"script": script, "stderr": stderr, **members}


ENABLE_FAILED = "os error: Enable-NetAdapter : Access is denied.\r\n  more"
SET_DNS_FAILED = "os error: Set-DnsClientServerAddress : boom"
FOUR = {"adapters": [adapter("Ethernet"), adapter("Wi-Fi"), adapter("Ethernet 2"),
                     adapter("vEthernet (WSL)", physical=False)]}

# (request, machine, response line, log line, scripts run, then each adapter's status ("Up" when
# not set) or DNS servers, or None where the machine must be left exactly as it was)
ADAPTER_AND_DNS_CASES = [
    (["enable-adapters"],
     {"adapters": [adapter("Ethernet"), adapter("Wi-Fi", status="Disabled"),
                   adapter("Cellular", status="Down"),
                   adapter("Bluetooth & <PAN>", status="Disabled", link=False),
                   adapter("Hyper-V", status="Disabled", physical=False)]},
     '{"status":"ok","version":1,"names":["Wi-Fi","Bluetooth & <PAN>"]}',
     'enable_adapters: ok ["Wi-Fi", "Bluetooth & <PAN>"]',
     [("list_physical",), ("enable", "Wi-Fi"), ("enable", "Bluetooth & <PAN>")],
     {"status": {"Ethernet": "Up", "Wi-Fi": "Up", "Cellular": "Down",
                 "Bluetooth & <PAN>": "Down", "Hyper-V": "Disabled"}}),
    (["enable-adapters"], {"adapters": [adapter("Ethernet")]}, OK, "enable_adapters: ok",
     [("list_physical",)], None),
    # It stops at the first failure and keeps what it did.
    (["enable-adapters"],
     {"adapters": [adapter(n, status="Disabled") for n in "ABC"],
      "failures": [fail("enable", "Enable-NetAdapter : Access is denied.\r\n  more\r\n",
                        adapter="B")]},
     error_line("failed", ENABLE_FAILED),
     "enable_adapters: Failed " + ENABLE_FAILED.replace("\r\n", "  "),
     [("list_physical",), ("enable", "A"), ("enable", "B")],
     {"status": {"A": "Up", "B": "Disabled", "C": "Disabled"}}),
    # A failing script shows its standard error, trimmed.
    (["enable-adapters"],
     {"adapters": [adapter("A")], "failures": [fail("list_physical", "  boom\r\n")]},
     error_line("failed", "os error: boom"), "enable_adapters: Failed os error: boom",
     [("list_physical",)], None),
    (["disable-adapters", "Wi-Fi", "Ethernet 2", "Wi-Fi"], FOUR, OK,
     'disable_adapters ["Wi-Fi", "Ethernet 2", "Wi-Fi"]: ok',
     [("list_physical",), ("disable", "Wi-Fi"), ("disable", "Ethernet 2"), ("disable", "Wi-Fi")],
     {"status": {"Ethernet": "Up", "Wi-Fi": "Disabled", "Ethernet 2": "Disabled",
                 "vEthernet (WSL)": "Up"}}),
    # An unknown name changes nothing. Windows would find "wi-fi" (names ignore case there); the
    # service compares exactly. A virtual adapter is not one of the physical ones.
    *[(["disable-adapters", *names], FOUR, error_line("not_found", f"item not found: {missing}"),
       "disable_adapters [" + ", ".join(f'"{n}"' for n in names)
       + f"]: NotFound item not found: {missing}", [("list_physical",)], None)
      for names, missing in [(["Ethernet", "Nope"], "Nope"), (["wi-fi"], "wi-fi"),
                             (["vEthernet (WSL)"], "vEthernet (WSL)")]],
    (["use-public-dns"],
     {"adapters": [adapter("Ethernet", dns=["192.168.1.1"]),
                   adapter("Wi-Fi", dns=["10.0.0.1", "10.0.0.2", "fe80::1"], dns_separator=" "),
                   adapter("Ethernet 2"), adapter("Public", dns=["1.1.1.1", "8.8.8.8"]),
                   adapter("Reversed", dns=["8.8.8.8", "1.1.1.1"]),
                   adapter("Off", status="Disabled", dns=["10.1.1.1"]),
                   adapter("Unplugged", status="Down", dns=["10.1.1.2"]),
                   adapter("No IPv4", ipv4=False, dns=["10.1.1.3"])]},
     '{"status":"ok","version":1,"dns":[{"adapter":"Ethernet","servers":["192.168.1.1"]},'
     '{"adapter":"Wi-Fi","servers":["10.0.0.1","10.0.0.2"]},'
     '{"adapter":"Ethernet 2","servers":[]},'
     '{"adapter":"Reversed","servers":["8.8.8.8","1.1.1.1"]}]}',
     "use_public_dns: ok 4 adapter(s)",
     [("list_connected",), ("read_dns", "Ethernet"), ("set_dns", "Ethernet", PUBLIC),
      ("read_dns", "Wi-Fi"), ("set_dns", "Wi-Fi", PUBLIC),
      ("read_dns", "Ethernet 2"), ("set_dns", "Ethernet 2", PUBLIC),
      ("read_dns", "Public"), ("read_dns", "Reversed"), ("set_dns", "Reversed", PUBLIC)],
     {"dns": {**{n: ["1.1.1.1", "8.8.8.8"]
                 for n in ["Ethernet", "Wi-Fi", "Ethernet 2", "Public", "Reversed"]},
              "Off": ["10.1.1.1"], "Unplugged": ["10.1.1.2"], "No IPv4": ["10.1.1.3"]}}),
    (["use-public-dns"],
     {"adapters": [adapter("Public", dns=["1.1.1.1", "8.8.8.8"]),
                   adapter("Off", status="Disabled")]},
     OK, "use_public_dns: ok 0 adapter(s)", [("list_connected",), ("read_dns", "Public")], None),
    # A failure puts back the adapters switched so far, the failing one not included.
    (["use-public-dns"],
     {"adapters": [adapter("A", dns=["192.168.1.1", "192.168.1.2"]), adapter("B"),
                   adapter("C", dns=["10.0.0.1"]), adapter("D", dns=["10.0.0.9"])],
      "failures": [fail("set_dns", "Set-DnsClientServerAddress : boom\r\n", adapter="C")]},
     error_line("failed", SET_DNS_FAILED), "use_public_dns: " + SET_DNS_FAILED,
     [("list_connected",), ("read_dns", "A"), ("set_dns", "A", PUBLIC),
      ("read_dns", "B"), ("set_dns", "B", PUBLIC), ("read_dns", "C"), ("set_dns", "C", PUBLIC),
      ("list_physical",), ("set_dns", "A", "192.168.1.1,192.168.1.2"), ("set_dns", "B", "")],
     {"dns": {"A": ["192.168.1.1", "192.168.1.2"], "B": [], "C": ["10.0.0.1"],
              "D": ["10.0.0.9"]}}),
    # An empty list still passes VLX_DNS, empty, so the script takes its reset branch.
    (["restore-dns", "Ethernet=192.168.1.1,192.168.1.2", "Wi-Fi="],
     {"adapters": [adapter("Ethernet", dns=PUBLIC.split(",")),
                   adapter("Wi-Fi", dns=PUBLIC.split(","))]},
     OK, "restore_dns 2 adapter(s): ok",
     [("list_physical",), ("set_dns", "Ethernet", "192.168.1.1,192.168.1.2"),
      ("set_dns", "Wi-Fi", "")],
     {"dns": {"Ethernet": ["192.168.1.1", "192.168.1.2"], "Wi-Fi": []}}),
    (["restore-dns", "Ethernet=192.168.1.1", "Gone="],
     {"adapters": [adapter("Ethernet", dns=["10.0.0.1"])]},
     error_line("not_found", "item not found: Gone"),
     "restore_dns 2 adapter(s): NotFound item not found: Gone", [("list_physical",)], None),
    # A failing set stops the restore, with no undo.
    (["restore-dns", "A=1.2.3.4", "B=1.2.3.5", "C=1.2.3.6"],
     {"adapters": [adapter("A", dns=["10.0.0.1"]), adapter("B"), adapter("C", dns=["10.0.0.3"])],
      "failures": [fail("set_dns", "Set-DnsClientServerAddress : boom\r\n", adapter="B")]},
     error_line("failed", SET_DNS_FAILED), "restore_dns 3 adapter(s): Failed " + SET_DNS_FAILED,
     [("list_physical",), ("set_dns", "A", "1.2.3.4"), ("set_dns", "B", "1.2.3.5")],
     {"dns": {"A": ["1.2.3.4"], "B": [], "C": ["10.0.0.3"]}}),
]


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

    def test_adapter_and_dns_operations(self):
        for args, machine, response, log_line, scripts, after in ADAPTER_AND_DNS_CASES:
            with self.subTest(args=args, log=log_line):
                result, log = self.run_op(*args, machine=machine)
                self.assertEqual((result.stdout, result.returncode),
                                 (response + "\n", 0 if response.startswith(OK[:-1]) else 1))
                self.assertEqual(log, log_line)
                self.assertEqual(calls(self.service.journal()), scripts)
                adapters = self.service.machine()["adapters"]
                if after is None:
                    self.assertEqual(adapters, machine["adapters"])
                elif "status" in after:
                    self.assertEqual({a["name"]: a.get("status", "Up") for a in adapters},
                                     after["status"])
                else:
                    self.assertEqual({a["name"]: a.get("dns", []) for a in adapters}, after["dns"])

    def test_listing_output_that_is_not_the_expected_json_fails(self):
        for stdout in ["", "not json\r\n", '[{"name":"A"}]\r\n', '{"name":"A","disabled":true}',
                       '[{"name":"A","disabled":"yes"}]']:
            with self.subTest(stdout=stdout):
                machine = {"adapters": [adapter("A")],
                           "failures": [{"script": "list_physical", "stdout": stdout,
                                         "exit_code": 0}]}
                result, log = self.run_op("enable-adapters", machine=machine)
                response = json.loads(result.stdout)
                self.assertEqual((response["status"], response["kind"], result.returncode),
                                 ("error", "failed", 1))
                self.assertRegex(response["message"], "^os error: .")
                self.assertEqual(log, "enable_adapters: Failed " + response["message"])
                self.assertEqual(calls(self.service.journal()), [("list_physical",)])

    def test_powershell_gets_only_the_system_search_paths(self):
        # The machine's own as another installer may leave them, with folders users can write
        # to; the service takes them in when its session starts.
        for name, value in [("PATH", r"C:\users\Public\tools;C:\windows\system32"),
                            ("PSModulePath", r"C:\users\Public\modules")]:
            added = self.prefix.run("reg", "add", MACHINE_ENVIRONMENT, "/v", name, "/d", value,
                                    "/f")
            self.assertEqual(added.returncode, 0, str(added))
        self.prefix.stop()
        self.prefix.start()
        self.assertEqual(self.wait_for_state("RUNNING"), "RUNNING")

        result, _ = self.run_op("enable-adapters", machine={})
        self.assertEqual(result.stdout, OK + "\n")
        entry = self.service.journal()[0]
        powershell = r"C:\windows\system32\WindowsPowerShell\v1.0"
        self.assertEqual(
            (entry["PATH"], entry["PSModulePath"]),
            (r"C:\windows\system32;C:\windows;C:\windows\system32\Wbem;" + powershell,
             powershell + r"\Modules"))

    def approval_bytes(self, name: str) -> bytes | None:
        result = self.prefix.run("reg", "query", APPROVAL_KEY, "/v", name)
        if result.returncode != 0:
            return None
        for line in result.stdout.splitlines():
            fields = line.split()
            if len(fields) == 3 and fields[1] == "REG_BINARY":
                return bytes.fromhex(fields[2])
        raise AssertionError(f"no REG_BINARY line: {result}")

    def add_run_entry(self, key: str, name: str) -> None:
        added = self.prefix.run("reg", "add", key, "/v", name, "/d", r"C:\u.exe", "/f")
        self.assertEqual(added.returncode, 0, str(added))

    def test_set_machine_startup_writes_the_approval_value(self):
        self.add_run_entry(RUN_KEY, "Updater")

        before = time.time()
        result, log = self.run_op("set-machine-startup", "Updater", "off", machine={})
        after = time.time()
        self.assertEqual((result.stdout, result.returncode), (OK + "\n", 0))
        self.assertEqual(log, 'set_machine_startup "Updater" enabled=false: ok')
        value = self.approval_bytes("Updater")
        self.assertEqual((len(value), value[:4]), (12, bytes([3, 0, 0, 0])))
        seconds = int.from_bytes(value[4:], "little") / 10_000_000 - 11_644_473_600
        self.assertGreaterEqual(seconds, before - 2)
        self.assertLessEqual(seconds, after + 2)

        # Run entries are found in any letter case; the value is written under the name as sent.
        result, log = self.run_op("set-machine-startup", "UPDATER", "on", machine={})
        self.assertEqual((result.stdout, result.returncode), (OK + "\n", 0))
        self.assertEqual(log, 'set_machine_startup "UPDATER" enabled=true: ok')
        self.assertEqual(self.approval_bytes("Updater"), bytes([2] + [0] * 11))

    def test_set_machine_startup_of_a_missing_entry_is_not_found(self):
        self.add_run_entry(RUN_KEY.replace("HKLM", "HKCU"), "UserOnly")
        for name in ["Nope", "UserOnly"]:
            with self.subTest(name=name):
                result, log = self.run_op("set-machine-startup", name, "off", machine={})
                self.assertEqual((result.stdout, result.returncode),
                                 (error_line("not_found", f"item not found: {name}") + "\n", 1))
                self.assertEqual(log, f'set_machine_startup "{name}" enabled=false: '
                                      f"NotFound item not found: {name}")
                self.assertIsNone(self.approval_bytes(name))

    def test_ping_restore_point_and_ip_renewal_under_wine(self):
        # Wine's SRSetRestorePointW always fails with status 0 (Windows would create the point);
        # Wine's ipconfig does not know /renew and exits with 1, which is still a success.
        message = "os error: System Restore error 0"
        for args, response, log_line in [
                (["ping"], OK, "ping: ok"),
                (["create-restore-point"], error_line("failed", message),
                 "create_restore_point: Failed " + message),
                (["renew-ip"], OK, "renew_ip: ok")]:
            with self.subTest(args=args):
                result, log = self.run_op(*args, machine={})
                self.assertEqual((result.stdout, result.returncode, log),
                                 (response + "\n", 0 if response == OK else 1, log_line))


if __name__ == "__main__":
    unittest.main()
