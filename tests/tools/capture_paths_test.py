#!/usr/bin/env python3
"""quelto-capture with file names that are not ASCII, in the C locale.

The configuration, the recording and the summary all live in a folder whose
name is not ASCII; the tool must load the one and write the others there.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--tool", required=True)
    p.add_argument("--work", required=True)
    args = p.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    folder = os.path.join(args.work, "Messung_\u00fc_\u00b5V")
    os.makedirs(folder)
    config = os.path.join(folder, "Konfiguration_M\u00fcller.json")
    with open(config, "w", encoding="utf-8") as f:
        json.dump({"CaptureConfiguration": {"EnabledInsole": [True, False]},
                   "Insoles": [{"Name": "M\u00fcller", "Unit": "\u00b5V"}, {}]}, f)
    # A file under the name a lossy conversion would make of it must not be
    # the one loaded: it is not even valid.
    with open(os.path.join(folder, "Konfiguration_M??ller.json"), "w") as f:
        f.write("not a configuration")
    output = os.path.join(folder, "Aufnahme_\u00fc.bdf")
    summary = os.path.join(folder, "Zusammenfassung_\u00b5.json")
    env = {k: v for k, v in os.environ.items() if not k.startswith("LC_") and k != "LANG"}
    env["LC_ALL"] = "C"
    result = subprocess.run([args.tool, "--fast", "--duration", "0.5", "--sensors", "1", "--config", config,
                             "--output", output, "--summary", summary], capture_output=True, text=True, env=env,
                            cwd=args.work)
    assert result.returncode == 0, (result.returncode, result.stdout, result.stderr)
    assert os.path.getsize(output) > 256, output
    with open(summary, encoding="utf-8") as f:
        data = json.load(f)
    assert data["records"] == 5, data["records"]
    print("paths: configuration loaded and files written under", folder)
    return 0


if __name__ == "__main__":
    sys.exit(main())
