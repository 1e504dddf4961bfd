"""The service's life under Wine's Service Control Manager: install, serving through the pipe
with the caller check and the per-connection deadlines, stop and start, a pipe name taken by
another process, reinstall over a running service and a running app, uninstall, the command
line's texts, and an install while another process swaps the downloaded files."""

from __future__ import annotations

import json
import re
import threading
import time
import unittest

from installation import (INSTALL_FOLDER, POWERSHELL_JOURNAL, POWERSHELL_STATE, SERVICE,
                          STAGE_FOLDER)
from service_case import ServiceTestCase

PING_OK = '{"status":"ok","version":1}'
INCOMPLETE = '{"status":"error","kind":"rejected","message":"request too large or incomplete"}'
NOT_ALLOWED = '{"status":"error","kind":"rejected","message":"caller not allowed"}'
INSTALLED = f"Installed and started. Open the app from {INSTALL_FOLDER}\n"
PROBE = INSTALL_FOLDER + r"\vemlox-app.exe"
SQUATTER = r"C:\Elsewhere\pipe_probe.exe"
SLOW_FOLDER = r"C:\Slow"
OTHER_PROGRAM = r"C:\Elsewhere\other.exe"
PENDING_KEY = r"HKLM\System\CurrentControlSet\Control\Session Manager"


def quoted(path: str) -> str:
    """How the log shows an ASCII path: in double quotes, backslashes doubled."""
    return '"' + path.replace("\\", "\\\\").replace('"', '\\"') + '"'


class InstallAndServeTest(ServiceTestCase):
    def test_01_install_runs_the_service_from_the_install_folder(self):
        self.assertEqual((self.install_result.stdout, self.install_result.stderr), (INSTALLED, ""))
        self.assertEqual(self.service.state(), "RUNNING")
        folder = self.service.install_folder
        # The download had no vemlox-app.exe: skipped without a word.
        self.assertFalse((folder / "vemlox-app.exe").exists())
        self.assertEqual((folder / "vemlox-service.exe").read_bytes(),
                         self.service.exes.service.read_bytes())
        self.assertEqual((folder / "vemlox.exe").read_bytes(), self.service.exes.client.read_bytes())
        self.assertEqual(self.service.log_messages()[:1], ["started"])

    def test_02_caller_check_by_folder_and_name(self):
        cases = [
            # (where the client runs from, how it is started, allowed)
            (INSTALL_FOLDER + r"\vemlox.exe", INSTALL_FOLDER + r"\vemlox.exe", True),
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
                self.assertEqual((result.stdout, result.stderr, result.returncode),
                                 (PING_OK + "\n", "", 0) if allowed else (NOT_ALLOWED + "\n", "", 1),
                                 f"the log after the call: {self.log_since(mark)}")
                # The path is the one Wine reports for the way the program was started.
                self.assertEqual(self.log_since(mark), ["ping: ok" if allowed else
                                                        "rejected caller " + quoted("C:" + started[2:])])

    def test_03_malformed_and_oversized_requests_are_rejected_and_logged(self):
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

    def misbehaving_client(self, *args: str):
        self.plant(self.service.exes.pipe_probe, PROBE)
        return self.prefix.start_background(PROBE, *args)

    def test_04_a_client_that_sends_nothing_is_cut_off_and_the_next_one_served(self):
        mark = self.log_mark()
        silent = self.misbehaving_client("silent")
        try:
            silent.wait_for_line("connected")
            # The pipe has one instance: this client waits until the silent one is dropped.
            self.assert_response(("--wait", "60", "ping"), PING_OK, 0)
            self.assertEqual(silent.wait_for_line("response:"), "response: " + INCOMPLETE)
        finally:
            silent.release()
        self.assertEqual(self.log_since(mark),
                         ["rejected: request too large or incomplete", "ping: ok"])

    def test_05_a_client_that_never_reads_its_response_does_not_hold_the_pipe(self):
        mark = self.log_mark()
        unread = self.misbehaving_client("unread")
        try:
            unread.wait_for_line("sent")
            self.assert_response(("--wait", "60", "ping"), PING_OK, 0)
            self.assertIsNone(unread.process.poll(), "the stalled client must still be holding on")
        finally:
            unread.release()
        self.assertEqual(self.log_since(mark), ["ping: ok", "ping: ok"])

    def test_06_a_client_that_closes_at_once_is_logged_as_incomplete(self):
        self.plant(self.service.exes.pipe_probe, PROBE)
        mark = self.log_mark()
        result = self.prefix.run(PROBE, "close")
        self.assertEqual(result.stdout, "closed\n", str(result))
        self.assertEqual(self.wait_for_log(mark, 1), ["rejected: request too large or incomplete"])
        self.assert_response(("ping",), PING_OK, 0)

    def test_07_a_response_that_never_comes_ends_at_the_clients_timeout(self):
        self.service.stage_powershell(
            {"failures": [{"script": "list_physical", "sleep_ms": 6000, "times": 1}]})
        started = time.monotonic()
        result = self.service.client("--timeout", "1", "enable-adapters")
        self.assertLess(time.monotonic() - started, 5)
        self.assertEqual((result.stdout, result.stderr, result.returncode),
                         ("", "vemlox-client: no response from the Vemlox service within 1 s; "
                              "the connection was closed\n", 3))
        # The service still finishes the operation, then serves the next client.
        self.assert_response(("--wait", "60", "ping"), PING_OK, 0)


class StopStartReinstallTest(ServiceTestCase):
    def assert_failure(self, result, stderr: str, exit_code: int = 1) -> None:
        self.assertEqual((result.stdout, result.stderr, result.returncode), ("", stderr, exit_code))

    def start_squatter(self):
        """Starts a stranger holding the pipe name; gives its process id."""
        self.plant(self.service.exes.pipe_probe, SQUATTER)
        squatter = self.prefix.start_background(SQUATTER, "squat")
        self.addCleanup(squatter.release)
        return squatter.wait_for_line("holding").split()[1]

    def test_01_stop_logs_stopped_and_the_client_says_the_service_is_not_running(self):
        mark = self.log_mark()
        result = self.prefix.run("net", "stop", SERVICE)
        self.assertEqual(result.returncode, 0, str(result))
        self.assertEqual(self.wait_for_state("STOPPED"), "STOPPED")
        self.assertEqual(self.wait_for_log(mark, 1), ["stopped"])
        self.assert_failure(self.service.client("ping"), "vemlox-client: the Vemlox service is "
                            "not running (nothing serves \\\\.\\pipe\\vemlox)\n", 3)

    def test_01a_a_stop_during_a_request_is_reported_pending_until_the_request_is_answered(self):
        if self.service.state() != "RUNNING":
            self.assertEqual(self.prefix.run("net", "start", SERVICE).returncode, 0)
        self.assertEqual(self.wait_for_state("RUNNING"), "RUNNING")
        host = self.service.install_folder
        for name in ["powershell.exe", POWERSHELL_STATE, POWERSHELL_JOURNAL]:
            self.addCleanup((host / name).unlink, missing_ok=True)
        mark = self.log_mark()
        request = self.start_request_held_in_powershell(10000)

        stop = self.prefix.run("sc", "stop", SERVICE)
        self.assertEqual(stop.returncode, 0, str(stop))
        # What the control's caller is told, then every later query while the request runs: the
        # stop is pending and its checkpoint moves on, until the stopped report ends it.
        self.assertRegex(stop.stdout, r"STATE\s*:\s*3\s+STOP_PENDING", str(stop))
        seen = []
        while request.process.poll() is None:
            status = self.prefix.service_status(SERVICE)
            seen.append((status["STATE"][0], int(status["CHECKPOINT"][0], 16)))
            time.sleep(0.2)
        checkpoints = [checkpoint for state, checkpoint in seen if state == "3"]
        self.assertGreaterEqual(len(checkpoints), 2, f"too few queries while pending: {seen}")
        self.assertEqual([state for state, _ in seen],
                         ["3"] * len(checkpoints) + ["1"] * (len(seen) - len(checkpoints)), seen)
        self.assertEqual(checkpoints, sorted(checkpoints), seen)
        self.assertGreater(checkpoints[-1], checkpoints[0], seen)

        self.assertEqual(request.process.wait(timeout=60), 0, request.text())
        self.assertEqual(json.loads(request.text())["status"], "ok")
        self.assertEqual(self.wait_for_state("STOPPED"), "STOPPED")
        lines = self.wait_for_log(mark, 2)
        self.assertTrue(lines[0].startswith("enable_adapters: ok"), lines)
        self.assertEqual(lines[1:], ["stopped"])

    def test_02_the_command_line_without_or_with_an_unknown_command(self):
        # While the service is stopped Wine's dispatcher gives up at once (about 10 s otherwise).
        self.assert_failure(self.service.service_command(timeout=60), "This is a Windows service. "
                            "To set it up, run as administrator:\n  vemlox-service install\n")
        for argument in ["Install", "UNINSTALL", "", "--help", "install-now"]:
            with self.subTest(argument=argument):
                self.assert_failure(self.service.service_command(argument),
                                    f"unknown command {argument}; use install or uninstall\n", 2)

    def test_03_a_stranger_holding_the_pipe_name_gets_nothing_from_the_client(self):
        squatter_id = self.start_squatter()
        self.assert_failure(self.service.client("ping"),
                            f"vemlox-client: \\\\.\\pipe\\vemlox is served by process {squatter_id}, "
                            "but the Vemlox service is not running; nothing was sent\n", 3)
        # The service cannot create its pipe now: it starts, stops and says why, in order.
        mark = self.log_mark()
        self.prefix.run("net", "start", SERVICE)
        self.assertEqual(self.wait_for_state("STOPPED"), "STOPPED")
        lines = self.wait_for_log(mark, 3)
        # Windows says 5 (access denied); Wine says 231 (pipe busy).
        self.assertRegex("\n".join(lines), r"^started\nstopped\nservice error: create pipe: (5|231)$")
        # The stopped service carries that code until its next start. An install that starts it
        # fails the same way, but Wine's manager refuses the start (1053) and leaves the code as
        # it was before, so it cannot be told from the last run's: Windows' own error is reported.
        code = lines[2].rsplit(" ", 1)[1]
        self.assertEqual(self.prefix.service_status(SERVICE)["WIN32_EXIT_CODE"][0], code)
        result = self.service.install()
        self.assertRegex(result.stderr, r"^start service: .* \(os error 1053\)\n$", str(result))
        self.assertEqual((result.stdout, result.returncode), ("", 1))
        self.assertEqual(self.service.state(), "STOPPED")

    def test_04_start_again_and_reinstall_over_the_running_service(self):
        mark = self.log_mark()
        result = self.prefix.run("net", "start", SERVICE)
        self.assertEqual(result.returncode, 0, str(result))
        self.assertEqual(self.wait_for_state("RUNNING"), "RUNNING")
        self.assertEqual(self.wait_for_log(mark, 1), ["started"])
        self.assert_response(("ping",), PING_OK, 0)
        # Running the installed copy itself, by any spelling of its path, reinstalls without
        # copying: the installed file stays the very same file.
        installed = self.service.install_folder / "vemlox-service.exe"
        for installer in [STAGE_FOLDER, INSTALL_FOLDER, INSTALL_FOLDER.lower()]:
            with self.subTest(installer=installer):
                mark = self.log_mark()
                before = installed.stat().st_ino
                result = self.prefix.run(installer + r"\vemlox-service.exe", "install")
                self.assertEqual((result.stdout, result.stderr, result.returncode),
                                 (INSTALLED, "", 0))
                self.assertEqual(installed.stat().st_ino == before, installer != STAGE_FOLDER)
                self.assertEqual(self.wait_for_state("RUNNING"), "RUNNING")
                self.assertEqual(self.wait_for_log(mark, 2), ["stopped", "started"])
                self.assert_response(("ping",), PING_OK, 0)
                self.assertEqual(self.log_since(mark)[2:], ["ping: ok"])

    def test_05_a_failed_staging_keeps_the_old_service_and_an_update_replaces_a_running_app(self):
        folder = self.service.install_folder
        (folder / "vemlox-service.exe.partial").mkdir()
        mark = self.log_mark()
        try:
            result = self.service.install()
        finally:
            (folder / "vemlox-service.exe.partial").rmdir()
        self.assertRegex(result.stderr, r"^copy service: .* \(os error 5\)\n$", str(result))
        self.assertEqual((self.service.state(), self.log_since(mark)), ("RUNNING", []))

        # The app runs from the install folder while the update replaces it.
        self.service.copy_into(self.service.exes.pipe_probe, INSTALL_FOLDER + r"\vemlox.exe")
        app = self.prefix.start_background(INSTALL_FOLDER + r"\vemlox.exe", "idle")
        try:
            app.wait_for_line("running")
            result = self.service.install()
            pending = self.prefix.run("reg", "query", PENDING_KEY, "/v", "PendingFileRenameOperations")
        finally:
            app.release()
        self.assertEqual((result.stdout, result.stderr, result.returncode), (INSTALLED, "", 0))
        self.assertEqual((folder / "vemlox.exe").read_bytes(), self.service.exes.client.read_bytes())
        # The running file was set aside: deleted, or left for Windows to delete at the restart.
        for left in folder.glob("*.replaced-*"):
            self.assertIn(left.name, pending.stdout)
        # Once it no longer runs, the next install clears it away.
        self.assertEqual(self.service.install().returncode, 0)
        self.assertEqual(list(folder.glob("*.replaced-*")) + list(folder.glob("*.partial")), [])

    def test_06_uninstall_removes_the_service_and_keeps_the_files(self):
        # The service logs "started" just after the running report that install waits for.
        deadline = time.monotonic() + 30
        while self.service.log_messages()[-1:] != ["started"] and time.monotonic() < deadline:
            time.sleep(0.05)
        mark = self.log_mark()
        result = self.service.uninstall()
        self.assertEqual((result.stdout, result.stderr, result.returncode),
                         (f"Service removed. The files in {INSTALL_FOLDER} can now be deleted.\n",
                          "", 0))
        self.assertIsNone(self.wait_for_state(None))
        self.assertEqual(self.wait_for_log(mark, 1), ["stopped"])
        self.assert_failure(self.service.client("ping"), "vemlox-client: the Vemlox service is "
                            "not installed (nothing serves \\\\.\\pipe\\vemlox)\n", 3)
        for name in ["vemlox-service.exe", "vemlox.exe", "service.log"]:
            self.assertTrue((self.service.install_folder / name).is_file(), name)
        self.assert_failure(self.service.uninstall(), "open service: IO error in winapi call\n")

    def start_slow_old_service(self) -> None:
        """Something else registered and running as the service, slow to stop: it stops only once
        released (see slow_service.cpp)."""
        slow = self.prefix.host_path(SLOW_FOLDER)
        if self.service.state() is not None:
            if slow.exists():
                (slow / "release").touch()
            self.assertEqual(self.service.uninstall().returncode, 0)
        for marker in ("stopping", "release"):
            (slow / marker).unlink(missing_ok=True)
        if not (slow / "slow_service.exe").exists():
            self.service.copy_into(self.service.exes.slow_service, SLOW_FOLDER + r"\slow_service.exe")
        for command in [("sc", "create", SERVICE, "binPath=", SLOW_FOLDER + r"\slow_service.exe"),
                        ("net", "start", SERVICE)]:
            result = self.prefix.run(*command)
            self.assertEqual(result.returncode, 0, str(result))

    def test_07_a_pipe_not_served_by_the_running_service_gets_nothing(self):
        self.start_slow_old_service()
        squatter_id = self.start_squatter()
        result = self.service.client("ping", program=STAGE_FOLDER + r"\vemlox.exe")
        match = re.fullmatch(r"vemlox-client: \\\\\.\\pipe\\vemlox is served by process "
                             r"(\d+) while the Vemlox service is process (\d+); "
                             r"nothing was sent\n", result.stderr)
        self.assertIsNotNone(match, str(result))
        self.assertEqual(match.group(1), squatter_id)
        self.assertNotEqual(match.group(2), squatter_id)
        self.assertEqual(result.returncode, 3)

    def test_08_an_install_installs_the_files_it_started_with_though_they_are_swapped(self):
        # While the installer waits for the old service to stop, a process of the same user renames
        # the running installer (or the app next to it) and puts another program at its path.
        self.plant(self.service.exes.pipe_probe, OTHER_PROGRAM)
        for name, original in [("vemlox-service.exe", self.service.exes.service),
                               ("vemlox.exe", self.service.exes.client)]:
            with self.subTest(swapped=name):
                self.service.stage()
                self.start_slow_old_service()
                results = []
                installer = threading.Thread(target=lambda: results.append(self.service.install()))
                installer.start()
                try:
                    stopping = self.prefix.host_path(SLOW_FOLDER) / "stopping"
                    deadline = time.monotonic() + 60
                    while not stopping.exists():
                        if not installer.is_alive() or time.monotonic() > deadline:
                            self.fail(f"the installer never asked the old service to stop: {results}")
                        time.sleep(0.05)
                    # Either step alone is refused while the installer holds the file.
                    path = STAGE_FOLDER + "\\" + name
                    self.prefix.run("cmd", "/c", f"move /y {path} {path}.moved & copy /y "
                                                 f"{OTHER_PROGRAM} {path}")
                finally:
                    (self.prefix.host_path(SLOW_FOLDER) / "release").touch()
                    installer.join(timeout=180)
                installed = (self.service.install_folder / name).read_bytes()
                self.assertTrue(installed == original.read_bytes(),
                                f"the installed {name} is not the program the install started with")
                self.assertEqual(results[0].returncode, 0, str(results[0]))



class UninstallWaitsAndMarkedServiceTest(ServiceTestCase):
    """Uninstall waits for a request in progress before it says the files are free; an install
    after an uninstall while another program holds the service open (the Services console) fails
    before it touches a file, and works once that program lets go."""

    HOLDER = r"C:\Elsewhere\pipe_probe.exe"

    def installed_files(self) -> dict[str, tuple[int, bytes]]:
        folder = self.service.install_folder
        return {p.name: (p.stat().st_ino, p.read_bytes()) for p in sorted(folder.iterdir())
                if p.is_file()}

    def test_01_uninstall_during_a_request_reports_removal_only_once_the_service_stopped(self):
        mark = self.log_mark()
        request = self.start_request_held_in_powershell(10000)
        result = self.service.uninstall()
        self.assertEqual((result.stdout, result.stderr, result.returncode),
                         (f"Service removed. The files in {INSTALL_FOLDER} can now be deleted.\n",
                          "", 0))
        # Said only once the service had answered, stopped and gone: nothing is left to wait for.
        self.assertIsNone(self.service.state())
        self.assertEqual([m.split(":")[0] for m in self.log_since(mark)],
                         ["enable_adapters", "stopped"])
        self.assertEqual(request.process.wait(timeout=60), 0, request.text())

    def test_02_install_fails_untouched_while_a_deleted_service_is_held_then_works(self):
        if self.service.state() is None:
            self.assertEqual(self.service.install().returncode, 0)
        self.plant(self.service.exes.pipe_probe, self.HOLDER)
        holder = self.prefix.start_background(self.HOLDER, "service")
        self.addCleanup(holder.release)
        holder.wait_for_line("holding")
        result = self.service.uninstall()
        self.assertEqual(result.returncode, 0, str(result))
        # Deleted, yet still there while the holder keeps its handle.
        self.assertIsNone(holder.process.poll(), "the holder must hold the service")
        self.assertEqual(self.service.state(), "STOPPED")

        before = self.installed_files()
        result = self.service.install()
        self.assertRegex(result.stderr, r"^create service: .* \(os error 1072\)\n$", str(result))
        self.assertEqual((result.stdout, result.returncode), ("", 1))
        self.assertIsNone(holder.process.poll(), "the holder must have held the service throughout")
        # Not a file touched, nothing staged or set aside.
        self.assertEqual(self.installed_files(), before)

        holder.release()
        result = self.service.install()
        self.assertEqual((result.stdout, result.stderr, result.returncode), (INSTALLED, "", 0))
        self.assertEqual(self.service.state(), "RUNNING")
        self.assert_response(("ping",), PING_OK, 0)

if __name__ == "__main__":
    unittest.main()
