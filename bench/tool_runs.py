"""The end of a capture tool run started by a figures script."""
import json
import os
import time


def finish(proc, name, summary, started):
    """Waits for `proc` (its standard error a pipe); returns its summary file
    (JSON), its CPU time as a percentage of one core, and the wall seconds
    since `started` (time.monotonic). A failed run ends the script."""
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - started
    err = proc.stderr.read()
    if status != 0:
        raise SystemExit(f"{name}: the tool failed ({status}): {err}")
    proc.returncode = 0
    with open(summary) as f:
        return json.load(f), (usage.ru_utime + usage.ru_stime) / wall * 100, wall
