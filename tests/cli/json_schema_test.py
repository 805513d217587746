#!/usr/bin/env python3
"""zorvane-cli --json against the documented schemas (docs/json/) on virtual drives: each
command's document is the only thing on standard output and validates; its exit status is
the run's; and the figures of the text report and of the document agree.

    json_schema_test.py ZORVANE_CLI SCHEMA_DIR
"""
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

import jsonschema

cli, schema_dir = sys.argv[1], sys.argv[2]
failures = []
JOBS = {"read", "write", "write-at", "erase", "format", "c2scan", "qscan"}


def schema(name):
    with open(os.path.join(schema_dir, name + ".schema.json"), encoding="utf-8") as f:
        return json.load(f)


def validator(command):
    # The plain jobs' summaries are the common and job members alone.
    parts = [schema("common")]
    if command in JOBS:
        parts.append(schema("job"))
    if os.path.exists(os.path.join(schema_dir, command + ".schema.json")):
        parts.append(schema(command))
    for part in parts:
        part.pop("$id", None)
    whole = {"$schema": "https://json-schema.org/draft/2020-12/schema", "allOf": parts,
             "unevaluatedProperties": False}
    return jsonschema.Draft202012Validator(whole)


def run(args):
    return subprocess.run([cli] + args, capture_output=True, timeout=120)


def check(label, condition, detail=""):
    if not condition:
        failures.append(f"{label}: {detail}")


def document(label, drive, command, args=(), status=0):
    """Runs COMMAND --json on DRIVE; returns the document after the common checks."""
    result = run(["--drive", "d=" + drive, command, "--json", *args])
    try:
        doc = json.loads(result.stdout.decode("utf-8"))
    except ValueError as error:
        check(label, False, f"standard output is not one JSON document ({error}): "
              f"{result.stdout[:200]!r}")
        return None
    check(label, result.returncode == status,
          f"exit {result.returncode}, expected {status}; {result.stderr[-300:]!r}")
    check(label, doc.get("exit_status") == result.returncode, "exit_status differs from the exit")
    check(label, doc.get("command") == command, f"command is {doc.get('command')!r}")
    for error in validator(command).iter_errors(doc):
        check(label, False, f"{'/'.join(map(str, error.absolute_path))}: {error.message}")
    return doc


def text(drive, command, args=()):
    return run(["--drive", "d=" + drive, command, *args]).stdout.decode("utf-8")


# ---- every report on the presets that take its branches ------------------------------------
REPORTS = [
    ("devices", "virtual:cdr-blank", 0),
    ("probe", "virtual:cdda", 0), ("probe", "virtual:open", 0), ("probe", "virtual:dvd+rw", 0),
    ("caps", "virtual:cdrw-mrw", 0), ("caps", "virtual:dvd-r", 0),
    ("capacity", "virtual:cdr-closed", 0), ("capacity", "virtual:cdr-blank", 0),
    ("capacity", "virtual:dvd+rw", 0), ("capacity", "virtual:nodisc", 1),
    ("toc", "virtual:cdmixed", 0), ("toc", "virtual:cdr-multi", 0), ("toc", "virtual:cdr-open", 0),
    ("toc", "virtual:dvdrom", 0), ("toc", "virtual:cdr-blank", 0),
    ("maker", "virtual:cdr-blank", 0), ("maker", "virtual:dvd-r", 0),
    ("maker", "virtual:dvd+r", 0), ("maker", "virtual:dvd-ram", 0), ("maker", "virtual:cdrom", 1),
    ("speeds", "virtual:dvd+r", 0), ("speeds", "virtual:cdr-blank", 0),
    ("speeds", "virtual:cdr-blank,quirk=noperf", 1),
]
docs = {}
for command, drive, status in REPORTS:
    docs[(command, drive)] = document(f"{command} on {drive}", drive, command, status=status)

# A refusal comes with the sense in numbers as well as in words.
doc = docs[("speeds", "virtual:cdr-blank,quirk=noperf")]
if doc:
    check("speeds refused", doc["sense"] is not None and doc["sense"]["code"] == 0x052000
          or doc["error"] is not None, f"{doc['sense']} {doc['error']}")

# ---- the text and the document agree on the figures -----------------------------------------
for drive in ["virtual:cdr-closed", "virtual:dvd+rw"]:
    doc = docs[("capacity", drive)]
    lines = text(drive, "capacity")
    written = re.search(r"共寫入: (\d+)個碟區", lines)
    free = re.search(r"容量為(?:\(由未燒錄區塊Free Block數計算\))?: (?:\d\d:\d\d:\d\d\()?(\d+)個碟區", lines)
    check(f"capacity agrees on {drive}", doc and written and int(written.group(1)) == doc["last_block"],
          f"text {written and written.group(1)}, JSON {doc and doc['last_block']}")
    check(f"free blocks agree on {drive}",
          doc and (free is None) == (doc["free_blocks"] is None) and
          (free is None or int(free.group(1)) == doc["free_blocks"]),
          f"text {free and free.group(1)}, JSON {doc and doc['free_blocks']}")

for drive in ["virtual:cdmixed", "virtual:cdr-multi"]:
    doc = docs[("toc", drive)]
    toc_lines = text(drive, "toc").split("程式記憶區(PMA)內容")[0]
    rows = re.findall(r"^(\d\d)    ([0-9A-F]{2})h\((?:音軌|資料軌)\) *(\d\d):(\d\d):(\d\d)",
                      toc_lines, re.M)
    got = [(int(t), int(a, 16), (int(m) * 60 + int(s)) * 75 + int(f) - 150) for t, a, m, s, f in rows]
    want = doc and [(t["track"], t["adr_control"], t["start"]) for t in doc["tracks"]]
    check(f"toc agrees on {drive}", got and got == want, f"text {got}, JSON {want}")

doc = docs[("toc", "virtual:dvdrom")]
rows = re.findall(r"^(\d\d)    ([0-9A-F]{2})h\S+ +([0-9A-F]{6})h    ([0-9A-F]{6})h", text("virtual:dvdrom", "toc"), re.M)
got = [(int(t), int(s, 16), int(n, 16)) for t, _, s, n in rows]
want = doc and [(t["track"], t["start"], t["length"]) for t in doc["tracks"]]
check("toc agrees on the DVD", got and got == want, f"text {got}, JSON {want}")

for drive in ["virtual:dvd+r", "virtual:cdr-blank"]:
    doc = docs[("speeds", drive)]
    got = [(float(x), int(k)) for x, k in re.findall(r"^ *([\d.]+)x \((\d+) KB/s\)$", text(drive, "speeds"), re.M)]
    want = doc and [(s["factor"], s["kb_per_s"]) for s in doc["write_speeds"]]
    check(f"speeds agree on {drive}", got and got == want, f"text {got}, JSON {want}")

doc = docs[("caps", "virtual:dvd-r")]
lines = text("virtual:dvd-r", "caps")
serial = re.search(r"^設備序號: (.*)$", lines, re.M)
max_read = re.search(r"支援最大讀取速率為 +(\d+) KB/s", lines)
check("caps agrees", doc and serial and max_read and serial.group(1) == doc["serial"] and
      int(max_read.group(1)) == doc["capabilities"]["max_read_speed"], f"{doc and doc['serial']}")

doc = docs[("maker", "virtual:cdr-blank")]
maker = re.search(r"ATIP Start Time of lead-in: (\d\d):(\d\d):(\d\d)\((.*)\)", text("virtual:cdr-blank", "maker"))
check("maker agrees", doc and maker and maker.group(4) == doc["maker"] and
      int(maker.group(2)) == doc["lead_in"]["second"], f"{doc and doc['maker']}")

# ---- the jobs' summaries ----------------------------------------------------------------------
with tempfile.TemporaryDirectory() as folder:
    out = os.path.join(folder, "track.iso")
    doc = document("read", "virtual:cdr-closed", "read", ["--track", "1", out])
    # The read ends, complete, at the track's run-out blocks: what it did is what the file holds.
    check("read summary", doc and doc["sectors_done"] == 10000 and doc["sectors_total"] == 10001 and
          doc["output"] == out and os.path.getsize(out) == doc["sectors_done"] * 2048, f"{doc}")
    failed = os.path.join(folder, "failed.iso")
    doc = document("failed read", "virtual:cdr-closed,fault=A8@5000:031100", "read",
                   ["--track", "1", failed], status=1)
    check("failed read summary", doc and doc["sense"] and doc["sense"]["code"] == 0x031100 and
          doc["sense"]["key"] == 3 and doc["sense"]["asc"] == 0x11 and doc["kept"] and
          doc["sectors_done"] < 10000 and not os.path.exists(failed), f"{doc}")
    image = os.path.join(folder, "image.iso")
    source = os.path.join(folder, "source")
    os.mkdir(source)
    with open(os.path.join(source, "file.txt"), "w") as f:
        f.write("zorvane\n" * 1000)
    check("mkiso", run(["mkiso", image, source]).returncode == 0, "no image to write")
    doc = document("write", "virtual:dvd+rw", "write", [image])
    blocks = os.path.getsize(image) // 2048
    check("write summary", doc and doc["sectors_done"] == doc["sectors_total"] == blocks,
          f"{doc} for {blocks} blocks")
    doc = document("write refused", "virtual:cdrom", "write", [image], status=1)
    check("refused write summary", doc and doc["error"], f"{doc}")
    document("erase", "virtual:cdr-closed", "erase", status=1)
    document("format", "virtual:dvd+rw-blank", "format", ["--wait"])
    doc = document("c2scan", "virtual:cdr-closed,damage=100-120", "c2scan")
    check("c2scan summary", doc and doc["error_sectors"] == 21 and
          doc["sectors_done"] <= doc["sectors_total"], f"{doc}")
    doc = document("qscan", "virtual:dvd+rw", "qscan")
    check("qscan summary", doc and doc["measurements"] > 0 and
          [s["name"] for s in doc["series"]] == ["PIE", "PIF"], f"{doc}")

    # Ctrl-C: the summary says stopped, with what was done and kept, and the exit is 130.
    stopped = os.path.join(folder, "stopped.iso")
    process = subprocess.Popen([cli, "--drive", "d=virtual:cdrom,time=real", "--json", "read", stopped],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    time.sleep(3)
    process.send_signal(signal.SIGINT)
    out_text, _ = process.communicate(timeout=120)
    doc = json.loads(out_text.decode("utf-8"))
    check("stopped read", process.returncode == 130 and doc["status"] == "stopped" and
          "stopped after" in (doc["error"] or "") and doc["kept"] is not None and
          0 < doc["sectors_done"] < doc["sectors_total"] and
          not list(validator("read").iter_errors(doc)), f"{process.returncode} {doc}")

# ---- --json where no document is offered is a usage error ------------------------------------
check("exec --json", run(["--demo", "exec", "00", "--json"]).returncode == 2, "not refused")

for failure in failures:
    print("FAIL:", failure)
print(f"{len(failures)} failures" if failures else "every document validates and agrees")
sys.exit(1 if failures else 0)
