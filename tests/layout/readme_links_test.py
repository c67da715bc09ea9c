#!/usr/bin/env python3
"""README as a newcomer reads it: every page in docs/ is linked from it, and
every link to a file of the tree or to one of its own sections leads
somewhere."""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]


def anchor(heading):
    """GitHub's anchor of a heading: lower case, punctuation dropped, spaces as hyphens."""
    text = re.sub(r"[^\w\- ]", "", heading.strip().lower())
    return text.replace(" ", "-")


def main():
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    anchors, seen = set(), {}
    for line in readme.splitlines():
        m = re.match(r"#{1,6} (.+)", line)
        if m:
            a = anchor(m.group(1))
            n = seen.get(a, 0)
            seen[a] = n + 1
            anchors.add(a if n == 0 else f"{a}-{n}")
    links = re.findall(r"\]\(([^)\s]+)\)", readme)
    problems = []
    for link in links:
        if link.startswith(("http://", "https://")):
            continue
        if link.startswith("#"):
            if link[1:] not in anchors:
                problems.append(f"no section for {link}")
        elif not (ROOT / link.split("#")[0]).exists():
            problems.append(f"no file {link}")
    linked = {pathlib.PurePosixPath(l.split("#")[0]) for l in links}
    for page in sorted((ROOT / "docs").glob("*.md")):
        if pathlib.PurePosixPath("docs", page.name) not in linked:
            problems.append(f"docs/{page.name} is not linked")
    if problems:
        print("\n".join(problems))
        return 1
    print(f"{len(links)} links, {len(anchors)} sections")
    return 0


if __name__ == "__main__":
    sys.exit(main())
