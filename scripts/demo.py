"""The demo: the service installed into a private Wine prefix and driven through the client the
way the desktop application drives it, every request and response shown, with the stand-in
PowerShell's journal of what each operation ran, then the service log, the uninstall and the end
of the prefix. Run by scripts/demo after the build."""

from __future__ import annotations

import json
import shlex
import sys
import time
from pathlib import Path

# The demo drives the service with the end-to-end tests' own helpers.
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
from installation import (APPROVAL_KEY, INSTALL_FOLDER, RUN_KEY, STAGE_FOLDER,  # noqa: E402
                          Executables, Installation, work_folder)
from wine_prefix import Result, WinePrefix, boot_template  # noqa: E402

# A small machine for the stand-in PowerShell: four physical adapters and one virtual one.
MACHINE = {
    "adapters": [
        {"name": "Ethernet", "status": "Up", "dns": ["192.168.1.1", "192.168.1.2"]},
        {"name": "Wi-Fi", "status": "Up", "dns": []},
        {"name": "Bluetooth PAN", "status": "Disabled", "link": False},
        {"name": "Cellular", "status": "Down", "dns": ["10.64.0.1"]},
        {"name": "vEthernet (WSL)", "status": "Up", "physical": False},
    ]
}

STRANGER = r"C:\Users\Public\Downloads\vemlox.exe"

# A Node app: the Node client package's example, in Node for Windows installed under the app's
# name (scripts/demo fetches it). The script is reached through Wine's Z: drive.
REPO = Path(__file__).resolve().parents[1]
NODE = REPO / "build" / "windows-node" / "node.exe"
NODE_APP = INSTALL_FOLDER + r"\vemlox-app.exe"
NODE_PING = "Z:" + str(REPO / "clients" / "node" / "examples" / "ping.mjs").replace("/", "\\")


def heading(text: str) -> None:
    print(f"\n== {text}", flush=True)


def show_command(args: list[str]) -> None:
    print("   $ " + " ".join(shlex.quote(a) for a in args), flush=True)


def show_result(result: Result) -> None:
    for line in result.stderr.splitlines():
        if line.startswith("request: "):
            print("   request:  " + line[len("request: "):])
        else:
            print("   stderr:   " + line)
    for line in result.stdout.splitlines():
        print("   " + ("response: " if line.startswith("{") else "stdout:   ") + line)
    print(f"   exit code {result.returncode}", flush=True)


class Demo:
    def __init__(self, service: Installation):
        self.service = service
        self.prefix = service.prefix
        self.journal_seen = 0

    def client(self, *args: str, program: str = INSTALL_FOLDER + r"\vemlox.exe") -> Result:
        show_command([program, *args])
        result = self.service.client("--show-request", *args, program=program)
        show_result(result)
        self.show_journal()
        return result

    def node_ping(self) -> Result:
        # Node refuses Wine's default Windows 7.
        self.prefix.run("reg", "add", r"HKCU\Software\Wine", "/v", "Version", "/t", "REG_SZ",
                        "/d", "win10", "/f")
        self.service.copy_into(NODE, NODE_APP)
        show_command([NODE_APP, NODE_PING])
        result = self.prefix.run(NODE_APP, NODE_PING)
        show_result(result)
        return result

    def wine(self, *args: str) -> Result:
        show_command(["wine", *args])
        result = self.prefix.run(*args)
        for line in (result.stdout + result.stderr).splitlines():
            if line.strip():
                print("   " + line)
        return result

    def show_journal(self) -> None:
        entries = self.service.journal()
        for entry in entries[self.journal_seen:]:
            variables = " ".join(f"{name}={json.dumps(entry[name], ensure_ascii=False)}"
                                 for name in ("VLX_ADAPTER", "VLX_DNS") if entry.get(name) is not None)
            print(f"   powershell ran: {entry['script'] or 'a refused call'}"
                  f"{' ' + variables if variables else ''} -> exit {entry['exit_code']}")
        self.journal_seen = len(entries)

    def run(self) -> int:
        heading("install: the download holds vemlox-service.exe and vemlox.exe")
        self.service.stage()
        show_command([STAGE_FOLDER + r"\vemlox-service.exe", "install"])
        result = self.service.install()
        show_result(result)
        if result.returncode != 0:
            return 1
        print(f"   service state: {self.service.state()}")
        print("   install folder: " + ", ".join(
            sorted(p.name for p in self.service.install_folder.iterdir())))
        self.service.stage_powershell(MACHINE)
        print("   staged the stand-in powershell.exe beside the service, simulating: " + ", ".join(
            f"{a['name']} ({a['status']})" for a in MACHINE["adapters"]))

        heading("ping")
        self.client("ping")

        heading("ping from a Node app (clients/node, in Node for Windows as vemlox-app.exe)")
        self.node_ping()

        heading("a caller outside the install folder is turned away")
        self.service.copy_into(self.service.exes.client, STRANGER)
        self.client("ping", program=STRANGER)

        heading("a malformed request is rejected with the parser's text")
        self.client("raw", '{"op":"ping"')
        self.client("raw", '{"op":"disable_adapters","names":["Wi*"]}')

        heading("set_machine_startup: a machine Run entry switched off and on again")
        self.wine("reg", "add", RUN_KEY, "/v", "Updater", "/t", "REG_SZ", "/d",
                  r"C:\Program Files\Updater\updater.exe", "/f")
        self.client("set-machine-startup", "Updater", "off")
        self.wine("reg", "query", APPROVAL_KEY, "/v", "Updater")
        self.client("set-machine-startup", "Updater", "on")
        self.wine("reg", "query", APPROVAL_KEY, "/v", "Updater")
        self.client("set-machine-startup", "Not There", "off")

        heading("create_restore_point (Wine's System Restore always fails with status 0)")
        self.client("create-restore-point")

        heading("enable_adapters: every disabled physical adapter")
        self.client("enable-adapters")

        heading("disable_adapters: named adapters, names compared exactly")
        self.client("disable-adapters", "Wi-Fi")
        self.client("disable-adapters", "Ethernet", "ethernet")
        self.client("enable-adapters")

        heading("renew_ip (Wine's ipconfig does not know /renew; the service does not mind)")
        self.client("renew-ip")

        heading("use_public_dns: the connected adapters, returning what they had")
        result = self.client("use-public-dns")
        saved = json.loads(result.stdout).get("dns", []) if result.returncode == 0 else []

        heading("restore_dns: the app sends back what use_public_dns returned")
        self.client("restore-dns", *(s["adapter"] + "=" + ",".join(s["servers"]) for s in saved))

        heading("use_public_dns when setting the third adapter fails: the first two are put back")
        machine = self.service.machine()
        machine["adapters"].append({"name": "USB LAN", "status": "Up", "dns": ["172.16.0.1"]})
        machine["failures"] = [{"script": "set_dns", "adapter": "USB LAN",
                                "stderr": "Set-DnsClientServerAddress : Access is denied.\r\n",
                                "times": 1}]
        self.service.set_machine(machine)
        self.journal_seen = 0
        self.client("use-public-dns")

        heading("the simulated machine afterwards")
        for entry in self.service.machine()["adapters"]:
            print(f"   {entry['name']}: {entry.get('status', 'Up')}, DNS {entry.get('dns', [])}")

        heading("the service log (" + INSTALL_FOLDER + r"\service.log)")
        for line in self.service.log_lines():
            print(f"   {line.timestamp} {line.message}")

        heading("uninstall")
        show_command([STAGE_FOLDER + r"\vemlox-service.exe", "uninstall"])
        result = self.service.uninstall()
        show_result(result)
        print(f"   service state: {self.service.state() or 'not installed'}")
        return 0 if result.returncode == 0 else 1


def main() -> int:
    started = time.monotonic()
    exes = Executables.from_environment()
    work = work_folder()
    heading("a private Wine prefix")
    template = boot_template(work / "template")
    prefix = WinePrefix.copy_of(template, work / "demo-prefix")
    print(f"   WINEPREFIX={prefix.path}")
    try:
        prefix.start()
        status = Demo(Installation(prefix, exes)).run()
    finally:
        prefix.remove()
    heading("the prefix was shut down (wineserver -k) and removed")
    print(f"\ndone in {time.monotonic() - started:.1f} s")
    return status


if __name__ == "__main__":
    sys.exit(main())
