"""Shared bits of the binding's tests."""
import os
import re
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[2]


def header(relative):
    return (SOURCE / relative).read_text()


def offsets(text, macro):
    """{field: offset} from lines like MACRO(Field, 42);"""
    return {m.group(1): int(m.group(2)) for m in re.finditer(macro + r"\((\w+),\s*(\d+)\)", text)}


def defines(text, prefix):
    return {m.group(1): int(m.group(2), 0)
            for m in re.finditer(r"#define (" + prefix + r"\w*)\s+(0x[0-9A-Fa-f]+|\d+)\b", text)}


def library_env():
    return os.environ.get("QUELTO_BRIDGE_LIBRARY")
