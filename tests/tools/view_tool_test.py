#!/usr/bin/env python3
"""quelto-capture --view from the outside, on loopback.

A port already in use stops the tool before the device starts (exit 2,
with the reason, no file). An address other than loopback is taken only
with a warning. A viewer that completes the WebSocket handshake and then
never reads costs the capture nothing: every block is taken, the file is
complete, the worker's time in the listeners stays small, and the frames
the stalled viewer could not take are counted as dropped.
"""
import argparse
import base64
import json
import os
import socket
import subprocess
import sys
import tempfile


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, timeout=120, **kw)


def test_port_in_use(tool, work):
    busy = socket.socket()
    busy.bind(("127.0.0.1", 0))
    busy.listen()
    port = busy.getsockname()[1]
    out = os.path.join(work, "never.bdf")
    result = run([tool, "--view", f"127.0.0.1:{port}", "-d", "1", "-o", out])
    busy.close()
    assert result.returncode == 2, (result.returncode, result.stderr)
    assert f"127.0.0.1:{port}" in result.stderr and "in use" in result.stderr, result.stderr
    assert "device software" not in result.stderr, result.stderr
    assert not os.path.exists(out)
    result = run([tool, "--view", "127.0.0.1:http", "-d", "1"])
    assert result.returncode == 2 and "not a port number" in result.stderr, result.stderr


def test_other_address_warns(tool, work):
    result = run([tool, "--view", "0.0.0.0:0", "-d", "0.3", "--fast"])
    assert result.returncode == 0, result.stderr
    assert "warning: the live view listens on 0.0.0.0" in result.stderr, result.stderr
    result = run([tool, "--view", "127.0.0.1:0", "-d", "0.3", "--fast"])
    assert result.returncode == 0 and "warning" not in result.stderr, result.stderr


def stalled_viewer(port):
    """A WebSocket viewer with a tiny receive buffer that never reads."""
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.connect(("127.0.0.1", port))
    key = base64.b64encode(os.urandom(16)).decode()
    s.sendall((f"GET /stream HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
               f"Sec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n").encode())
    reply = b""
    while b"\r\n\r\n" not in reply:
        chunk = s.recv(1)
        assert chunk, reply
        reply += chunk
    assert reply.startswith(b"HTTP/1.1 101"), reply
    return s


def test_stalled_viewer(tool, work):
    out, summary = os.path.join(work, "stalled.bdf"), os.path.join(work, "stalled.json")
    seconds = 6
    proc = subprocess.Popen([tool, "--view", "127.0.0.1:0", "--seed", "2", "-d", str(seconds), "-o", out,
                             "--summary", summary, "--overwrite"], stderr=subprocess.PIPE, stdout=subprocess.PIPE,
                            text=True)
    line = proc.stderr.readline()
    assert "live view at http://127.0.0.1:" in line, line
    port = int(line.rsplit(":", 1)[1].strip().rstrip("/"))
    viewer = stalled_viewer(port)
    try:
        _, err = proc.communicate(timeout=120)
    finally:
        viewer.close()
    assert proc.returncode == 0, err
    with open(summary) as f:
        s = json.load(f)
    blocks = seconds * 10
    assert s["blocks_received"] == blocks and s["records"] == blocks, (s["blocks_received"], s["records"])
    # The stalled viewer lost frames, the capture nothing. (The worker's time
    # with viewers is a figure of bench/view_figures.py, not a timed test.)
    assert s["view"]["frames_dropped"] > 0, s["view"]
    assert s["lost_packets"] == 0, s["lost_packets"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--case", required=True, choices=["port", "address", "stalled"])
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        {"port": test_port_in_use, "address": test_other_address_warns, "stalled": test_stalled_viewer}[args.case](
            args.tool, work)
    print(f"view {args.case}: passed")


if __name__ == "__main__":
    sys.exit(main())
