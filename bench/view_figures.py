#!/usr/bin/env python3
"""The capture tool's cost with the live view: 0, 1 and 10 viewers.

For a real-time capture of the simulated device (100 ms blocks, all 36
sensors, a BDF file) without --view, and with --view and 0, 1 or 10 viewers
that read every frame (WebSocket clients, threads of this process), and one
viewer that never reads, it prints the time the bridge's worker spends in
the tool's listeners per block (p50, p99), arrival -> listener, the tool's
CPU, the frames each viewer got per second and their size, and the frames
the server dropped.

  /usr/bin/python3 bench/view_figures.py [--duration 20] [--tool PATH]
"""
import argparse
import base64
import os
import socket
import subprocess
import tempfile
import threading
import time

from tool_runs import finish

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Viewer(threading.Thread):
    """Reads the stream's frames (or, `stalled`, nothing) until it ends."""

    def __init__(self, port, stalled=False):
        super().__init__(daemon=True)
        self.sock = socket.create_connection(("127.0.0.1", port))
        if stalled:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall((f"GET /stream HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                           f"Sec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n").encode())
        head = b""
        while b"\r\n\r\n" not in head:
            head += self.sock.recv(1)
        assert head.startswith(b"HTTP/1.1 101"), head
        self.stalled, self.frames, self.bytes = stalled, 0, 0
        self.first = self.last = None

    def read(self, n):
        data = b""
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise EOFError
            data += chunk
        return data

    def run(self):
        if self.stalled:
            return
        try:
            while True:
                b0, b1 = self.read(2)
                n = b1 & 0x7F
                if n == 126:
                    n = int.from_bytes(self.read(2), "big")
                elif n == 127:
                    n = int.from_bytes(self.read(8), "big")
                self.read(n)
                if b0 & 0x0F == 0x8:  # close
                    return
                self.bytes += n
                if not b0 & 0x80:  # a message goes on in the next frame
                    continue
                now = time.monotonic()
                self.first = self.first or now
                self.last = now
                self.frames += 1
        except (EOFError, OSError):
            return


def run(tool, work, name, duration, viewers, view=True, stalled=0):
    summary = os.path.join(work, name + ".json")
    cmd = [tool, "-d", str(duration), "-o", os.path.join(work, "capture.bdf"), "--overwrite", "--summary", summary,
           "--seed", "3"]
    if view:
        cmd += ["--view", "127.0.0.1:0"]
    started = time.monotonic()
    proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                            text=True)
    readers = []
    if view:
        line = proc.stderr.readline()
        port = int(line.rsplit(":", 1)[1].strip().rstrip("/"))
        readers = [Viewer(port) for _ in range(viewers)] + [Viewer(port, stalled=True) for _ in range(stalled)]
        for r in readers:
            r.start()
    s, cpu, _ = finish(proc, name, summary, started)
    for r in readers:
        r.join(timeout=5)
        r.sock.close()
    reading = [r for r in readers if not r.stalled and r.frames > 1]
    rate = sum((r.frames - 1) / (r.last - r.first) for r in reading) / len(reading) if reading else None
    size = sum(r.bytes / r.frames for r in reading) / len(reading) if reading else None
    return {
        "name": name, "cpu": cpu,
        "p50": s["worker"]["listeners_us_p50"], "p99": s["worker"]["listeners_us_p99"],
        "arrival_p50": s["worker"]["arrival_to_listener_us_p50"], "arrival_p99": s["worker"]["arrival_to_listener_us_p99"],
        "blocks": s["blocks_received"], "rate": rate, "size": size,
        "dropped": s.get("view", {}).get("frames_dropped"), "view_blocks_dropped": s.get("view", {}).get("blocks_dropped"),
    }


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--duration", type=float, default=20)
    parser.add_argument("--tool", default=os.path.join(ROOT, "build", "default", "bin", "quelto-capture"))
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        rows = [run(args.tool, work, "no view", args.duration, 0, view=False)]
        for n in (0, 1, 10):
            rows.append(run(args.tool, work, f"--view, {n} viewer{'s' if n != 1 else ''}", args.duration, n))
        rows.append(run(args.tool, work, "--view, 1 + 1 stalled", args.duration, 1, stalled=1))
    print(f"quelto-capture, 100 ms blocks, 36 sensors, {args.duration:.0f} s each (microseconds unless said)")
    print(f"{'':22} {'listeners p50':>13} {'p99':>7} {'arrival->listener p50':>22} {'p99':>7} {'CPU %':>6} "
          f"{'frames/s':>9} {'kB/frame':>9} {'dropped':>8}")
    for r in rows:
        rate = f"{r['rate']:9.1f}" if r["rate"] else f"{'-':>9}"
        size = f"{r['size'] / 1000:9.1f}" if r["size"] else f"{'-':>9}"
        dropped = f"{r['dropped']:8d}" if r["dropped"] is not None else f"{'-':>8}"
        print(f"{r['name']:22} {r['p50']:13.1f} {r['p99']:7.1f} {r['arrival_p50']:22.1f} {r['arrival_p99']:7.1f} "
              f"{r['cpu']:6.1f} {rate} {size} {dropped}")


if __name__ == "__main__":
    main()
