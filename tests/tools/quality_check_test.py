#!/usr/bin/env python3
"""quelto-capture --check against the simulated device's faults.

For several fault sets (QUELTO_SIM_FAULTS) and seeds, the check flags
exactly the faulted sensors, for the right reason, and no other; it exits
with 3 when a sensor is bad and 0 otherwise; --json says the same as the
table. A recording of a faulted session replays its faults (all but the
battery, which files do not hold). Sensors switched off by a configuration
file or left out with --sensors get no row. A variable that does not parse
stops the device with the reason.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

# What the reason names for each fault.
REASON = {"hum50": "mains 50 Hz", "hum60": "mains 60 Hz", "motion": "baseline wander or motion",
          "loose": "noise floor", "off": "not connected", "clip": "clipped", "battery": "battery",
          "offset": "DC offset"}

FAULT_SETS = [
    "3:hum50,7:loose,12:off,20:clip,5:battery",
    "1:motion,2:offset,36:hum60,18:loose+hum50",
    "10-12:off,30:clip,31:battery,25:motion",
    "",
]


def check(tool, seed, faults, *extra, env_extra=None):
    env = dict(os.environ)
    env.pop("QUELTO_SIM_FAULTS", None)
    if faults:
        env["QUELTO_SIM_FAULTS"] = faults
    env.update(env_extra or {})
    cmd = [tool, "--check", "--fast", "--seed", str(seed), "-q", *extra]
    return subprocess.run(cmd, capture_output=True, text=True, env=env, timeout=120)


def parse_faults(text):
    faults = {}
    for part in filter(None, text.split(",")):
        sensors, names = part.split(":")
        first, _, last = sensors.partition("-")
        for s in range(int(first), int(last or first) + 1):
            faults.setdefault(s, []).extend(names.split("+"))
    return faults


def table_rows(text):
    rows = {}
    lines = text.strip().splitlines()
    assert lines[0].startswith("sensor  verdict"), lines[0]
    for line in lines[1:]:
        label, verdict = line.split()[:2]
        rows[label] = (verdict, line)
    return rows


def test_fault_sets(tool):
    for faults in FAULT_SETS:
        expected = parse_faults(faults)
        for seed in (1, 7, 12345):
            result = check(tool, seed, faults, "--json")
            report = json.loads(result.stdout)
            flagged = {r["sensor"]: r for r in report["sensors"] if r["verdict"] != "good"}
            assert sorted(flagged) == sorted(expected), (faults, seed, {s: r["reason"] for s, r in flagged.items()})
            for sensor, names in expected.items():
                for name in names:
                    assert REASON[name] in flagged[sensor]["reason"], (faults, seed, sensor, flagged[sensor])
            assert len(report["sensors"]) == 36
            any_bad = any(r["verdict"] == "bad" for r in report["sensors"])
            assert result.returncode == (3 if any_bad else 0), (faults, seed, result.returncode, result.stderr)
            assert any_bad == bool(expected), (faults, seed)
            assert report["verdict"] == ("bad" if any_bad else "good")
        # The table says what the JSON says.
        result = check(tool, 1, faults)
        rows = table_rows(result.stdout)
        assert len(rows) == 36
        bad = sorted(int(label[3:]) for label, (verdict, _) in rows.items() if verdict != "good")
        assert bad == sorted(expected), (faults, result.stdout)


def test_replay(tool, work):
    faults = "4:hum60,9:loose,13:off,21:clip,22:offset,27:motion,30:battery"
    recording = os.path.join(work, "faulty.bdf")
    env = dict(os.environ, QUELTO_SIM_FAULTS=faults)
    subprocess.run([tool, "--fast", "--seed", "5", "-d", "6", "-o", recording, "--overwrite", "-q"], env=env,
                   check=True, timeout=120)
    result = check(tool, 5, "", "--replay", recording)
    rows = table_rows(result.stdout)
    # The disconnected sensor is not in the file: the replay has it
    # disconnected too. The battery is not recorded.
    flagged = sorted(int(label[3:]) for label, (verdict, _) in rows.items() if verdict != "good")
    assert flagged == [4, 9, 13, 21, 22, 27], result.stdout
    assert "not connected" in rows["EMG13"][1]
    assert result.returncode == 3


def test_selection_and_refusals(tool, work):
    config = os.path.join(work, "eight.json")
    with open(config, "w") as f:
        json.dump({"FormatVersion": 1, "SensorConfiguration": [{"SensorMode": 0 if s < 8 else 3} for s in range(38)]}, f)
    result = check(tool, 2, "3:off,12:hum50", "--config", config, "--json")
    report = json.loads(result.stdout)
    assert [r["sensor"] for r in report["sensors"]] == list(range(1, 9)), report
    assert [r["sensor"] for r in report["sensors"] if r["verdict"] != "good"] == [3]
    assert result.returncode == 3

    result = check(tool, 2, "12:hum50", "--sensors", "1-4", "--json")
    report = json.loads(result.stdout)
    assert [r["sensor"] for r in report["sensors"]] == [1, 2, 3, 4]
    assert result.returncode == 0 and report["verdict"] == "good"

    for faults, says in (("3:hum55", "no fault 'hum55'"), ("40:off", "sensors run from 1 to 36"),
                         ("3", "no ':'"), ("5-2:off", "backwards")):
        result = check(tool, 1, faults)
        assert result.returncode == 1, (faults, result.returncode, result.stdout)
        assert "QUELTO_SIM_FAULTS" in result.stderr and says in result.stderr, (faults, result.stderr)
    result = check(tool, 1, "", "-o", os.path.join(work, "x.bdf"))
    assert result.returncode != 0 and "records nothing" in result.stderr, result.stderr


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--case", required=True, choices=["faults", "replay", "selection"])
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        {"faults": lambda: test_fault_sets(args.tool), "replay": lambda: test_replay(args.tool, work),
         "selection": lambda: test_selection_and_refusals(args.tool, work)}[args.case]()
    print(f"quality check {args.case}: passed")


if __name__ == "__main__":
    sys.exit(main())
