"""Peak memory of Device.capture() against the size of the samples it
returns, on the simulated device in fast mode (Linux: reads the process's
peak resident size, reset before the capture).

    python3 python/tests/capture_memory.py 600      # prints one JSON line
"""
import json
import os
import sys
import time
import tracemalloc


def status_kib(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError(f"no {field} in /proc/self/status")


def measure(seconds, period="DEFAULT"):
    os.environ["QUELTO_SIM_MODE"] = "fast"
    import quelto
    with quelto.Device() as device:
        device.capture(0.2, period=period, progress=False)  # everything loaded and warm
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")  # resets the peak resident size to the current one
        before = status_kib("VmRSS")
        tracemalloc.start()
        start = time.monotonic()
        capture = device.capture(seconds, period=period, progress=False)
        wall = time.monotonic() - start
        traced_peak = tracemalloc.get_traced_memory()[1]
        peak = status_kib("VmHWM")
    # Stopped once the device's worker has ended: Python 3.11 may crash when
    # tracing stops while a foreign thread enters the interpreter.
    tracemalloc.stop()
    data = sum(b.data.nbytes for b in capture.buffers.values())
    return {"seconds": capture.duration, "blocks": len(capture), "wall_s": round(wall, 2),
            "samples_MiB": round(data / 2**20, 1),
            "peak_rss_added_MiB": round((peak - before) / 1024, 1),
            "traced_peak_MiB": round(traced_peak / 2**20, 1),
            "rss_before_MiB": round(before / 1024, 1)}


if __name__ == "__main__":
    try:
        import quelto  # noqa: F401 - installed
    except ImportError:  # the sources beside this file
        sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    print(json.dumps(measure(float(sys.argv[1]) if len(sys.argv) > 1 else 60.0,
                             sys.argv[2] if len(sys.argv) > 2 else "DEFAULT")))
