#!/usr/bin/env python3
"""Damaged copies of a small picture table through the table utility.

    pixhold_db_damage.py PATH/TO/pixhold-db [COPIES] [SEED]

A table of 60 records (some deleted, BLOBs of 0 to 70 KB) is made with the
utility; each copy gets a few bytes flipped, zeroed or cut off in one of its
three files, and then goes through info, dump, verify, repair, dump and
verify. Checked for every command: it ends by itself within a minute, is not
killed by a signal and reports no sanitizer finding; a failure is an engine
error (or verify's "is damaged"); what it prints is UTF-8 and every dump line
is JSON. A repair that reports success must leave a table that dumps whole
and verifies clean. Prints the figures and exits 1 when any copy failed.
"""
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

EXTENSIONS = (".DAT", ".IDX", ".BLB")
LIMIT = 60


def run(tool, args, cwd):
    """(exit code or None on a hang, stdout bytes, stderr bytes)"""
    try:
        p = subprocess.run([tool] + args, cwd=cwd, capture_output=True, timeout=LIMIT)
        return p.returncode, p.stdout, p.stderr
    except subprocess.TimeoutExpired as e:
        return None, e.stdout or b"", e.stderr or b""


def make_table(tool, folder, rnd):
    def ok(*args):
        rc, out, err = run(tool, list(args), folder)
        if rc != 0:
            sys.exit("making the table failed: %s: %s" % (" ".join(args), err.decode(errors="replace")))

    ok("create", "data/Pics", "--field", "Name:string:40:required", "--field", "Num:integer",
       "--field", "Cat:string:10", "--field", "Img:blob", "--primary", "Name", "--index", "ByCat:Cat")
    for i in range(1, 61):
        size = 0 if i % 9 == 0 else rnd.randrange(1, 70 * 1024)
        args = ["insert", "data/Pics", "Name=pic%02d" % i, "Num=%d" % i, "Cat=c%d" % (i % 4)]
        if size:
            path = os.path.join(folder, "blob.bin")
            with open(path, "wb") as f:
                f.write(rnd.randbytes(size))
            args.append("Img=@" + path)
        ok(*args)
    for i in range(5, 61, 7):
        ok("delete", "data/Pics", "--key", "pic%02d" % i)


def damage(rnd, files):
    which = rnd.randrange(3)
    data = files[which]
    what = EXTENSIONS[which]
    if not data:
        return what + " empty"
    head = min(len(data), 512 if which == 2 else 4096)

    def place():
        return rnd.randrange(head) if rnd.randrange(2) == 0 else rnd.randrange(len(data))

    kind = rnd.randrange(3)
    if kind == 0:
        spots = [place() for _ in range(1 + rnd.randrange(4))]
        for at in spots:
            data[at] ^= 1 << rnd.randrange(8)
        what += " flips at " + " ".join(map(str, spots))
    elif kind == 1:
        at = place()
        length = min(1 + rnd.randrange(64), len(data) - at)
        data[at:at + length] = bytes(length)
        what += " zeroes at %d for %d" % (at, length)
    else:
        at = place()
        del data[at:]
        what += " cut at %d" % at
    return what


def check(step, rc, out, err, faults):
    text = err.decode("utf-8", errors="replace")
    if rc is None:
        faults.append("%s: no end within %d s" % (step, LIMIT))
        return False
    if rc < 0 or rc >= 128:
        faults.append("%s: killed (exit %d): %s" % (step, rc, text[-400:]))
        return False
    if "Sanitizer" in text or "runtime error:" in text:
        faults.append("%s: sanitizer: %s" % (step, text[-800:]))
    try:
        lines = out.decode("utf-8").splitlines()
    except UnicodeDecodeError:
        faults.append("%s: output not UTF-8" % step)
        lines = []
    if step.startswith("dump"):
        for line in lines:
            try:
                json.loads(line)
            except ValueError:
                faults.append("%s: not JSON: %r" % (step, line[:200]))
                break
    if rc != 0 and "Coffer Engine Error" not in text and "is damaged" not in text:
        faults.append("%s: not an engine error (exit %d): %s" % (step, rc, text.strip()[:400]))
    return rc == 0


def main():
    tool = os.path.realpath(sys.argv[1])
    copies = int(sys.argv[2]) if len(sys.argv) > 2 else 300
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 20261210
    rnd = random.Random(seed)
    base = tempfile.mkdtemp(prefix="pixhold-db-damage.")
    try:
        template = os.path.join(base, "template")
        os.makedirs(os.path.join(template, "data"))
        make_table(tool, template, rnd)
        original = [open(os.path.join(template, "data", "Pics" + e), "rb").read() for e in EXTENSIONS]
        work = os.path.join(base, "work")
        failed = repaired = refused = 0
        started = time.time()
        for copy in range(1, copies + 1):
            files = [bytearray(b) for b in original]
            what = damage(rnd, files)
            if rnd.randrange(4) == 0:
                what += "; " + damage(rnd, files)
            shutil.rmtree(work, ignore_errors=True)
            os.makedirs(os.path.join(work, "data"))
            for e, b in zip(EXTENSIONS, files):
                with open(os.path.join(work, "data", "Pics" + e), "wb") as f:
                    f.write(b)
            faults = []
            for step in ("info", "dump", "verify"):
                check(step, *run(tool, [step, "data/Pics"], work), faults)
            rc, out, err = run(tool, ["repair", "data/Pics"], work)
            if check("repair", rc, out, err, faults):
                repaired += 1
                rc, out, err = run(tool, ["dump", "data/Pics"], work)
                if not check("dump after repair", rc, out, err, faults):
                    faults.append("a repair that reported success left a table that does not dump")
                else:
                    dumped = len(out.splitlines())
                    rc, info, err = run(tool, ["info", "data/Pics"], work)
                    if check("info after repair", rc, info, err, faults):
                        counts = [l for l in info.decode(errors="replace").splitlines() if l.startswith("records: ")]
                        if counts != ["records: %d" % dumped]:
                            faults.append("dump after repair shows %d records, info says %s" % (dumped, counts))
                if not check("verify after repair", *run(tool, ["verify", "data/Pics"], work), faults):
                    faults.append("a repair that reported success left a table that does not verify")
            else:
                refused += 1
            if faults:
                failed += 1
                print("copy %d (seed %d): %s" % (copy, seed, what))
                for f in faults:
                    print("  " + f)
                sys.stdout.flush()
        print("%d copies: %d repaired, %d refused by the repair, %d with faults, %.0f s"
              % (copies, repaired, refused, failed, time.time() - started))
        return 1 if failed else 0
    finally:
        shutil.rmtree(base, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
