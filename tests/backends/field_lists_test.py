#!/usr/bin/env python3
"""The managed backend names a block's fields twice by hand, in the helper
assembly (QueltoBridgeHost.cs: the order in which it hands them over) and
in the native reader of what it hands over (ManagedDevice.cpp), which
matches them by position: both must hold exactly the fields of the one list
of a block's fields, in one order between them."""
import pathlib
import re
import sys
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]


def block_fields():
    text = (ROOT / "hosting/include/SdkBlockFields.h").read_text()
    return re.findall(r"^\s*(ARRAY|SCALAR|FLAG|SPARE)\((\w+)", text, re.M)


def csharp_list(text, name):
    body = re.search(r"static readonly string\[\] " + name + r" = \{(.*?)\};", text, re.S).group(1)
    return re.findall(r'"(\w+)"', body)


class FieldLists(unittest.TestCase):
    def setUp(self):
        fields = block_fields()
        self.assertGreater(len(fields), 30)
        self.scalars = [n for kind, n in fields if kind in ("SCALAR", "FLAG")]
        self.arrays = [n for kind, n in fields if kind == "ARRAY"]

    def test_both_sides_hold_every_field_of_the_list_in_one_order(self):
        helper = (ROOT / "hosting/managed/QueltoBridgeHost.cs").read_text()
        reader = (ROOT / "hosting/ManagedDevice.cpp").read_text()
        helper_scalars, helper_arrays = csharp_list(helper, "scalarNames"), csharp_list(helper, "arrayNames")
        reader_scalars = re.findall(r"^\s*(\w+) = (?:static_cast<\w+>\(s\[k\+\+\]\)|flag\(\)|number\(\));",
                                    reader, re.M)
        reader_arrays = re.findall(r"^\s*QUELTO_VIEW\((\w+)\);", reader, re.M)
        self.assertEqual(helper_scalars, reader_scalars)
        self.assertEqual(helper_arrays, reader_arrays)
        self.assertEqual(sorted(helper_scalars), sorted(self.scalars))
        self.assertEqual(sorted(helper_arrays), sorted(self.arrays))
        self.assertEqual(len(set(helper_arrays)), len(helper_arrays))


if __name__ == "__main__":
    sys.exit(unittest.main())
