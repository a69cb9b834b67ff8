#!/usr/bin/python3
"""Processes of `pixhold-db` that change the same records while others dump
the table: every dump must be complete, every record in it as one writer
wrote it (its number and its picture from the same write), and every update
must go through.

    concurrent_edit_check.py PIXHOLD_DB [UPDATES_PER_WRITER [WRITERS [READERS]]]

With PIXHOLD_LONG_TESTS=1 each writer makes 60 updates instead of 12.
"""
import hashlib
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import threading

TOOL = sys.argv[1]
LONG = os.environ.get("PIXHOLD_LONG_TESTS") == "1"
UPDATES = int(sys.argv[2]) if len(sys.argv) > 2 else (60 if LONG else 12)
WRITERS = int(sys.argv[3]) if len(sys.argv) > 3 else 2
READERS = int(sys.argv[4]) if len(sys.argv) > 4 else 2
RECORDS = 8

work = tempfile.mkdtemp(prefix="concurrent-edit-")
table = os.path.join(work, "data", "C")
os.makedirs(os.path.dirname(table))
rng = random.Random(7)


def run(*args):
    return subprocess.run([TOOL, *args], capture_output=True, text=True)


# Every value a writer may store: its number and the picture's digest.
written = {}
pictures = {}


def picture(number):
    size = rng.randint(2_000, 300_000)
    data = (f"value {number}\n".encode() + bytes([number % 251]) * size)[:size]
    path = os.path.join(work, f"v{number}.bin")
    with open(path, "wb") as f:
        f.write(data)
    written[number] = hashlib.sha256(data).hexdigest()
    pictures[number] = path


r = run("create", table, "--field", "Name:string:10:required", "--field", "Num:integer",
        "--field", "Img:blob", "--primary", "Name")
assert r.returncode == 0, r.stderr
for i in range(RECORDS):
    picture(i)
    r = run("insert", table, f"Name=r{i}", f"Num={i}", f"Img=@{pictures[i]}")
    assert r.returncode == 0, r.stderr
plans = []
for w in range(WRITERS):
    plan = []
    for u in range(UPDATES):
        number = 1000 * (w + 1) + u
        picture(number)
        plan.append((f"r{rng.randrange(RECORDS)}", number))
    plans.append(plan)

failures = []
lock = threading.Lock()
writers_done = threading.Event()
dumps = [0]


def fail(text):
    with lock:
        failures.append(text)


def writer(plan):
    for name, number in plan:
        r = run("update", table, "--key", name, f"Num={number}", f"Img=@{pictures[number]}")
        if r.returncode != 0:
            fail(f"update {name} to {number}: {r.stderr.strip()}")


def reader():
    while not writers_done.is_set():
        r = run("dump", table)
        with lock:
            dumps[0] += 1
        if r.returncode != 0:
            fail(f"dump failed: {r.stderr.strip()}")
            continue
        names = []
        for line in r.stdout.splitlines():
            record = json.loads(line)
            names.append(record["Name"])
            number, image = record["Num"], record["Img"]
            if image is None or written.get(number) != image["sha256"]:
                fail(f"{record['Name']} holds {number} with a picture no writer wrote with it: {image}")
        if names != [f"r{i}" for i in range(RECORDS)]:
            fail(f"dump incomplete: {names}")


threads = [threading.Thread(target=writer, args=(plan,)) for plan in plans]
readers = [threading.Thread(target=reader) for _ in range(READERS)]
for t in threads + readers:
    t.start()
for t in threads:
    t.join()
writers_done.set()
for t in readers:
    t.join()

r = run("verify", table)
if r.returncode != 0:
    failures.append(f"verify after the run: {r.stdout}{r.stderr}")
print(f"{WRITERS} writers x {UPDATES} updates, {dumps[0]} dumps, {len(failures)} failures")
shutil.rmtree(work)
for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
