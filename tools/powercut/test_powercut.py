#!/usr/bin/env python3
"""The power-cut layer itself, so that a green cut test means something: over many seeds a cut
drops unflushed writes and undoes unflushed renames (and sometimes keeps them), never touches
what was flushed, keeps the names in the order they were made, and cuts where it was armed."""

import json
import os
import subprocess
import sys
import unittest
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import with_power_cut  # noqa: E402

SEEDS = range(24)
BLOCK = 4096


class Layer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.run_layer = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "with_power_cut.py"), sys.executable, "-c",
             "import os, sys; print(' '.join(os.environ[k] for k in ('XLDL_TEST_CUT_CONTROL', "
             "'XLDL_TEST_CUT_MOUNT', 'XLDL_TEST_CUT_DISK')), flush=True); sys.stdin.read()"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = cls.run_layer.stdout.readline().split()
        if len(line) != 3:
            cls.run_layer.communicate("")
            raise unittest.SkipTest(" ".join(line) or "the layer did not start")
        cls.control, cls.mount, cls.lower = line

    @classmethod
    def tearDownClass(cls):
        cls.run_layer.communicate("")

    def ask(self, what):
        with urllib.request.urlopen("http://%s/%s" % (self.control, what)) as r:
            return json.loads(r.read())

    def write(self, name, data, offset=0, flush=False):
        fd = os.open(os.path.join(self.mount, name), os.O_RDWR | os.O_CREAT)
        try:
            os.pwrite(fd, data, offset)
            if flush:
                os.fsync(fd)
        finally:
            os.close(fd)

    def on_disk(self, name):
        path = os.path.join(self.lower, name)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def cut_after(self, steps, seed):
        """A fresh disk, `steps` through the layer, a cut with `seed`: the summary."""
        self.ask("reset")
        steps()
        self.ask("cut?seed=%d" % seed)
        return self.ask("apply")

    def test_unflushed_writes_may_be_lost_flushed_ones_never(self):
        flushed, later = os.urandom(2 * BLOCK), os.urandom(3 * BLOCK)
        outcomes = set()
        for seed in SEEDS:
            def steps():
                for _ in range(2):  # a flush before the last one
                    self.write("f", flushed, flush=True)
                self.write("f", later, offset=2 * BLOCK)
            summary = self.cut_after(steps, seed)
            data = self.on_disk("f")
            self.assertEqual(data[:2 * BLOCK], flushed, seed)
            tail = data[2 * BLOCK:]
            self.assertIn(len(tail), (0, 3 * BLOCK), seed)
            for b in range(len(tail) // BLOCK):
                block = tail[b * BLOCK:(b + 1) * BLOCK]
                self.assertIn(block, (later[b * BLOCK:(b + 1) * BLOCK], bytes(BLOCK)), seed)
                outcomes.add("kept" if block != bytes(BLOCK) else "zeros")
            outcomes.add("shorter" if not tail else "as long")
            self.assertEqual(summary["files"]["/f"]["unflushed"], 3 * BLOCK)
            # Since the flush before last: what a record made after each flush may not cover.
            self.assertEqual(summary["files"]["/f"]["unrecorded"], 5 * BLOCK)
        self.assertEqual(outcomes, {"kept", "zeros", "shorter", "as long"})

    def test_unflushed_renames_may_be_undone_in_their_order(self):
        old, new = os.urandom(100), os.urandom(200)
        outcomes = set()
        for seed in SEEDS:
            def steps():
                self.write("state", old, flush=True)
                self.write("state.new", new, flush=True)
                self.write("data", b"x", flush=True)
                os.rename(os.path.join(self.mount, "state.new"), os.path.join(self.mount, "state"))
                os.rename(os.path.join(self.mount, "data"), os.path.join(self.mount, "other"))
            self.cut_after(steps, seed)
            state, fresh, moved = self.on_disk("state"), self.on_disk("state.new"), self.on_disk("other")
            if state == new:
                self.assertIsNone(fresh, seed)
                outcomes.add("renamed")
            else:
                self.assertEqual((state, fresh), (old, new), seed)
                self.assertIsNone(moved, "a later rename kept, an earlier one lost: %d" % seed)
                outcomes.add("undone")
            self.assertNotEqual(moved is None, self.on_disk("data") is None, seed)
        self.assertEqual(outcomes, {"renamed", "undone"})

    def test_a_flush_keeps_every_name_made_before_it(self):
        for seed in SEEDS:
            def steps():
                self.write("a", b"a")
                os.rename(os.path.join(self.mount, "a"), os.path.join(self.mount, "b"))
                self.write("c", b"c", flush=True)
            self.cut_after(steps, seed)
            self.assertIsNone(self.on_disk("a"), seed)
            self.assertIn(self.on_disk("b"), (b"a", b"\0", b""), seed)
            self.assertEqual(self.on_disk("c"), b"c", seed)

    def test_an_armed_cut_falls_before_the_chosen_operation(self):
        def steps():
            for i in range(3):
                self.write("f%d" % i, b"x" * 10, flush=True)
            self.write("f0", b"y" * 10, offset=10)
            os.rename(os.path.join(self.mount, "f0"), os.path.join(self.mount, "g"))
        self.ask("reset")
        steps()
        self.ask("reset?reference=1")
        moments = set()
        for seed in SEEDS:
            self.ask("reset")
            armed = self.ask("arm?seed=%d" % seed)["armed"]
            with self.assertRaises(OSError, msg=armed):
                steps()
            log = urllib.request.urlopen("http://%s/log" % self.control).read().decode()
            done = log.splitlines()
            self.assertEqual(self.ask("wait")["cut"], "before " + armed)
            kind, name, n = armed.split()[:3]
            if kind == "write":  # "write NAME past B bytes": before the write past B
                before = sum(int(line.split()[2]) for line in done if line.split()[:2] == [kind, name])
                self.assertEqual(before, int(armed.split()[3]), armed)
            else:  # "KIND NAME #N"
                self.assertEqual(done.count("%s %s" % (kind, name)), int(n[1:]) - 1, armed)
            moments.add(kind)
            self.ask("apply")
        self.assertGreaterEqual(len(moments), 3)


if __name__ == "__main__":
    unittest.main()
