#!/usr/bin/env python3
"""The program ends as Exit does on SIGTERM, SIGINT and SIGHUP: exit code 0,
"Pixhold.ini" written in full, the data folder of the settings kept. More
signals during the shut-down do not break off the writing, and a signal that
was ignored when the program was started stays ignored.

usage: signals_test.py PROGRAM"""

import os
import signal
import sys
import time
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import running  # noqa: E402

PROGRAM = None


class SignalTest(unittest.TestCase):
    def setUp(self):
        self.scratch = running.Scratch()

    def tearDown(self):
        self.scratch.close()

    def run_and_send(self, numbers, gap=0.0, data_folder=None, ignore=()):
        process = running.start(PROGRAM, self.scratch, ignore)
        running.wait_until_running(process, data_folder or self.scratch.data_folder)
        for number in numbers:
            process.send_signal(number)
            if gap:
                time.sleep(gap)
        return process

    def assert_ended_like_exit(self, process):
        code, output = running.finish(process)
        self.assertEqual(code, 0, output)
        self.assertTrue(os.path.exists(self.scratch.ini), "no settings written:\n" + output)
        values = running.read_ini(self.scratch.ini)
        for key in running.INI_KEYS:
            self.assertIn(key, [k for (_, k) in values], "missing in Pixhold.ini: " + key)
        return values

    def test_each_signal_ends_like_exit(self):
        for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=signal.Signals(number).name):
                if os.path.exists(self.scratch.ini):
                    os.remove(self.scratch.ini)
                values = self.assert_ended_like_exit(self.run_and_send([number]))
                self.assertEqual(values[("Options", "DBPath")], self.scratch.data_folder)
                self.assertEqual(values[("Defaults", "LastTableName")], "Default")

    def test_signals_during_shutdown_do_not_break_off_the_saving(self):
        burst = [signal.SIGTERM] + [signal.SIGTERM, signal.SIGINT, signal.SIGHUP] * 20
        self.assert_ended_like_exit(self.run_and_send(burst, gap=0.005))

    def test_a_stored_data_folder_is_kept(self):
        own = os.path.join(self.scratch.root, "my pictures") + "/"
        os.makedirs(os.path.dirname(self.scratch.ini))
        with open(self.scratch.ini, "w", encoding="utf-8") as f:
            f.write("[Options]\nDBPath=%s\n[Mine]\nkept=yes\n" % own)
        values = self.assert_ended_like_exit(self.run_and_send([signal.SIGTERM], data_folder=own))
        self.assertEqual(values[("Options", "DBPath")], own)
        self.assertEqual(values[("Mine", "kept")], "yes")
        self.assertFalse(os.path.exists(self.scratch.data_folder), "the default folder is not made")

    def test_a_signal_ignored_at_start_stays_ignored(self):
        process = self.run_and_send([signal.SIGHUP], ignore=[signal.SIGHUP])
        time.sleep(1.0)
        self.assertIsNone(process.poll(), "SIGHUP was ignored by the starter (nohup)")
        process.send_signal(signal.SIGTERM)
        self.assert_ended_like_exit(process)


if __name__ == "__main__":
    PROGRAM = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
