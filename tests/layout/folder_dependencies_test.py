#!/usr/bin/env python3
"""Folder dependencies run one way: bridge -> pipeline -> config -> hosting.
Each quoted include of a source in one of these folders must name a header
of its own folder or of a folder below it. The one allowed back edge is the
event bridge calling its owner, the facade (pipeline -> bridge's
Quelto_DaqSystem.h, in QueltoManagedBridge.cpp only). The architecture page
names every source file of these folders."""
import pathlib
import re
import sys
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
ORDER = ["bridge", "pipeline", "config", "hosting"]
BACK_EDGES = {("pipeline/QueltoManagedBridge.cpp", "Quelto_DaqSystem.h")}


def headers_by_folder():
    owner = {}
    for folder in ORDER:
        for header in (ROOT / folder).rglob("*.h"):
            owner.setdefault(header.name, folder)
    return owner


class FolderDependencies(unittest.TestCase):
    def test_includes_point_down_the_order(self):
        owner = headers_by_folder()
        self.assertIn("QueltoBridge.h", owner)
        wrong = []
        checked = 0
        for folder in ORDER:
            allowed = set(ORDER[ORDER.index(folder):])
            for source in (ROOT / folder).rglob("*"):
                if source.suffix not in (".h", ".cpp", ".c"):
                    continue
                relative = source.relative_to(ROOT).as_posix()
                for name in re.findall(r'^\s*#\s*include\s+"([^"]+)"', source.read_text(), re.M):
                    target = owner.get(pathlib.PurePosixPath(name).name)
                    if target is None:
                        continue  # a header of a library outside these folders
                    checked += 1
                    if target not in allowed and (relative, name) not in BACK_EDGES:
                        wrong.append(f"{relative} includes {name} ({target}/)")
        self.assertGreater(checked, 50)
        self.assertEqual(wrong, [])

    def test_the_architecture_page_names_every_source_file(self):
        """Each source of the four folders is found by its name: docs/
        architecture.md names it (or its stem, for a header and its source)."""
        page = (ROOT / "docs/architecture.md").read_text()
        missing = []
        sources = 0
        for folder in ORDER:
            for source in (ROOT / folder).rglob("*"):
                if source.suffix not in (".h", ".cpp", ".c", ".cs"):
                    continue
                sources += 1
                if source.name not in page and source.stem + ".*" not in page:
                    missing.append(source.relative_to(ROOT).as_posix())
        self.assertGreater(sources, 60)
        self.assertEqual(missing, [])


if __name__ == "__main__":
    sys.exit(unittest.main())
