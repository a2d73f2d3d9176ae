#!/usr/bin/env python3
"""vantrel-cli follow against a writer that appends a log in random pieces.

A writer appends a generated log in pieces cut anywhere (mid-line, between CR and LF), pausing
now and then mid-line for longer than the analyzer's quiet time, while `follow` runs. The events,
folded (the last process event per id, behaviours appended by index, children in the order they
first appear), must equal what `json` prints for the final file: nothing half-written, nothing
lost, nothing twice. A second case starts a new, shorter log in the same file midway, which must
print a restart event after which the fold starts over. Without an emulator, Ctrl+C ends a run
with exit code 0 after the current pass.

usage: follow_test.py CLI [EMULATOR] (the working folder is where the logs are written)
"""
import json
import os
import random
import signal
import subprocess
import sys
import threading
import time

CLI = sys.argv[1]
EMULATOR = [sys.argv[2]] if len(sys.argv) > 2 and sys.argv[2] else []
SEED = int(os.environ.get("VANTREL_FOLLOW_SEED", random.randrange(1 << 30)))
rng = random.Random(SEED)
IDLE_EXIT = 4  # longer than any pause of the writer
LONG_PAUSE = 1.6  # longer than the analyzer's quiet time for a held line

ACTIONS = ["[FILE_READ]", "[FILE_WRITE]", "[FILE_NEW]", "[REG_OPEN]", "[REG_WRITE]",
           "[NET_CON]", "[NET_DNS]", "[PRO_OPEN]", "[RTHREAD]"]
TEXTS = ["C:\\Users\\分析员\\AppData\\Local\\Temp\\升级%d.exe", "HKLM\\SOFTWARE\\Run\\项%d=x",
         "TCP 10.0.2.15:%d -> 203.0.113.7:443", "say \"hi\", %d", "路径,带逗号 %d",
         "a\\b\\c %d"]


def generate_log(processes, behaviours):
    """A log of `processes` processes in a random tree and `behaviours` other lines."""
    lines = []
    ids = []
    next_id = 1
    for _ in range(processes + behaviours):
        if not ids or (next_id <= processes and rng.random() < processes / (processes + behaviours)):
            creator = rng.choice(ids) if ids and rng.random() < 0.8 else 0
            name = rng.choice(["svc升级", "安装程序", "cmd", "powershell"]) + str(next_id)
            lines.append("[PRO]|2024-03-05 09:%02d:%02d|0|%d|%d/%d/\\??\\C:\\T\\%s.exe/%s.exe -x/"
                         "1024/65E6F0A1/5d41402abc4b2a76b9719d911017c592|report"
                         % (next_id % 60, rng.randrange(60), creator, next_id,
                            1000 + next_id * 4, name, name))
            ids.append(next_id)
            next_id += 1
            continue
        actor = rng.choice(ids)
        roll = rng.random()
        if roll < 0.03:
            lines.append("[PRO_DIE]|t|0|%d|x|system" % actor)
        elif roll < 0.05:
            lines.append("junk line %d" % actor)
        else:
            text = rng.choice(TEXTS) % rng.randrange(100000)
            lines.append("%s|2024-03-05 09:12:%02d|0|%d|%s|%s"
                         % (rng.choice(ACTIONS), rng.randrange(60), actor, text,
                            rng.choice(["report", "阻止", "隔离", "system"])))
    return ("\r\n".join(lines) + "\r\n").encode("gbk")


def cut_points(data):
    """Random cuts, some of them right after a CR and some in the middle of a line."""
    cuts = set()
    position = 0
    while position < len(data):
        position += rng.randrange(1, 400)
        cuts.add(min(position, len(data)))
    crs = [i + 1 for i in range(len(data)) if data[i:i + 2] == b"\r\n"]
    cuts.update(rng.sample(crs, min(8, len(crs))))
    cuts.add(len(data))
    return sorted(cuts)


def write_in_pieces(path, data, long_pauses):
    start = 0
    cuts = cut_points(data)
    # Pauses mid-line, longer than the quiet time, at a few cuts inside a line.
    inside = [c for c in cuts if c < len(data) and data[c - 1:c + 1] != b"\r\n"
              and data[c - 1:c] != b"\n"]
    long_at = set(rng.sample(inside, min(long_pauses, len(inside))))
    for cut in cuts:
        with open(path, "ab") as f:
            f.write(data[start:cut])
        start = cut
        time.sleep(LONG_PAUSE if cut in long_at else rng.uniform(0, 0.05))


class Follow:
    """vantrel-cli follow running on `path`, its stdout collected line by line."""

    def __init__(self, path, idle_exit=IDLE_EXIT):
        args = EMULATOR + [CLI, "follow"]
        if idle_exit is not None:
            args += ["--idle-exit", str(idle_exit)]
        self.process = subprocess.Popen(args + [path], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE)
        self.lines = []
        self.raw = b""
        self.first = threading.Event()
        self.reader = threading.Thread(target=self._read)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            self.raw += line
            self.lines.append(line)
            self.first.set()
        self.first.set()

    def wait_for_events(self, count=1, timeout=60):
        deadline = time.time() + timeout
        while len(self.lines) < count and time.time() < deadline:
            time.sleep(0.05)
        assert len(self.lines) >= count, "no events from follow: %r" % self.process.stderr.read()

    def finish(self, timeout=120):
        code = self.process.wait(timeout)
        self.reader.join()
        err = self.process.stderr.read().decode("utf-8", "replace")
        return code, err


def fold(raw):
    """The store the events describe, as `json` would print its processes."""
    assert raw.endswith(b"\n"), "the output ends inside a line"
    processes, order, children, restarts = {}, [], {}, 0
    for text in raw.decode("utf-8").split("\n")[:-1]:
        event = json.loads(text)
        kind = event.pop("event")
        if kind == "restart":
            processes, order, children, restarts = {}, [], {}, restarts + 1
        elif kind == "process":
            parent = event.pop("parentId")
            pid = event["id"]
            if pid not in processes:
                assert parent is None or parent in processes, "creator printed after: %s" % text
                processes[pid] = {"behaviors": []}
                (children.setdefault(parent, [])).append(pid)
            behaviours = processes[pid]["behaviors"]
            processes[pid] = dict(event, behaviors=behaviours)
        elif kind == "behavior":
            record = processes[event.pop("id")]
            assert event.pop("index") == len(record["behaviors"]), "index out of order: " + text
            record["behaviors"].append(event)
        else:
            raise AssertionError("unknown event " + text)

    def build(pid):
        record = dict(processes[pid])
        record["children"] = [build(c) for c in children.get(pid, [])]
        return record
    return [build(r) for r in children.get(None, [])], restarts


def json_of(path):
    out = subprocess.run(EMULATOR + [CLI, "json", path], stdout=subprocess.PIPE, check=True).stdout
    return json.loads(out.decode("utf-8"))["processes"]


def check(path, folded, restarts, expected_restarts):
    assert restarts == expected_restarts, "restarts: %d, expected %d" % (restarts, expected_restarts)
    expected = json_of(path)
    if folded != expected:
        with open(path + ".folded.json", "w", encoding="utf-8") as f:
            json.dump({"folded": folded, "json": expected}, f, ensure_ascii=False, indent=1)
        raise AssertionError("folded events differ from json; both in " + path + ".folded.json")


def case_growing_log():
    path = os.path.abspath("follow_growing.log")
    data = generate_log(30, 500)
    with open(path, "wb") as f:
        f.write(data[:len(data) // 10])
    follow = Follow(path)
    follow.wait_for_events()
    write_in_pieces(path, data[len(data) // 10:], long_pauses=2)
    code, err = follow.finish()
    assert code == 0, "exit code %d: %s" % (code, err)
    folded, restarts = fold(follow.raw)
    check(path, folded, restarts, 0)
    return len(follow.lines)


def case_restarted_log():
    path = os.path.abspath("follow_restarted.log")
    first = generate_log(10, 200)
    with open(path, "wb") as f:
        f.write(first)
    follow = Follow(path)
    follow.wait_for_events()
    time.sleep(1.5)  # a pass has read the first log to its end
    # The monitor starts a new log in the same file; it stays shorter than the first for a while.
    second = generate_log(12, 300)
    with open(path, "wb") as f:
        f.write(second[:len(first) // 3])
    time.sleep(2.5)
    write_in_pieces(path, second[len(first) // 3:], long_pauses=1)
    code, err = follow.finish()
    assert code == 0, "exit code %d: %s" % (code, err)
    folded, restarts = fold(follow.raw)
    check(path, folded, restarts, 1)


def case_interrupted():
    path = os.path.abspath("follow_interrupted.log")
    with open(path, "wb") as f:
        f.write(generate_log(3, 20))
    follow = Follow(path, idle_exit=None)
    follow.wait_for_events()
    follow.process.send_signal(signal.SIGINT)
    code, err = follow.finish(timeout=20)
    assert code == 0, "exit code %d after Ctrl+C: %s" % (code, err)
    fold(follow.raw)


def main():
    for name in ("follow_growing.log", "follow_restarted.log", "follow_interrupted.log"):
        if os.path.exists(name):
            os.remove(name)
    print("seed", SEED, "(VANTREL_FOLLOW_SEED repeats it)")
    events = case_growing_log()
    print("growing log: %d events fold into json's store" % events)
    case_restarted_log()
    print("restarted log: one restart, then the new log's store")
    if not EMULATOR:
        case_interrupted()
        print("Ctrl+C: exit code 0")


if __name__ == "__main__":
    main()
