"""The installed package (a wheel in a virtual environment): the library
and its SDK inside the package, found with nothing set in the environment;
type information; the version is the library's."""
import importlib.metadata
import os
import shutil
import subprocess
import sys
import unittest
from pathlib import Path

import quelto

PACKAGE = Path(quelto.__file__).resolve().parent
FROM_SOURCES = PACKAGE.parent == Path(__file__).resolve().parents[1]


@unittest.skipIf(FROM_SOURCES, "the package runs from the source tree; the wheel test runs these")
class Installed(unittest.TestCase):
    def test_nothing_points_at_the_library(self):
        for name in ("QUELTO_BRIDGE_LIBRARY", "LD_LIBRARY_PATH", "PYTHONPATH"):
            self.assertNotIn(name, os.environ)

    def test_library_and_sdk_sit_in_the_package(self):
        r = subprocess.run([sys.executable, "-c", "import quelto; d = quelto.Device(); "
                            "print(quelto.library_path()); print(d.software_version); d.close()"],
                           capture_output=True, text=True, timeout=60, cwd="/")
        self.assertEqual(r.returncode, 0, r.stderr)
        library, version = r.stdout.splitlines()
        self.assertEqual(Path(library).parent, PACKAGE / "lib")
        self.assertEqual(version, "SoftwareVersion(major=1, minor=4, build=2, revision=7)")
        files = {p.name for p in (PACKAGE / "lib").iterdir()}
        self.assertTrue({"Quelto.dll", "Quelto.Common.dll", "PellimorCfgReader.dll"} <= files, files)
        self.assertEqual("QueltoBridgeHost.dll" in files, shutil.which("mcs") is not None, files)
        self.assertFalse(any(p.is_symlink() for p in (PACKAGE / "lib").iterdir()))

    def test_typed_and_versioned_as_the_library(self):
        self.assertTrue((PACKAGE / "py.typed").is_file())
        self.assertEqual(importlib.metadata.version("quelto"), quelto.version())
        self.assertEqual(quelto.__version__, quelto.version())
        requires = importlib.metadata.requires("quelto")
        self.assertTrue(any(r.startswith("numpy") for r in requires), requires)
        self.assertTrue(any(r.startswith("mne") and "extra" in r for r in requires), requires)


if __name__ == "__main__":
    unittest.main()
