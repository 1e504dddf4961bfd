"""The Node client package (clients/node) as an Electron or Node app uses it: a Windows build of
Node, installed as vemlox-app.exe in the install folder, runs clients/node/test/e2e/call.mjs,
which makes one call of the package and prints its outcome. Against the real installed service and
the stand-in PowerShell: answers, refusals, a stranger on the pipe name, a busy pipe given up by
the AbortSignal, a stopped and a missing service.

Not shown here: that the pipe is opened at identification level. Wine reports
SecurityImpersonation to a pipe server for every open, whatever level the client asked for.

Node's Windows build (scripts/test fetches it to build/windows-node) refuses Wine's default
Windows 7, so the prefix says Windows 10; and it cannot write to a Unix pipe, which Result's files
avoid."""

from __future__ import annotations

import json
import os
import re
import shutil
import time
import unittest
from unittest.mock import ANY
from pathlib import Path, PureWindowsPath

from installation import INSTALL_FOLDER, POWERSHELL_JOURNAL, REPO, SERVICE
from service_case import ServiceTestCase
from wine_prefix import Result

NODE = Path(os.environ.get("VEMLOX_WINDOWS_NODE", REPO / "build" / "windows-node" / "node.exe"))
PACKAGE = REPO / "clients" / "node"
APP = INSTALL_FOLDER + r"\vemlox-app.exe"
STRANGER = r"C:\Elsewhere\vemlox-app.exe"
PROBE = r"C:\Probes\pipe_probe.exe"
CALL = str(PureWindowsPath("Z:\\", *(PACKAGE / "test" / "e2e" / "call.mjs").parts[1:]))

MACHINE = {"adapters": [
    {"name": "Ethernet", "status": "Up", "dns": ["192.168.1.1", "192.168.1.2"]},
    {"name": "Wi-Fi", "status": "Up", "dns": []},
]}


class NodeClientTest(ServiceTestCase):
    @classmethod
    def setUpClass(cls) -> None:
        # Checked before a prefix is booted: without them there is nothing to test.
        for needed in (NODE, PACKAGE / "node_modules" / "koffi" / "package.json"):
            if not needed.is_file():
                raise FileNotFoundError(f"not fetched: {needed} (scripts/test fetches it)")
        super().setUpClass()
        version = cls.prefix.run("reg", "add", r"HKCU\Software\Wine", "/v", "Version", "/t",
                                 "REG_SZ", "/d", "win10", "/f")
        if version.returncode != 0:
            cls.prefix.remove()
            raise AssertionError(f"cannot set the prefix's Windows version: {version}")
        for where in (APP, STRANGER):
            target = cls.prefix.host_path(where)
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(NODE, target)

    def call(self, operation: str, *args, program: str = APP,
             options: tuple[str, ...] = ()) -> dict:
        """The outcome call.mjs printed for `operation` with `args` (each sent as JSON)."""
        result: Result = self.prefix.run(program, CALL, operation,
                                         *(json.dumps(a) for a in args), *options)
        lines = result.stdout.splitlines()
        self.assertEqual(len(lines), 1, str(result))
        outcome = json.loads(lines[0])
        self.assertEqual(result.returncode, 0 if "result" in outcome else 1, str(result))
        return outcome

    def assert_error(self, outcome: dict, kind: str, message: str) -> None:
        self.assertIn("error", outcome)
        error = outcome["error"]
        code = "VEMLOX_" + re.sub(r"(?<=[a-z])(?=[A-Z])", "_", kind).upper()
        self.assertEqual((error["name"], error["kind"], error["code"], error["message"]),
                         ("VemloxError", kind, code, message))
        self.assertEqual(error["isErrorAnswer"], kind in ("Rejected", "NotFound", "Failed"))

    def test_1_the_service_answers_the_app(self):
        self.service.stage_powershell(MACHINE)
        mark = self.log_mark()
        # A signal aborted before the call: rejected at once with its reason, nothing sent (the
        # log below has no line for it).
        aborted = self.call("ping", options=("--aborted",))
        self.assert_error(aborted, "Cancelled", "the call was cancelled; nothing was sent")
        self.assertEqual(aborted["error"]["cause"], "aborted by call.mjs")
        self.assertEqual(self.call("ping")["result"], None)
        # Calls made at once by one app take their turns.
        self.assertEqual(self.call("ping", options=("--together", "3"))["result"], [None] * 3)

        saved = self.call("usePublicDns")["result"]
        self.assertEqual(saved, [{"adapter": "Ethernet", "servers": ["192.168.1.1", "192.168.1.2"]},
                                 {"adapter": "Wi-Fi", "servers": []}])
        self.assertEqual([a["dns"] for a in self.service.machine()["adapters"]],
                         [["1.1.1.1", "8.8.8.8"]] * 2)
        self.assertEqual(self.call("restoreDns", saved)["result"], None)
        self.assertEqual(self.service.machine()["adapters"], MACHINE["adapters"])

        # The service's own refusals, each with its fixed text.
        self.assert_error(self.call("disableAdapters", []), "Rejected", "invalid adapter list")
        self.assert_error(self.call("disableAdapters", ["Nope"]), "NotFound",
                          "item not found: Nope")
        self.assert_error(self.call("ping", program=STRANGER), "Rejected", "caller not allowed")
        # One log line for each call, in order: the service saw each request as sent.
        self.assertEqual(self.wait_for_log(mark, 9), [
            *["ping: ok"] * 4,
            "use_public_dns: ok 2 adapter(s)",
            "restore_dns 2 adapter(s): ok",
            "rejected (36 bytes): invalid adapter list",
            'disable_adapters ["Nope"]: NotFound item not found: Nope',
            'rejected caller "C:\\\\Elsewhere\\\\vemlox-app.exe"',
        ])

    def test_2_a_busy_pipe_is_given_up_when_the_signal_aborts(self):
        self.plant(self.service.exes.pipe_probe, PROBE)
        # A client that sent its request and never reads holds the service's one pipe instance.
        holder = self.prefix.start_background(PROBE, "unread")
        try:
            holder.wait_for_line("sent")
            # Seen from outside: the pipe is busy, so another client gives up at once.
            busy = self.service.client("--wait", "0", "ping")
            self.assertEqual(busy.returncode, 3, str(busy))
            self.assertIn("stayed busy", busy.stderr, str(busy))
            started = time.monotonic()
            # Early in the 10 s the service gives the holder to take its response.
            outcome = self.call("ping", options=("--busy-wait-ms", "60000",
                                                 "--abort-after-ms", "800"))
            waited = time.monotonic() - started
            self.assertIsNone(holder.process.poll(), "the holder must still hold the pipe")
        finally:
            holder.release()
        self.assert_error(outcome, "Cancelled", "the call was cancelled; nothing was sent")
        self.assertEqual(outcome["error"]["win32Code"], 1223)
        self.assertEqual(outcome["error"]["cause"], "aborted by call.mjs")
        # The busy wait ran off Node's main thread: its timers kept running meanwhile (a blocked
        # event loop runs the 10 ms ticker at most once, after the call).
        self.assertGreaterEqual(outcome["ticks"], 5)
        # Far below the busy wait: the signal ended the wait, not the wait's own end.
        self.assertLess(waited, 30)

    def test_3_a_response_wait_ends_at_its_timeout_or_at_once_when_the_signal_aborts(self):
        cases = [
            (("--response-timeout-ms", "1000"), "TimedOut",
             "no response from the Vemlox service within 1 s; the connection was closed", 258),
            # Aborted once the stand-in has been started (it writes its journal first): the
            # request is then surely sent, and the call is waiting for its answer.
            (("--abort-when-file", INSTALL_FOLDER + "\\" + POWERSHELL_JOURNAL), "Cancelled",
             "the call was cancelled; the connection was closed", 1223),
        ]
        for options, kind, message, code in cases:
            with self.subTest(kind=kind):
                # The service holds the request while its PowerShell runs for 3 s.
                self.service.stage_powershell(
                    {"failures": [{"script": "list_physical", "sleep_ms": 3000, "times": 1}]})
                # Had the wait gone on to the answer, the call would have its result.
                outcome = self.call("enableAdapters", options=options)
                self.assert_error(outcome, kind, message)
                self.assertEqual(outcome["error"]["win32Code"], code)
                self.assertGreaterEqual(outcome["ticks"], 5)
                # The service still finished the operation; the next call waits for it.
                self.assertEqual(self.call("ping", options=("--busy-wait-ms", "10000")),
                                 {"result": None, "ticks": ANY})

    def test_4_a_stranger_serving_the_pipe_name_gets_nothing(self):
        self.assertEqual(self.prefix.run("net", "stop", SERVICE).returncode, 0)
        self.plant(self.service.exes.pipe_probe, PROBE)
        squatter = self.prefix.start_background(PROBE, "squat")
        try:
            squatter_id = squatter.wait_for_line("holding").split()[1]
            outcome = self.call("ping")
        finally:
            squatter.release()
        self.assert_error(outcome, "UntrustedServer",
                          f"\\\\.\\pipe\\vemlox is served by process {squatter_id}, but the "
                          "Vemlox service is not running; nothing was sent")

    def test_5_a_stopped_then_missing_service(self):
        self.prefix.run("net", "stop", SERVICE)
        self.assertEqual(self.wait_for_state("STOPPED"), "STOPPED")
        self.assert_error(self.call("ping"), "Stopped",
                          "the Vemlox service is not running (nothing serves \\\\.\\pipe\\vemlox)")
        self.assertEqual(self.service.uninstall().returncode, 0)
        self.assert_error(self.call("ping"), "NotInstalled",
                          "the Vemlox service is not installed (nothing serves "
                          "\\\\.\\pipe\\vemlox)")

    def test_1b_every_operation_has_its_call(self):
        # The operations test_1 leaves out, each as its call makes it. Wine's SRSetRestorePointW
        # always fails with status 0 (Windows would create the point); Wine's ipconfig does not
        # know /renew and exits with 1, which is still a success.
        self.service.stage_powershell(MACHINE)
        mark = self.log_mark()
        self.assertEqual(self.call("enableAdapters")["result"], [])
        self.assert_error(self.call("setMachineStartup", "Nope", False), "NotFound",
                          "item not found: Nope")
        self.assert_error(self.call("createRestorePoint"), "Failed",
                          "os error: System Restore error 0")
        self.assertEqual(self.call("renewIp")["result"], None)
        self.assertEqual(self.wait_for_log(mark, 4), [
            "enable_adapters: ok",
            'set_machine_startup "Nope" enabled=false: NotFound item not found: Nope',
            "create_restore_point: Failed os error: System Restore error 0",
            "renew_ip: ok",
        ])


if __name__ == "__main__":
    unittest.main()
