"""The README's Python examples run as they are written (on the simulated
device in fast mode, from the top of the checkout)."""
import os
import re
import subprocess
import sys
import unittest
from pathlib import Path

import quelto

SOURCE = Path(__file__).resolve().parents[2]
SECTION = "## Installing, and using from Python"


def examples():
    text = (SOURCE / "README.md").read_text()
    start = text.index(SECTION)
    end = text.find("\n## ", start + len(SECTION))
    return re.findall(r"^```python\n(.*?)^```", text[start:end], re.S | re.M)


class ReadmeExamples(unittest.TestCase):
    def test_every_python_example_runs(self):
        blocks = examples()
        self.assertGreaterEqual(len(blocks), 4)
        env = dict(os.environ, QUELTO_SIM_MODE="fast", MPLBACKEND="Agg",
                   PYTHONPATH=str(Path(quelto.__file__).resolve().parents[1]))
        for k, code in enumerate(blocks):
            with self.subTest(example=k, first_line=code.splitlines()[0]):
                r = subprocess.run([sys.executable, "-c", code], cwd=SOURCE, env=env, capture_output=True,
                                   text=True, timeout=120)
                self.assertEqual(r.returncode, 0, r.stderr[-3000:])


if __name__ == "__main__":
    unittest.main()
