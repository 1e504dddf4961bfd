"""The service's life under Wine's Service Control Manager: install, serving through the pipe
with the caller check and the per-connection deadlines, stop and start, a pipe name taken by
another process, reinstall over a running service, uninstall, and the command line's texts."""

from __future__ import annotations

import re
import time
import unittest

from installation import INSTALL_FOLDER, STAGE_FOLDER
from service_case import ServiceTestCase

PING_OK = '{"status":"ok","version":1}'
INCOMPLETE = '{"status":"error","kind":"rejected","message":"request too large or incomplete"}'
NOT_ALLOWED = '{"status":"error","kind":"rejected","message":"caller not allowed"}'


def quoted(path: str) -> str:
    """How the log shows an ASCII path: in double quotes, backslashes doubled."""
    return '"' + path.replace("\\", "\\\\").replace('"', '\\"') + '"'


class InstallAndServeTest(ServiceTestCase):
    def test_01_install_prints_its_one_line_on_stdout(self):
        result = self.install_result
        self.assertEqual(result.stdout, f"Installed and started. Open the app from {INSTALL_FOLDER}\n")
        self.assertEqual(result.stderr, "")
        self.assertEqual(result.returncode, 0)

    def test_02_service_runs_from_the_install_folder_with_the_files_found(self):
        self.assertEqual(self.service.state(), "RUNNING")
        folder = self.service.install_folder
        names = {path.name for path in folder.iterdir()}
        self.assertLessEqual({"vemlox-service.exe", "vemlox.exe", "service.log"}, names)
        # The download had no vemlox-app.exe: skipped without a word.
        self.assertNotIn("vemlox-app.exe", names)
        self.assertEqual((folder / "vemlox-service.exe").read_bytes(),
                         self.service.exes.service.read_bytes())
        self.assertEqual((folder / "vemlox.exe").read_bytes(), self.service.exes.client.read_bytes())
        self.assertEqual(self.service.log_messages()[:1], ["started"])

    def test_03_ping_through_the_pipe(self):
        mark = self.log_mark()
        self.assert_response(("ping",), PING_OK, 0)
        self.assertEqual(self.log_since(mark), ["ping: ok"])

    def test_04_caller_check_by_folder_and_name(self):
        cases = [
            # (where the client runs from, how it is started, allowed)
            (r"C:\Elsewhere\vemlox.exe", r"C:\Elsewhere\vemlox.exe", False),
            (INSTALL_FOLDER + r"\vemlox-client.exe", INSTALL_FOLDER + r"\vemlox-client.exe", False),
            (INSTALL_FOLDER + r"\Vemlox-App.EXE", INSTALL_FOLDER + r"\Vemlox-App.EXE", True),
            # Started through a differently cased path, Wine reports that path: still our folder.
            (INSTALL_FOLDER + r"\vemlox.exe", r"c:\program files\vemlox\VEMLOX.exe", True),
        ]
        for placed, started, allowed in cases:
            with self.subTest(started=started):
                if placed != INSTALL_FOLDER + r"\vemlox.exe":
                    self.plant(self.service.exes.client, placed)
                mark = self.log_mark()
                result = self.service.client("ping", program=started)
                self.assertEqual(result.stdout, (PING_OK if allowed else NOT_ALLOWED) + "\n")
                self.assertEqual(result.returncode, 0 if allowed else 1)
                # The path is the one Wine reports for the way the program was started.
                expected = "ping: ok" if allowed else "rejected caller " + quoted(
                    "C:" + started[2:] if started[:2].lower() == "c:" else started)
                self.assertEqual(self.log_since(mark), [expected])

    def test_05_malformed_and_oversized_requests_are_rejected_and_logged(self):
        cases = [
            # (request line, the parser's text, or None where only its first words are certain)
            ('{"op":', "EOF while parsing a value at line 1 column 6"),
            ('{"op":"Ping"}', None),
            ('{"op":"disable_adapters","names":["Wi*"]}', "invalid adapter name"),
            (" " * 16385, "request too large"),
        ]
        for line, message in cases:
            with self.subTest(line=line[:40]):
                mark = self.log_mark()
                response, result = self.service.response("raw", line)
                self.assertEqual(result.returncode, 1)
                self.assertEqual(list(response), ["status", "kind", "message"])
                self.assertEqual((response["status"], response["kind"]), ("error", "rejected"))
                if message is None:
                    self.assertTrue(response["message"].startswith("unknown variant `Ping`"))
                else:
                    self.assertEqual(response["message"], message)
                self.assertEqual(self.log_since(mark),
                                 [f"rejected ({len(line.encode())} bytes): {response['message']}"])

    def test_06_a_client_that_sends_nothing_is_cut_off_and_the_next_one_served(self):
        self.plant(self.service.exes.pipe_probe, INSTALL_FOLDER + r"\vemlox-app.exe")
        mark = self.log_mark()
        silent = self.prefix.start_background(INSTALL_FOLDER + r"\vemlox-app.exe", "silent")
        try:
            silent.wait_for_line("connected")
            # The pipe has one instance: this client waits until the silent one is dropped.
            result = self.service.client("--wait", "60", "ping")
            self.assertEqual(result.stdout, PING_OK + "\n", str(result))
            self.assertEqual(silent.wait_for_line("response:"), "response: " + INCOMPLETE)
        finally:
            silent.release()
        self.assertEqual(self.log_since(mark),
                         ["rejected: request too large or incomplete", "ping: ok"])

    def test_07_a_client_that_never_reads_its_response_does_not_hold_the_pipe(self):
        self.plant(self.service.exes.pipe_probe, INSTALL_FOLDER + r"\vemlox-app.exe")
        mark = self.log_mark()
        unread = self.prefix.start_background(INSTALL_FOLDER + r"\vemlox-app.exe", "unread",
                                              '{"op":"ping"}')
        try:
            unread.wait_for_line("sent")
            result = self.service.client("--wait", "60", "ping")
            self.assertEqual(result.stdout, PING_OK + "\n", str(result))
            self.assertIsNone(unread.process.poll(), "the stalled client must still be holding on")
        finally:
            unread.release()
        self.assertEqual(self.log_since(mark), ["ping: ok", "ping: ok"])

    def test_08_a_client_that_closes_at_once_is_logged_as_incomplete(self):
        self.plant(self.service.exes.pipe_probe, INSTALL_FOLDER + r"\vemlox-app.exe")
        mark = self.log_mark()
        result = self.prefix.run(INSTALL_FOLDER + r"\vemlox-app.exe", "close")
        self.assertEqual(result.stdout, "closed\n", str(result))
        self.assertEqual(self.wait_for_log(mark, 1),
                         ["rejected: request too large or incomplete"])
        self.assert_response(("ping",), PING_OK, 0)

    def test_09_a_response_that_never_comes_ends_at_the_clients_timeout(self):
        self.service.stage_powershell(
            {"failures": [{"script": "list_physical", "sleep_ms": 6000, "times": 1}]})
        started = time.monotonic()
        result = self.service.client("--timeout", "1", "enable-adapters")
        self.assertLess(time.monotonic() - started, 5)
        self.assertEqual(result.stdout, "")
        self.assertEqual(result.stderr, "vemlox-client: no response from the Vemlox service "
                                        "within 1 s; the connection was closed\n")
        self.assertEqual(result.returncode, 1)
        # The service still finishes the operation, then serves the next client.
        self.assert_response(("--wait", "60", "ping"), PING_OK, 0)


class StopStartReinstallTest(ServiceTestCase):
    def test_01_stop_logs_stopped_and_the_client_says_the_service_is_not_running(self):
        mark = self.log_mark()
        result = self.prefix.run("net", "stop", "vemlox")
        self.assertEqual(result.returncode, 0, str(result))
        self.assertEqual(self.wait_for_state("STOPPED"), "STOPPED")
        self.assertEqual(self.wait_for_log(mark, 1), ["stopped"])
        result = self.service.client("ping")
        self.assertEqual(result.stdout, "")
        self.assertEqual(result.stderr, "vemlox-client: the Vemlox service is not running "
                                        "(nothing serves \\\\.\\pipe\\vemlox)\n")
        self.assertEqual(result.returncode, 1)

    def test_02_without_arguments_from_a_console_it_prints_the_usage(self):
        # While the service is stopped Wine's dispatcher gives up at once (about 10 s otherwise).
        result = self.service.service_command(timeout=60)
        self.assertEqual(result.stdout, "")
        self.assertEqual(result.stderr, "This is a Windows service. To set it up, run as "
                                        "administrator:\n  vemlox-service install\n")
        self.assertEqual(result.returncode, 1)

    def test_03_unknown_commands(self):
        for argument in ["Install", "UNINSTALL", "", "--help", "install-now"]:
            with self.subTest(argument=argument):
                result = self.service.service_command(argument)
                self.assertEqual(result.stdout, "")
                self.assertEqual(result.stderr,
                                 f"unknown command {argument}; use install or uninstall\n")
                self.assertEqual(result.returncode, 2)

    def test_04_a_stranger_holding_the_pipe_name_gets_nothing_from_the_client(self):
        squatter_path = r"C:\Elsewhere\pipe_probe.exe"
        self.plant(self.service.exes.pipe_probe, squatter_path)
        squatter = self.prefix.start_background(squatter_path, "squat")
        try:
            squatter_id = squatter.wait_for_line("holding").split()[1]
            result = self.service.client("ping")
            self.assertEqual(result.stdout, "")
            self.assertEqual(result.stderr,
                             "vemlox-client: \\\\.\\pipe\\vemlox is served by process "
                             f"{squatter_id}, but the Vemlox service is not running; "
                             "nothing was sent\n")
            self.assertEqual(result.returncode, 1)

            # The service cannot create its pipe now: it starts, stops and says why, in order.
            mark = self.log_mark()
            self.prefix.run("net", "start", "vemlox")
            self.assertEqual(self.wait_for_state("STOPPED"), "STOPPED")
            lines = self.wait_for_log(mark, 3)
            self.assertEqual(lines[:2], ["started", "stopped"])
            # Windows says 5 (access denied); Wine says 231 (pipe busy).
            self.assertRegex(lines[2] if len(lines) > 2 else "",
                             r"^service error: create pipe: (5|231)$")
            self.assertEqual(len(lines), 3)
        finally:
            squatter.release()

    def test_05_start_again(self):
        mark = self.log_mark()
        result = self.prefix.run("net", "start", "vemlox")
        self.assertEqual(result.returncode, 0, str(result))
        self.assertEqual(self.wait_for_state("RUNNING"), "RUNNING")
        self.assertEqual(self.wait_for_log(mark, 1), ["started"])
        self.assert_response(("ping",), PING_OK, 0)

    def test_06_reinstall_over_the_running_service(self):
        mark = self.log_mark()
        result = self.service.install()
        self.assertEqual(result.stdout, f"Installed and started. Open the app from {INSTALL_FOLDER}\n")
        self.assertEqual(result.stderr, "")
        self.assertEqual(result.returncode, 0)
        self.assertEqual(self.wait_for_state("RUNNING"), "RUNNING")
        self.assertEqual(self.wait_for_log(mark, 2), ["stopped", "started"])
        mark = self.log_mark()
        self.assert_response(("ping",), PING_OK, 0)
        self.assertEqual(self.log_since(mark), ["ping: ok"])

    def test_07_running_the_installed_copy_itself_reinstalls_without_copying(self):
        mark = self.log_mark()
        result = self.prefix.run(INSTALL_FOLDER + r"\vemlox-service.exe", "install")
        self.assertEqual(result.stdout, f"Installed and started. Open the app from {INSTALL_FOLDER}\n")
        self.assertEqual(result.returncode, 0, str(result))
        self.assertEqual(self.wait_for_state("RUNNING"), "RUNNING")
        self.assertEqual(self.wait_for_log(mark, 2), ["stopped", "started"])

    def test_08_uninstall_removes_the_service_and_keeps_the_files(self):
        mark = self.log_mark()
        result = self.service.uninstall()
        self.assertEqual(result.stdout, f"Service removed. The files in {INSTALL_FOLDER} can now "
                                        "be deleted.\n")
        self.assertEqual(result.stderr, "")
        self.assertEqual(result.returncode, 0)
        self.assertIsNone(self.wait_for_state(None))
        self.assertEqual(self.wait_for_log(mark, 1), ["stopped"])
        for name in ["vemlox-service.exe", "vemlox.exe", "service.log"]:
            self.assertTrue((self.service.install_folder / name).is_file(), name)

    def test_09_uninstall_without_a_service(self):
        result = self.service.uninstall()
        self.assertEqual(result.stdout, "")
        self.assertEqual(result.stderr, "open service: IO error in winapi call\n")
        self.assertEqual(result.returncode, 1)


class ImpostorTest(ServiceTestCase):
    install_at_start = False

    def test_a_pipe_not_served_by_the_running_service_gets_nothing(self):
        # Something else is registered and running as "vemlox", and a stranger holds the pipe.
        self.service.copy_into(self.service.exes.slow_service, r"C:\Slow\slow_service.exe")
        self.assertEqual(self.prefix.run("sc", "create", "vemlox",
                                         "binPath=", r"C:\Slow\slow_service.exe").returncode, 0)
        self.assertEqual(self.prefix.run("net", "start", "vemlox").returncode, 0)
        squatter_path = r"C:\Elsewhere\pipe_probe.exe"
        self.plant(self.service.exes.pipe_probe, squatter_path)
        squatter = self.prefix.start_background(squatter_path, "squat")
        try:
            squatter_id = squatter.wait_for_line("holding").split()[1]
            result = self.service.client("ping", program=r"C:\Downloads\vemlox.exe")
            match = re.fullmatch(r"vemlox-client: \\\\\.\\pipe\\vemlox is served by process "
                                 r"(\d+) while the Vemlox service is process (\d+); "
                                 r"nothing was sent\n", result.stderr)
            self.assertIsNotNone(match, str(result))
            self.assertEqual(match.group(1), squatter_id)
            self.assertNotEqual(match.group(2), squatter_id)
            self.assertEqual(result.returncode, 1)
        finally:
            squatter.release()


if __name__ == "__main__":
    unittest.main()
