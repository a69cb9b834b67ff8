#!/usr/bin/python3
"""Inserts and updates of records with pictures of 0.1 to 3 MB through
`pixhold-db`, each process killed with SIGKILL at a random moment. After
every kill the table must open (verify clean, or repair mends it), every
finished write must be there with its bytes, and after the repair every
block of the BLOB file must belong to a value or to the free chain.

    blob_kill_check.py PIXHOLD_DB [ROUNDS [SEED]]

By default 12 rounds with pictures of 20 to 400 KB; with
PIXHOLD_LONG_TESTS=1, 70 rounds with pictures of 0.1 to 3 MB.

Prints, per kill, the BLOB blocks that neither a value nor the free chain
holds before the repair (what the interrupted write left behind), and a
summary at the end; exits 1 on any finding.
"""
import hashlib
import json
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

TOOL = sys.argv[1]
LONG = os.environ.get("PIXHOLD_LONG_TESTS") == "1"
ROUNDS = int(sys.argv[2]) if len(sys.argv) > 2 else (70 if LONG else 12)
SEED = int(sys.argv[3]) if len(sys.argv) > 3 else 1
SIZES = (100_000, 3_000_000) if LONG else (20_000, 400_000)
# How long after the first write to the BLOB file a kill may come.
WRITE_WINDOW = 0.04 if LONG else 0.01
MAX_RECORDS = 12

rng = random.Random(SEED)
work = tempfile.mkdtemp(prefix="blob-kill-")
table = os.path.join(work, "data", "K")
failures = []


def run(*args):
    return subprocess.run([TOOL, *args], capture_output=True, text=True)


def must(*args):
    r = run(*args)
    if r.returncode != 0:
        raise SystemExit(f"{' '.join(args)} failed: {r.stderr}")
    return r.stdout


def census():
    """(blocks, free, in values) of the table as it is on the disk; None
    when it cannot be dumped."""
    with open(table + ".DAT", "rb") as f:
        block_size = struct.unpack_from("<I", f.read(8), 4)[0] or 512
    data_size = block_size - 18
    r = run("dump", table)
    if r.returncode != 0:
        return None
    in_values = 0
    for line in r.stdout.splitlines():
        image = json.loads(line)["Img"]
        if image:
            in_values += (image["length"] + data_size - 1) // data_size
    with open(table + ".BLB", "rb") as f:
        header = f.read(512)
        first_free, next_block = struct.unpack_from("<II", header, 9)
        blocks = next_block - 1
        free, seen, b = 0, set(), first_free
        while b != 0 and b <= blocks and b not in seen:
            seen.add(b)
            free += 1
            f.seek(512 + (b - 1) * block_size + 4)
            b = struct.unpack("<I", f.read(4))[0]
    return blocks, free, in_values


def picture(n):
    path = os.path.join(work, f"pic{n}.bin")
    size = rng.randint(*SIZES)
    head = f"picture {n} of {size} bytes\n".encode()
    body = rng.getrandbits(8 * 4096).to_bytes(4096, "little")
    data = (head + body * (size // len(body) + 1))[:size]
    with open(path, "wb") as f:
        f.write(data)
    return path, hashlib.sha256(data).hexdigest()


os.makedirs(os.path.dirname(table))
must("create", table, "--field", "Name:string:20:required", "--field", "Num:integer",
     "--field", "Img:blob", "--primary", "Name")

# name -> set of (num, sha256) the record may hold: one state after a
# finished write, the old and the new one after a killed write.
expected = {}
counter = 0
# How long a write takes here, so that the kills fall inside the writes.
duration = 0.3
kills = killed_mid = verify_failed = repairs = unopened = 0
left_behind = []
unused_before = 0  # unused blocks before this round

for round_ in range(ROUNDS):
    counter += 1
    path, digest = picture(counter)
    names = sorted(expected)
    if len(names) < MAX_RECORDS and (not names or rng.random() < 0.5):
        name = f"r{counter}"
        args = ["insert", table, f"Name={name}", f"Num={counter}", f"Img=@{path}"]
        before = {None}
    else:
        name = rng.choice(names)
        args = ["update", table, "--key", name, f"Num={counter}", f"Img=@{path}"]
        before = expected[name]
    kill = rng.random() < 0.85
    # Half the kills at any moment of the run, half while it writes: most of
    # a run is its start and the reading of the picture, and the writes
    # come at its end, when the BLOB file first changes.
    during_writes = rng.random() < 0.5
    blob_file = table + ".BLB"
    stamp = os.stat(blob_file).st_mtime_ns
    started = time.monotonic()
    process = subprocess.Popen([TOOL, *args], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if kill:
        if during_writes:
            while process.poll() is None and os.stat(blob_file).st_mtime_ns == stamp:
                pass
            time.sleep(rng.uniform(0, WRITE_WINDOW))
        else:
            time.sleep(rng.uniform(0, 1.05) * duration)
        process.send_signal(signal.SIGKILL)
    _, err = process.communicate()
    took = time.monotonic() - started
    finished = process.returncode == 0
    if not kill:
        duration = 0.5 * duration + 0.5 * took
    if process.returncode not in (0, -signal.SIGKILL):
        failures.append(f"round {round_}: {' '.join(args[:2])} exited {process.returncode}: {err.strip()}")
    if finished:
        expected[name] = {(counter, digest)}
    else:
        kills += 1
        expected[name] = set(before) | {(counter, digest)}

    # What the kill left behind, before anything mends it.
    counts = census()
    if counts is None:
        unopened += 1
    elif not finished:
        blocks, free, in_values = counts
        left = blocks - free - in_values - unused_before
        left_behind.append(left)
        if left > 0:
            killed_mid += 1
    r = run("verify", table)
    if r.returncode != 0:
        verify_failed += 1
        repairs += 1
        r = run("repair", table)
        if r.returncode != 0:
            failures.append(f"round {round_}: repair failed: {r.stderr.strip()}")
            break
        r = run("verify", table)
        if r.returncode != 0:
            failures.append(f"round {round_}: still damaged after the repair:\n{r.stdout}")
            break

    # Every finished write is there with its bytes.
    r = run("dump", table)
    if r.returncode != 0:
        failures.append(f"round {round_}: dump failed: {r.stderr.strip()}")
        break
    seen = {}
    for line in r.stdout.splitlines():
        record = json.loads(line)
        seen[record["Name"]] = (record["Num"], record["Img"]["sha256"] if record["Img"] else None)
    for name_, states in list(expected.items()):
        state = seen.get(name_)
        if state is None:
            if None not in states:
                failures.append(f"round {round_}: {name_} is gone")
            else:
                del expected[name_]
            continue
        if state not in states:
            failures.append(f"round {round_}: {name_} holds {state}, expected one of {sorted(states, key=str)}")
        expected[name_] = {state}
    counts = census()
    unused_before = counts[0] - counts[1] - counts[2]

# The final repair leaves every block in a value or on the free chain.
unused_at_end = unused_before
must("repair", table)
blocks, free, in_values = census()
unused_after = blocks - free - in_values
if unused_after != 0:
    failures.append(f"after the final repair {unused_after} blocks are neither in a value nor free")

print(f"rounds {ROUNDS}, kills {kills}, verify failed {verify_failed}, repairs {repairs}, "
      f"tables that did not open {unopened}")
print(f"unused blocks before the final repair: {unused_at_end}")
print(f"kills that left unused blocks: {killed_mid}; blocks left per kill: {left_behind}")
print(f"blocks left behind in all: {sum(x for x in left_behind if x > 0)} of {blocks} blocks")
print(f"after the final repair: {blocks} blocks, {free} free, {in_values} in values, {unused_after} unused")
shutil.rmtree(work)
for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
