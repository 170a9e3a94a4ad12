"""The real updater, under Wine, against the service: a whole silent update
with a signed answer, and the reports it sends arriving in the database and
moving the offer's counts. Under gunicorn with PostgreSQL, and with the
built-in server and SQLite.

Run by ctest (service_updater_end_to_end), which names the build folder in
VLRN_BUILD_DIR and its Wine prefix in WINEPREFIX."""

import os
import sqlite3
import subprocess
import unittest
import uuid

import support

BUILD = os.environ.get("VLRN_BUILD_DIR", "")
UPDATER = os.path.join(BUILD, "bin", "VLRenovaWorkerSigned.exe")
# The first of the tests' keys is built into VLRenovaWorkerSigned.exe.
KEY = os.path.join(BUILD, "test-keys", "instruction-1.pem")
EXIT_NOTHING_TO_DO = 0
EXIT_UPDATE_INSTALLED = 8
RUN_TIME_LIMIT = 180


def wine(*args, timeout=60):
    return subprocess.run(["wine"] + list(args), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=timeout)


def machine_guid():
    """The prefix's MachineGuid, which the updater sends."""
    out = wine("reg", "query", r"HKLM\Software\Microsoft\Cryptography", "/v", "MachineGuid").stdout
    for line in out.decode("utf-8", "replace").splitlines():
        if "MachineGuid" in line:
            return line.split()[-1]
    raise AssertionError("the prefix has no MachineGuid: %r" % out)


def version_info(name, version):
    return ("%s\r\n%s\r\n1033\r\n\r\n" % (name, version)).encode("ascii")


class InstalledProduct:
    """A product at 1.0.0 in a folder of the prefix's drive C:, pointed at the service."""

    def __init__(self, base_url):
        self.name = "Service End To End %s" % uuid.uuid4().hex[:8]
        self.windows_folder = "C:\\vlrn-service-e2e\\" + self.name
        self.folder = os.path.join(os.environ["WINEPREFIX"], "drive_c", "vlrn-service-e2e", self.name)
        os.makedirs(self.folder)
        with open(os.path.join(self.folder, "VersionInfo.txt"), "wb") as f:
            f.write(version_info(self.name, "1.0.0"))
        self.settings_key = "HKCU\\Software\\Velbor\\Velbor Renova\\" + self.name
        done = wine("reg", "add", self.settings_key, "/v", "DebugUrl_v2", "/d", base_url, "/f")
        assert done.returncode == 0, done.stderr

    def run_silent_update(self):
        done = subprocess.run(["wine", UPDATER, "-ProgramName", self.name, "-ProgramVersion", self.version(),
                               "-Language", "1033", "-InstalledLocation", self.windows_folder, "-UpdateSilent"],
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=RUN_TIME_LIMIT)
        return done.returncode

    def version(self):
        with open(os.path.join(self.folder, "VersionInfo.txt"), "rb") as f:
            return f.read().decode("ascii").splitlines()[1]

    def remove(self):
        wine("reg", "delete", self.settings_key, "/f")
        subprocess.run(["rm", "-rf", self.folder])


class UpdaterEndToEnd:
    """The same story on each database and server; subclasses choose them."""
    gunicorn_workers = 0

    def database(self, folder):
        raise NotImplementedError

    def stored_reports(self, service_folder, update_id):
        raise NotImplementedError

    def setUp(self):
        if not os.path.isfile(UPDATER) or "WINEPREFIX" not in os.environ:
            self.fail("run by ctest: VLRN_BUILD_DIR must name a build with %s, and WINEPREFIX its prefix" % UPDATER)
        port = support.free_port()
        base = "http://127.0.0.1:%d/Renova" % port
        self.service_folder = support.ServiceFolder(public_url=base, signing_key=KEY)
        self.service_folder.set(database=self.database(self.service_folder.folder))
        self.product = InstalledProduct(base + "/")
        self.addCleanup(self.product.remove)
        # The new version is one file: the copy update puts it into the product's folder.
        self.update_id = 700000 + int(uuid.uuid4().hex[:5], 16)
        self.service_folder.publish(self.product.name, "2.0.0", self.update_id, rollout=100,
                                    setup_bytes=version_info(self.product.name, "2.0.0"),
                                    file_name="VersionInfo.txt")
        self.service = support.ServiceProcess(self.service_folder, gunicorn=self.gunicorn_workers, port=port)
        self.addCleanup(self.service.stop)

    def counts(self):
        return support.run_command("counts", "--config", self.service_folder.config, self.update_id).stdout

    def test_a_signed_update_is_installed_and_its_reports_move_the_counts(self):
        guid = machine_guid()
        code = self.product.run_silent_update()
        self.assertEqual(code, EXIT_UPDATE_INSTALLED, self.service.log_text())
        self.assertEqual(self.product.version(), "2.0.0")
        # The updater waits for its reports before it ends: they are stored by now.
        self.assertEqual(self.stored_reports(self.service_folder, self.update_id), [(-1, guid), (0, guid)])
        self.assertIn("offered 1, started 1, succeeded 1, failed 0, canceled 0", self.counts())

        # Now on 2.0.0, the next check gets the signed "nothing offered".
        self.assertEqual(self.product.run_silent_update(), EXIT_NOTHING_TO_DO)
        self.assertIn("offered 1, started 1, succeeded 1", self.counts())

    def test_a_halted_offer_is_not_installed(self):
        support.run_command("halt", "--config", self.service_folder.config, self.update_id)
        self.assertEqual(self.product.run_silent_update(), EXIT_NOTHING_TO_DO, self.service.log_text())
        self.assertEqual(self.product.version(), "1.0.0")
        self.assertEqual(self.stored_reports(self.service_folder, self.update_id), [])
        self.assertIn("offered 0, started 0", self.counts())


class UnderGunicornWithPostgreSQL(UpdaterEndToEnd, unittest.TestCase):
    gunicorn_workers = 2

    def database(self, folder):
        self.conninfo = support.postgres().new_database()
        return self.conninfo

    def stored_reports(self, service_folder, update_id):
        import psycopg
        with psycopg.connect(self.conninfo) as connection:
            return [tuple(r) for r in connection.execute(
                "SELECT status, machine_guid FROM reports WHERE update_id = %s ORDER BY id", (update_id,))]


class WithTheBuiltInServerAndSQLite(UpdaterEndToEnd, unittest.TestCase):
    def database(self, folder):
        self.path = os.path.join(folder, "service.db")
        return "sqlite:" + self.path

    def stored_reports(self, service_folder, update_id):
        with sqlite3.connect(self.path) as connection:
            return connection.execute("SELECT status, machine_guid FROM reports WHERE update_id = ? ORDER BY id",
                                      (update_id,)).fetchall()


if __name__ == "__main__":
    unittest.main()
