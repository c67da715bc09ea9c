"""The drawing example runs and writes a PNG where it is told, by default
in the current folder; its EMG envelopes leave the DC offset out."""
import hashlib
import importlib.util
import os
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

import numpy as np

EXAMPLE = Path(__file__).resolve().parents[1] / "examples" / "plot_capture.py"
DOCS_PICTURE = Path(__file__).resolve().parents[2] / "docs" / "capture.png"


def example_module():
    module_source = importlib.util.spec_from_file_location("plot_capture", EXAMPLE)
    module = importlib.util.module_from_spec(module_source)
    module_source.loader.exec_module(module)
    return module


class PlotExample(unittest.TestCase):
    def test_envelope_is_the_level_in_the_band_without_the_offset(self):
        envelope = example_module().envelope
        rng = np.random.default_rng(1)
        rest = 55e-6 + 2.5e-6 * rng.standard_normal((2, 4000))  # offset, noise floor
        rest[1, 1000:1400] += 500e-6 * rng.standard_normal(400)  # a burst
        env = envelope(rest.astype(np.float32), 2000)
        # White noise keeps (450 - 20) / 1000 of its power in the band.
        self.assertAlmostEqual(float(np.median(env[0])), 2.5e-6 * np.sqrt(0.43), delta=0.3e-6)
        self.assertLess(float(env[1, 3000]), 5e-6)
        self.assertGreater(float(env[1, 1200]), 200e-6)  # the burst: about 330 uV in the band

    def test_default_output_is_in_the_current_folder(self):
        before = hashlib.sha256(DOCS_PICTURE.read_bytes()).hexdigest() if DOCS_PICTURE.exists() else None
        with tempfile.TemporaryDirectory() as here:
            r = subprocess.run([sys.executable, str(EXAMPLE), "--seconds", "0.5"], cwd=here,
                               capture_output=True, text=True, timeout=90)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertTrue(os.path.isfile(os.path.join(here, "capture.png")), os.listdir(here))
        after = hashlib.sha256(DOCS_PICTURE.read_bytes()).hexdigest() if DOCS_PICTURE.exists() else None
        self.assertEqual(before, after)

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
