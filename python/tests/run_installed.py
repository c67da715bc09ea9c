"""Runs the binding's tests against the installed package (a wheel in a
virtual environment) rather than the sources beside them.

    <venv>/bin/python python/tests/run_installed.py
"""
import sys
import unittest
from pathlib import Path

TESTS = Path(__file__).resolve().parent
SOURCES = TESTS.parent

sys.path[:] = [p for p in sys.path if Path(p or ".").resolve() not in (SOURCES, TESTS)]
import quelto  # noqa: E402

if Path(quelto.__file__).resolve().is_relative_to(SOURCES):
    sys.exit(f"quelto was imported from the sources ({quelto.__file__}), not installed")
print(f"testing quelto {quelto.__version__} at {Path(quelto.__file__).parent}", flush=True)
sys.path.append(str(SOURCES))  # the tests package, after the installed one
suite = unittest.defaultTestLoader.discover(str(TESTS), top_level_dir=str(SOURCES))
result = unittest.TextTestRunner(verbosity=2).run(suite)
sys.exit(0 if result.wasSuccessful() else 1)
