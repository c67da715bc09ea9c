"""Finding and loading the library (each case in a fresh interpreter: a
process loads the library once)."""
import os
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

import quelto
from tests import support

# The folder the package under test was imported from: the sources, or
# site-packages of an installed wheel.
PYTHON_DIR = str(Path(quelto.__file__).resolve().parents[1])


def run(code, env_changes):
    env = dict(os.environ, PYTHONPATH=PYTHON_DIR, PYTHONDONTWRITEBYTECODE="1")
    for k, v in env_changes.items():
        if v is None:
            env.pop(k, None)
        else:
            env[k] = v
    return subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=60)


class Lookup(unittest.TestCase):
    def test_missing_library_says_where_it_looked(self):
        with tempfile.TemporaryDirectory() as empty:
            missing = os.path.join(empty, "libQuelto.bridge.so")
            r = run("import quelto\n"
                    "try:\n    quelto.Device()\n"
                    "except quelto.LibraryNotFoundError as e:\n"
                    "    assert isinstance(e, OSError)\n"
                    "    print('TRIED', e.tried)\n    print(e)\n",
                    {"QUELTO_BRIDGE_LIBRARY": missing})
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(missing, r.stdout)
        self.assertIn("QUELTO_BRIDGE_LIBRARY", r.stdout)

    def test_a_folder_in_the_variable_is_searched(self):
        library = support.library_env()
        if not library:
            self.skipTest("QUELTO_BRIDGE_LIBRARY not set")
        r = run("import quelto; print(quelto.library_path())", {"QUELTO_BRIDGE_LIBRARY": os.path.dirname(library)})
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(os.path.realpath(r.stdout.strip()), os.path.realpath(library))

    def test_import_needs_no_library(self):
        r = run("import quelto; print(quelto.layout.SENSORS)", {"QUELTO_BRIDGE_LIBRARY": "/nonexistent/lib.so"})
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.strip(), "36")

    def test_a_file_that_is_no_library_fails_with_its_path(self):
        with tempfile.NamedTemporaryFile(suffix=".so") as f:
            f.write(b"not a library")
            f.flush()
            r = run("import quelto\ntry:\n    quelto.version()\nexcept quelto.QueltoError as e:\n    print(e)\n",
                    {"QUELTO_BRIDGE_LIBRARY": f.name})
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(f.name, r.stdout)


class Version(unittest.TestCase):
    def test_version_matches_the_header_macros(self):
        import quelto
        d = support.defines(support.header("bridge/include/QueltoBridge.h"), "QUELTO_BRIDGE_VERSION_")
        expected = "%d.%d.%d" % (d["QUELTO_BRIDGE_VERSION_MAJOR"], d["QUELTO_BRIDGE_VERSION_MINOR"],
                                 d["QUELTO_BRIDGE_VERSION_PATCH"])
        self.assertEqual(quelto.version(), expected)
        self.assertEqual(quelto.__version__, expected)


if __name__ == "__main__":
    unittest.main()
