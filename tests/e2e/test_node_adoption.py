"""The Node client package (clients/node) taken by an app the ways its README tells, each command
run as the README writes it: packed and installed by its name into the ping app
(clients/node/test/apps/ping-app), installed from its folder, bundled by esbuild into CommonJS and
ES module output, compiled from TypeScript (module commonjs and nodenext). Each build of the app
then runs under Wine in the Node of Electron 33 and 34 (20.18) or the current one (22), as
vemlox-app.exe in the install folder, against the real installed service; and once without
koffi's Windows binary, where the package must still load and its calls fail as VemloxErrors.

The installs take what npm's cache in build/npm-cache holds and the rest from the registry (the
app's lockfile pins it); the two builds of Node for Windows are fetched by scripts/test to
build/windows-node (22) and build/windows-node-20 (20.18)."""

from __future__ import annotations

import concurrent.futures
import json
import os
import shutil
import subprocess
import unittest
from pathlib import Path, PureWindowsPath

from installation import INSTALL_FOLDER, REPO, work_folder
from service_case import ServiceTestCase
from wine_prefix import Result

PACKAGE = REPO / "clients" / "node"
README = PACKAGE / "README.md"
PING_APP = PACKAGE / "test" / "apps" / "ping-app"
NODES = {
    "20": Path(os.environ.get("VEMLOX_WINDOWS_NODE_20",
                              REPO / "build" / "windows-node-20" / "node.exe")),
    "22": Path(os.environ.get("VEMLOX_WINDOWS_NODE", REPO / "build" / "windows-node" / "node.exe")),
}
VERSIONS = {"20": "v20.18.1", "22": "v22.23.3"}
APP = INSTALL_FOLDER + r"\vemlox-app.exe"
BUNDLES = r"C:\Bundles"

# The README's commands, word for word, each block run by bash from the folder that holds the
# app's folder (my-app) beside the repository's checkout (vemlox).
PACK_AND_INSTALL = """\
cd vemlox/clients/node
npm pack
cd ../../../my-app
npm install ../vemlox/clients/node/vemlox-client-1.0.0.tgz
"""
INSTALL_FOLDER_DEPENDENCY = """\
cd my-app
echo install-links=true >> .npmrc
npm install ../vemlox/clients/node
"""
# Run in the app's folder.
BUNDLE_COMMONJS = "npx esbuild main.cjs --bundle --platform=node --loader:.node=copy " \
    "--outdir=dist/cjs"
BUNDLE_ES_MODULE = "npx esbuild main.mjs --bundle --platform=node --format=esm " \
    "--loader:.node=copy --outdir=dist/esm --out-extension:.js=.mjs " \
    "\"--banner:js=import { createRequire } from 'node:module'; " \
    "const require = createRequire(import.meta.url);\""

# npm's downloads come from the build folder's cache while they are good there.
NPM_ENVIRONMENT = {
    "npm_config_cache": str(REPO / "build" / "npm-cache"),
    "npm_config_prefer_offline": "true",
    "npm_config_audit": "false",
    "npm_config_fund": "false",
    "npm_config_update_notifier": "false",
}


def windows_path(host: Path) -> str:
    """The Z: path under which Wine shows a host path."""
    return str(PureWindowsPath("Z:\\", *host.resolve().parts[1:]))


def shell(script: str, cwd: Path) -> None:
    done = subprocess.run(["bash", "-euo", "pipefail", "-c", script], cwd=cwd,
                          env={**os.environ, **NPM_ENVIRONMENT}, capture_output=True, text=True,
                          timeout=600)
    if done.returncode != 0:
        raise AssertionError(f"{script!r} in {cwd} failed (exit {done.returncode}):\n"
                             f"{done.stdout}\n{done.stderr}")


class NodeAdoptionTest(ServiceTestCase):
    @classmethod
    def setUpClass(cls) -> None:
        for needed in NODES.values():
            if not needed.is_file():
                raise FileNotFoundError(f"not fetched: {needed} (scripts/test fetches it)")
        readme = README.read_text(encoding="utf-8")
        for block in (PACK_AND_INSTALL, INSTALL_FOLDER_DEPENDENCY, BUNDLE_COMMONJS,
                      BUNDLE_ES_MODULE):
            if block not in readme:
                raise AssertionError(f"the package README no longer says {block!r}")
        # The installs and builds on Linux run while the prefix is made and the service installed.
        with concurrent.futures.ThreadPoolExecutor(max_workers=1) as pool:
            built = pool.submit(cls.build_apps)
            super().setUpClass()
            try:
                cls.apps = built.result()
            except BaseException:
                cls.prefix.remove()
                raise
        try:
            # Node for Windows refuses Wine's default Windows 7.
            version = cls.prefix.run("reg", "add", r"HKCU\Software\Wine", "/v", "Version",
                                     "/t", "REG_SZ", "/d", "win10", "/f")
            if version.returncode != 0:
                raise AssertionError(f"cannot set the prefix's Windows version: {version}")
            # The bundles run from a folder of their own, with no node_modules above them.
            for output in ("cjs", "esm"):
                shutil.copytree(cls.apps["tarball"] / "dist" / output,
                                cls.prefix.host_path(BUNDLES + "\\" + output))
        except BaseException:
            cls.prefix.remove()
            raise
        cls.staged = None

    @classmethod
    def build_apps(cls) -> dict[str, Path]:
        """The app folders as a developer has them after following the README: each install
        form in a fresh folder that holds the app (my-app) beside a copy of the repository's
        package (vemlox/clients/node)."""
        root = work_folder() / "node-adoption"
        shutil.rmtree(root, ignore_errors=True)
        apps = {}
        for form, commands in (("tarball", PACK_AND_INSTALL),
                               ("folder", INSTALL_FOLDER_DEPENDENCY)):
            shutil.copytree(PACKAGE, root / form / "vemlox" / "clients" / "node",
                            ignore=shutil.ignore_patterns("node_modules", "*.tgz"))
            app = apps[form] = root / form / "my-app"
            if form == "tarball":
                shutil.copytree(PING_APP, app, ignore=shutil.ignore_patterns(
                    "node_modules", "dist"))
            else:
                # The same app with no dependency of its own.
                app.mkdir()
                for source in ("main.cjs", "main.mjs", "calls.cjs"):
                    shutil.copyfile(PING_APP / source, app / source)
                (app / "package.json").write_text(json.dumps(
                    {"name": "vemlox-ping-app", "version": "1.0.0", "private": True}))
            shell(commands, root / form)
        # TypeScript with module commonjs (tsconfig.json) and nodenext (tsconfig.esm.json).
        for command in (BUNDLE_COMMONJS, BUNDLE_ES_MODULE, "npx tsc -p tsconfig.json",
                        "npx tsc -p tsconfig.esm.json"):
            shell(command, apps["tarball"])

        # The app whose node_modules lost koffi's Windows binary, as a careless packaging does.
        lost = apps["lost"] = root / "lost-native"
        lost.mkdir()
        for source in ("main.cjs", "main.mjs", "calls.cjs", "package.json"):
            shutil.copyfile(PING_APP / source, lost / source)
        for dependency in ("@vemlox/client", "koffi"):
            shutil.copytree(apps["tarball"] / "node_modules" / dependency,
                            lost / "node_modules" / dependency,
                            ignore=shutil.ignore_patterns("win32_x64"))
        return apps

    def run_app(self, node: str, script: str) -> dict:
        """The one line the app at `script` (a C: path or a host path) printed, run by Node
        `node` ("20" or "22") as vemlox-app.exe."""
        if self.staged != node:
            self.service.copy_into(NODES[node], APP)
            type(self).staged = node
        result: Result = self.prefix.run(APP, script)
        lines = result.stdout.splitlines()
        self.assertEqual((result.returncode, len(lines)), (0, 1), str(result))
        return json.loads(lines[0])

    def assert_served(self, outcome: dict, node: str, **loaded) -> None:
        """The outcome of an app whose package reached the service: the ping answered, and the
        service's refusal arrived as a VemloxError with its own text."""
        self.assertEqual(outcome, {
            "node": VERSIONS[node], **loaded,
            "ping": {"result": None},
            "refused": {"error": {"name": "VemloxError", "kind": "Rejected",
                                  "code": "VEMLOX_REJECTED", "message": "invalid adapter list",
                                  "isVemloxError": True}},
        })

    def test_1_the_installed_package_from_commonjs_es_modules_and_typescript(self):
        app = self.apps["tarball"]
        cases = [
            ("20", app / "main.cjs", {"loaded": "require", "oneInstance": True}),
            ("20", app / "main.mjs", {"loaded": "import"}),
            ("20", app / "dist" / "typescript" / "main.js", {"loaded": "typescript"}),
            ("20", app / "dist" / "typescript" / "main.mjs", {"loaded": "typescript-esm"}),
            ("22", app / "main.mjs", {"loaded": "import"}),
            ("22", app / "main.cjs", {"loaded": "require", "oneInstance": True}),
        ]
        mark = self.log_mark()
        for node, script, loaded in cases:
            with self.subTest(node=node, script=script.name):
                self.assert_served(self.run_app(node, windows_path(script)), node, **loaded)
        # Each run's two requests reached the service as sent, in order.
        self.assertEqual(self.wait_for_log(mark, 2 * len(cases)),
                         ["ping: ok", "rejected (36 bytes): invalid adapter list"] * len(cases))

    def test_2_bundles_carry_the_native_part(self):
        for output in ("cjs", "esm"):
            folder = self.prefix.host_path(BUNDLES + "\\" + output)
            # The bundle and koffi's binaries, nothing else: no node_modules to fall back on.
            self.assertEqual({path.suffix for path in folder.iterdir()},
                             {".js" if output == "cjs" else ".mjs", ".node"})
        for node, output, script, loaded in [
            ("20", "cjs", "main.js", "require"),
            ("20", "esm", "main.mjs", "import"),
            ("22", "esm", "main.mjs", "import"),
        ]:
            with self.subTest(node=node, output=output):
                extra = {"oneInstance": True} if output == "cjs" else {}
                self.assert_served(self.run_app(node, f"{BUNDLES}\\{output}\\{script}"), node,
                                   loaded=loaded, **extra)

    def test_3_the_folder_dependency(self):
        folder_app = self.apps["folder"]
        # Installed as a copy with its own koffi, not linked to the package's folder.
        self.assertFalse((folder_app / "node_modules" / "@vemlox" / "client").is_symlink())
        self.assertTrue((folder_app / "node_modules" / "koffi" / "package.json").is_file())
        self.assert_served(self.run_app("22", windows_path(folder_app / "main.cjs")), "22",
                           loaded="require", oneInstance=True)

    def test_4_without_the_native_part_the_package_loads_and_each_call_fails(self):
        lost = self.apps["lost"]
        koffi_builds = lost / "node_modules" / "koffi" / "build" / "koffi"
        # Only Windows x64's binary is missing; the rest of koffi is there.
        self.assertFalse((koffi_builds / "win32_x64").exists())
        self.assertTrue((koffi_builds / "win32_ia32" / "koffi.node").is_file())
        mark = self.log_mark()
        for node, script, loaded in [
            ("20", "main.mjs", {"loaded": "import"}),
            ("20", "main.cjs", {"loaded": "require", "oneInstance": True}),
        ]:
            with self.subTest(node=node, script=script):
                outcome = self.run_app(node, windows_path(lost / script))
                self.assertEqual({key: outcome[key] for key in ("node", *loaded)},
                                 {"node": VERSIONS[node], **loaded}, outcome)
                for call in ("ping", "refused"):
                    error = outcome[call].get("error", {})
                    self.assertEqual(
                        (error.get("name"), error.get("kind"), error.get("code"),
                         error.get("isVemloxError")),
                        ("VemloxError", "Unsupported", "VEMLOX_UNSUPPORTED", True), outcome)
                    self.assertRegex(error["message"], r"^the package's native part \(koffi\) "
                                     r"cannot be loaded: .+; nothing was sent$")
        # Nothing reached the service.
        self.assertEqual(self.log_since(mark), [])

    def test_5_an_app_imports_it_on_linux(self):
        # An app that shares its code with Linux, or runs its unit tests there: the import works,
        # and each call fails as a VemloxError.
        for script in ("main.mjs", "main.cjs"):
            with self.subTest(script=script):
                done = subprocess.run(["node", script], cwd=self.apps["tarball"],
                                      capture_output=True, text=True, timeout=60)
                self.assertEqual(done.returncode, 0, done)
                outcome = json.loads(done.stdout)
                for call in ("ping", "refused"):
                    error = outcome[call].get("error", {})
                    self.assertEqual(
                        (error.get("name"), error.get("code"), error.get("isVemloxError")),
                        ("VemloxError", "VEMLOX_UNSUPPORTED", True), outcome)


if __name__ == "__main__":
    unittest.main()
