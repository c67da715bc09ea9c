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
    """{name: number} of the object-like #defines starting with prefix; a
    define naming another one takes its number."""
    raw = {m.group(1): m.group(2)
           for m in re.finditer(r"#define (" + prefix + r"\w*)[ \t]+(0x[0-9A-Fa-f]+\b|\d+\b|[A-Z_][A-Z0-9_]*\b(?!\())", text)}
    values = {}
    for name, value in raw.items():
        seen = set()
        while value in raw and value not in seen:
            seen.add(value)
            value = raw[value]
        if re.fullmatch(r"0x[0-9A-Fa-f]+|\d+", value):
            values[name] = int(value, 0)
    return values


def block_fields():
    """[(kind, name, view)] of the one list of a block's fields."""
    text = header("hosting/include/SdkBlockFields.h")
    return [(m.group(1), m.group(2), m.group(3).split(", ")[-1] if m.group(3) else None)
            for m in re.finditer(r"^\s*(ARRAY|SCALAR|FLAG|SPARE)\((\w+)(?:, ([\w, ]+))?\)", text, re.M)]


def library_env():
    return os.environ.get("QUELTO_BRIDGE_LIBRARY")
