"""The drawing example runs and writes a PNG."""
import os
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

EXAMPLE = Path(__file__).resolve().parents[1] / "examples" / "plot_capture.py"


class PlotExample(unittest.TestCase):
    def test_writes_a_png(self):
        try:
            import matplotlib  # noqa: F401
        except ImportError:
            self.fail("matplotlib is missing: scripts/install-deps.sh installs python3-matplotlib")
        with tempfile.TemporaryDirectory() as out:
            png = os.path.join(out, "capture.png")
            r = subprocess.run([sys.executable, str(EXAMPLE), "--seconds", "1", "--output", png],
                               capture_output=True, text=True, timeout=90)
            self.assertEqual(r.returncode, 0, r.stderr)
            with open(png, "rb") as f:
                data = f.read()
        self.assertTrue(data.startswith(b"\x89PNG\r\n\x1a\n"))
        self.assertGreater(len(data), 20000)
        self.assertRegex(r.stdout, r"^\d+ blocks, figure in ")


if __name__ == "__main__":
    unittest.main()
