"""Updating the installed service in place under Wine's Service Control Manager: an installed file
held by a reader, a handle to the service held by another program, a long request in progress,
and an installer killed at moments spread over an update."""

from __future__ import annotations

import json
import stat
import subprocess
import threading
import time
import unittest

from installation import INSTALL_FOLDER, SERVICE, STAGE_FOLDER
from service_case import ServiceTestCase

PING_OK = '{"status":"ok","version":1}'
INSTALLED = f"Installed and started. Open the app from {INSTALL_FOLDER}\n"
PROBE = r"C:\Elsewhere\pipe_probe.exe"
REGISTRATION_KEY = rf"HKLM\System\CurrentControlSet\Services\{SERVICE}"
INSTALLED_NAMES = ["vemlox-service.exe", "vemlox.exe"]
# Points in an uninterrupted update, as fractions of its duration, at which an installer is killed.
KILL_POINTS = [0.15, 0.2, 0.25, 0.3, 0.35, 0.45]


class UpdateInPlaceTest(ServiceTestCase):
    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        cls.service.copy_into(cls.service.exes.pipe_probe, PROBE)

    def installed(self, name: str):
        return self.service.install_folder / name

    def identities(self) -> dict[str, int]:
        """Which file each installed name holds (a file moved back is the same file again)."""
        return {name: self.installed(name).stat().st_ino for name in INSTALLED_NAMES}

    def leftovers(self) -> list[str]:
        folder = self.service.install_folder
        return sorted(p.name for p in [*folder.glob("*.partial"), *folder.glob("*.replaced-*")])

    def hold(self, *args: str):
        holder = self.prefix.start_background(PROBE, *args)
        self.addCleanup(holder.release)
        holder.wait_for_line("holding")
        return holder

    def assert_serving(self) -> None:
        self.assertEqual(self.wait_for_state("RUNNING"), "RUNNING")
        self.assert_response(("--wait", "30", "ping"), PING_OK, 0)

    def test_01_a_held_installed_file_fails_the_update_and_leaves_every_file_as_it_was(self):
        # The service's own file is moved first, so a held app file also shows it moved back.
        for name, what in [("vemlox-service.exe", "service"), ("vemlox.exe", "vemlox.exe")]:
            with self.subTest(held=name):
                before = self.identities()
                path = INSTALL_FOLDER + "\\" + name
                holder = self.hold("hold", path)
                # The hold holds: a Windows program may not rename the file.
                renamed = self.prefix.run(PROBE, "rename", path, path + ".moved")
                self.assertEqual(renamed.stdout, "rename failed: 32\n", str(renamed))
                mark = self.log_mark()
                result = self.service.install()
                holder.release()
                self.assertRegex(result.stderr, rf"^copy {what}: .* \(os error 32\)\n$", str(result))
                self.assertEqual((result.stdout, result.returncode), ("", 1))
                self.assertEqual(self.identities(), before)
                self.assertEqual(self.leftovers(), [])
                # Never stopped: still registered, running and answering.
                self.assert_serving()
                self.assertEqual(self.log_since(mark), ["ping: ok"])

    def registration(self) -> list[str]:
        """The service's registry values; an empty Group is no group, as none is."""
        result = self.prefix.run("reg", "query", REGISTRATION_KEY)
        self.assertEqual(result.returncode, 0, str(result))
        return [line.strip() for line in result.stdout.splitlines()
                if line.strip() and line.split() != ["Group", "REG_SZ"]]

    def test_02_a_held_service_handle_does_not_hold_up_the_update(self):
        holder = self.hold("service")
        self.assert_serving()
        first_registration = self.registration()
        # It opened the handle before saying "holding", and keeps it until it exits.
        self.assertIsNone(holder.process.poll(), "the holder must hold the service")
        mark = self.log_mark()
        result = self.service.install()
        self.assertEqual((result.stdout, result.stderr, result.returncode), (INSTALLED, "", 0))
        # Set again, the registration is the one a first install makes.
        self.assertEqual(self.registration(), first_registration)
        self.assertIsNone(holder.process.poll(), "the holder must still hold the service")
        self.assert_serving()
        holder.release()
        self.assert_serving()
        self.assertEqual(self.log_since(mark), ["stopped", "started", "ping: ok", "ping: ok"])

    def test_03_a_long_request_is_answered_before_the_update_stops_the_service(self):
        mark = self.log_mark()
        request = self.start_request_held_in_powershell(20000)
        result = self.service.install()
        self.assertEqual((result.stdout, result.stderr, result.returncode), (INSTALLED, "", 0))
        self.assertEqual(request.process.wait(timeout=60), 0, request.text())
        self.assertEqual(json.loads(request.text())["status"], "ok")
        lines = self.wait_for_log(mark, 3)
        self.assertEqual(lines[1:3], ["stopped", "started"])
        self.assertTrue(lines[0].startswith("enable_adapters: ok"), lines)
        self.assert_serving()

    def test_04_an_installer_killed_at_any_moment_leaves_a_service_that_runs(self):
        started = time.monotonic()
        self.assertEqual(self.service.install().returncode, 0)
        duration = time.monotonic() - started
        contents = {"vemlox-service.exe": self.service.exes.service.read_bytes(),
                    "vemlox.exe": self.service.exes.client.read_bytes()}
        for point in KILL_POINTS:
            with self.subTest(killed_at=point):
                installer = self.prefix.start_background(STAGE_FOLDER + r"\vemlox-service.exe",
                                                         "install")
                time.sleep(duration * point)
                installer.process.kill()
                installer.release(timeout=30)
                self.assertIsNotNone(self.service.state(), "the registration is gone")
                missing = [name for name in contents if not self.installed(name).exists()]
                for name, content in contents.items():
                    if name in missing:
                        # Killed between the two renames of the file: the set-aside copy is
                        # complete, and the next install puts it back first.
                        set_aside = self.service.install_folder.glob(name + ".replaced-*")
                        self.assertTrue(any(p.read_bytes() == content for p in set_aside), name)
                    else:
                        self.assertEqual(self.installed(name).read_bytes(), content, name)
                if missing:
                    self.assertEqual(self.service.install().returncode, 0)
                if self.service.state() != "RUNNING":
                    self.prefix.run("net", "start", SERVICE)
                self.assert_serving()

    def test_05_the_next_install_restores_a_file_left_between_two_renames(self):
        # As an installer killed between setting the service's file aside and moving the new one
        # in leaves it, with the service stopped; then an install that fails before any copy.
        self.assertEqual(self.prefix.run("net", "stop", SERVICE).returncode, 0)
        self.assertEqual(self.wait_for_state("STOPPED"), "STOPPED")
        installed = self.installed("vemlox-service.exe")
        installed.rename(installed.with_name(installed.name + ".replaced-133000000000000000"))
        partial = self.installed("vemlox.exe.partial")
        # An installer killed while staging (the case before) may have left the partial file.
        partial.unlink(missing_ok=True)
        partial.mkdir()
        try:
            result = self.service.install()
        finally:
            partial.rmdir()
        self.assertRegex(result.stderr, r"^copy vemlox.exe: .* \(os error 5\)\n$", str(result))
        self.assertEqual(installed.read_bytes(), self.service.exes.service.read_bytes())
        self.assertEqual(self.leftovers(), [])
        self.assertEqual(self.prefix.run("net", "start", SERVICE).returncode, 0)
        self.assert_serving()

    def test_10_an_update_waits_for_a_scanner_that_holds_the_app_for_a_few_seconds(self):
        before = self.identities()
        folder = self.service.install_folder
        app = INSTALL_FOLDER + r"\vemlox.exe"
        holder = self.hold("hold", app)
        renamed = self.prefix.run(PROBE, "rename", app, app + ".moved")
        self.assertEqual(renamed.stdout, "rename failed: 32\n", str(renamed))
        outcome = {}
        installer = threading.Thread(
            target=lambda: outcome.update(result=self.service.install()), daemon=True)
        installer.start()
        # Seen waiting at the held file: the service's file moved in, the app's still beside it.
        deadline = time.monotonic() + 60
        while not ((folder / "vemlox.exe.partial").exists()
                   and list(folder.glob("vemlox-service.exe.replaced-*"))):
            self.assertTrue(installer.is_alive(), f"install did not wait: {outcome}")
            self.assertLess(time.monotonic(), deadline, "install never reached the held file")
            time.sleep(0.05)
        time.sleep(2)
        self.assertTrue((folder / "vemlox.exe.partial").exists(), "install went past the hold")
        self.assertIsNone(holder.process.poll(), "the holder must still hold the app")
        holder.release()
        installer.join(timeout=120)
        self.assertFalse(installer.is_alive(), "install did not end")
        result = outcome["result"]
        self.assertEqual((result.stdout, result.stderr, result.returncode), (INSTALLED, "", 0))
        after = self.identities()
        self.assertTrue(all(after[name] != before[name] for name in INSTALLED_NAMES), after)
        self.assertEqual(self.installed("vemlox.exe").read_bytes(),
                         self.service.exes.client.read_bytes())
        self.assertEqual(self.leftovers(), [])
        self.assert_serving()

    def test_11_install_protects_the_folder_it_finds_before_it_writes_anything(self):
        # Wine keeps no file DACL that reads back, but it writes a DACL set on a folder through
        # to the folder's Unix mode bits, and fails the call when it cannot change them. A folder
        # whose mode install would change, made immutable, shows that the step comes before any
        # file is touched and fails with its own message; once mutable, that it is taken.
        folder = self.service.install_folder
        before = self.identities()
        folder.chmod(0o700)
        frozen = subprocess.run(["chattr", "+i", str(folder)], capture_output=True, text=True)
        if frozen.returncode != 0:
            self.skipTest(f"the folder cannot be made immutable here: {frozen.stderr.strip()}")
        self.addCleanup(subprocess.run, ["chattr", "-i", str(folder)], check=False)
        mark = self.log_mark()
        try:
            result = self.service.install()
        finally:
            subprocess.run(["chattr", "-i", str(folder)], check=True)
        self.assertRegex(result.stderr, r"^protect install folder: .* \(os error 5\)\n$",
                         str(result))
        self.assertEqual((result.stdout, result.returncode), ("", 1))
        self.assertEqual(self.identities(), before)
        self.assertEqual(self.leftovers(), [])
        self.assert_serving()
        self.assertEqual(self.log_since(mark), ["ping: ok"])

        self.assertEqual(stat.S_IMODE(folder.stat().st_mode), 0o700)
        result = self.service.install()
        self.assertEqual((result.stdout, result.stderr, result.returncode), (INSTALLED, "", 0))
        self.assertNotEqual(stat.S_IMODE(folder.stat().st_mode), 0o700,
                            "install set no DACL on the folder it found")
        self.assert_serving()



class LingeringOldProcessTest(ServiceTestCase):
    """An old service whose process outlives its stopped report by a few seconds, holding the
    service's pipe name all the while (see slow_service.cpp): an update waits for that process to
    end, so that the new service can create its pipe and answer."""

    install_at_start = False
    SLOW = r"C:\Slow"
    SQUATTER = r"C:\Elsewhere\pipe_probe.exe"

    def test_01_an_update_waits_for_the_old_process_that_outlives_its_stop(self):
        slow = self.prefix.host_path(self.SLOW)
        self.service.copy_into(self.service.exes.slow_service, self.SLOW + r"\slow_service.exe")
        # Stops as soon as asked, then lingers.
        for marker in ("linger", "release"):
            (slow / marker).touch()
        for command in [("sc", "create", SERVICE, "binPath=", self.SLOW + r"\slow_service.exe"),
                        ("net", "start", SERVICE)]:
            result = self.prefix.run(*command)
            self.assertEqual(result.returncode, 0, str(result))
        self.assertEqual(self.wait_for_state("RUNNING"), "RUNNING")
        # The old process holds the pipe name: nobody else may create it.
        self.service.copy_into(self.service.exes.pipe_probe, self.SQUATTER)
        squat = self.prefix.run(self.SQUATTER, "squat")
        self.assertEqual(squat.stdout, "create pipe failed: 231\n", str(squat))

        result = self.service.install()
        self.assertEqual((result.stdout, result.stderr, result.returncode), (INSTALLED, "", 0))
        self.assertTrue((slow / "exited").exists(), "the old process must have ended first")
        self.assertEqual(self.wait_for_state("RUNNING"), "RUNNING")
        self.assert_response(("--wait", "30", "ping"), PING_OK, 0)
        self.assertEqual(self.service.log_messages(), ["started", "ping: ok"])

    def test_02_a_failed_start_names_this_starts_exit_code_and_never_the_last_runs(self):
        self.assertEqual(self.prefix.run("net", "stop", SERVICE).returncode, 0)
        self.assertEqual(self.wait_for_state("STOPPED"), "STOPPED")
        self.assertEqual(self.prefix.service_status(SERVICE)["WIN32_EXIT_CODE"][0], "0")
        squatter = self.prefix.start_background(self.SQUATTER, "squat")
        self.addCleanup(squatter.release)
        squatter.wait_for_line("holding")
        # The new service cannot create its pipe: it stops with 231 during this start.
        result = self.service.install()
        self.assertRegex(result.stderr, r"^start service: .* \(os error 231\)\n$", str(result))
        self.assertEqual((result.stdout, result.returncode), ("", 1))
        # Started again, it stops the same way, but 231 was there before the start: Wine's
        # manager refuses the start with 1053 exactly as for a program that never connects to it.
        result = self.service.install()
        self.assertRegex(result.stderr, r"^start service: .* \(os error 1053\)\n$", str(result))
        self.assertEqual(self.prefix.service_status(SERVICE)["WIN32_EXIT_CODE"][0], "231")
        squatter.release()
        result = self.service.install()
        self.assertEqual((result.stdout, result.stderr, result.returncode), (INSTALLED, "", 0))
        self.assert_response(("--wait", "30", "ping"), PING_OK, 0)

if __name__ == "__main__":
    unittest.main()
