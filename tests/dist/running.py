"""Runs the program in a scratch home as a desktop user would, and ends it.

Shared by the tests of this folder: a scratch HOME with its own XDG folders,
the offscreen platform, and a wait until the program has created its tables
(it is then past start-up, or at its end)."""

import os
import signal
import subprocess
import tempfile
import time

INI_KEYS = [
    "LastImportDir", "LastExportDir", "LastBrowseDir", "LastSaveDir", "LastTableName",
    "LastMoveTableName", "LastMoveCategory", "ThumbnailView", "DBPath", "DeleteFilesAfterImport",
    "DeleteFilesAfterExport", "RecurseFoldersOnImport", "UseFoldersAsCategoriesOnImport",
    "StoreFileThumbsInDatabase", "ConfirmDelete", "StretchImageToFit", "RemoveOldPasswordOnOpen",
]


class Scratch:
    """A home folder of its own, removed afterwards."""

    def __init__(self):
        self._dir = tempfile.TemporaryDirectory(prefix="pixhold-dist-")
        self.root = self._dir.name
        self.home = os.path.join(self.root, "home")
        self.config = os.path.join(self.home, ".config")
        self.data = os.path.join(self.home, ".local", "share")
        os.makedirs(self.home)

    def close(self):
        self._dir.cleanup()

    @property
    def ini(self):
        return os.path.join(self.config, "Norvane", "Pixhold.ini")

    @property
    def data_folder(self):
        return os.path.join(self.data, "Norvane", "Pixhold") + "/"

    def env(self):
        env = dict(os.environ)
        env.update({
            "HOME": self.home,
            "XDG_CONFIG_HOME": self.config,
            "XDG_DATA_HOME": self.data,
            "TMPDIR": self.root,
            "QT_QPA_PLATFORM": "offscreen",
        })
        env.pop("SESSION_MANAGER", None)
        return env


def has_file(folder, name):
    """A file of that name in the folder, in any letter case."""
    try:
        return any(entry.lower() == name.lower() for entry in os.listdir(folder))
    except FileNotFoundError:
        return False


def start(program, scratch, ignore=()):
    """Starts the program; `ignore` names signals ignored by whoever starts it."""
    def before_exec():
        for number in ignore:
            signal.signal(number, signal.SIG_IGN)
    return subprocess.Popen([program], env=scratch.env(), stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, preexec_fn=before_exec)


def wait_until_running(process, data_folder, timeout=120.0):
    """Waits until the tables exist (start-up is then all but done) and a
    little longer, so that the event loop runs."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise AssertionError("the program ended by itself with %d:\n%s"
                                 % (process.returncode, process.stdout.read().decode(errors="replace")))
        if has_file(data_folder, "Default.dat") and has_file(data_folder, "Thumbs.dat"):
            time.sleep(1.5)
            return
        time.sleep(0.1)
    process.kill()
    raise AssertionError("the program did not create its tables in " + data_folder)


def finish(process, timeout=120.0):
    """Waits for the end; returns the exit code and what the program printed."""
    try:
        output, _ = process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        output, _ = process.communicate()
        raise AssertionError("the program did not end:\n" + output.decode(errors="replace"))
    return process.returncode, output.decode(errors="replace")


def read_ini(path):
    """The keys of an INI file as {(section, key): value}."""
    values = {}
    section = ""
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line.startswith("[") and line.endswith("]"):
                section = line[1:-1]
            elif "=" in line:
                key, value = line.split("=", 1)
                values[(section, key)] = value
    return values
