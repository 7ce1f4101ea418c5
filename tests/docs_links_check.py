#!/usr/bin/env python3
"""Checks the documentation's links: every relative link in README.md, docs/*.md
and the README.md of each top-level folder must name an existing file or
folder, and a #fragment must name a heading of its page (as GitHub makes
anchors from headings). README.md must stay within its 200 lines.

usage: docs_links_check.py <source tree>
"""
import pathlib
import re
import sys

README_MAX_LINES = 200
LINK = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\(([^)\s]+)(?:\s+\"[^\"]*\")?\)")
HEADING = re.compile(r"^(#{1,6})\s+(.*?)\s*#*\s*$")
EXTERNAL = ("http://", "https://", "mailto:")


def prose_lines(text):
    """The lines outside code: fenced blocks, indented blocks and code spans go."""
    fenced = False
    for line in text.splitlines():
        if line.lstrip().startswith("```"):
            fenced = not fenced
            continue
        if fenced or line.startswith(("    ", "\t")):
            continue
        yield re.sub(r"`[^`]*`", "", line)


def anchors(text):
    """GitHub's anchors for the page's headings."""
    seen = {}
    found = set()
    fenced = False
    for line in text.splitlines():
        if line.lstrip().startswith("```"):
            fenced = not fenced
            continue
        match = None if fenced else HEADING.match(line)
        if not match:
            continue
        title = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", match.group(2)).replace("`", "")
        slug = re.sub(r"[^\w\- ]", "", title.lower()).replace(" ", "-")
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        found.add(slug if count == 0 else f"{slug}-{count}")
    return found


def main(root):
    root = pathlib.Path(root).resolve()
    pages = [root / "README.md", *sorted((root / "docs").glob("*.md")),
             *sorted(root.glob("*/README.md"))]
    faults = []
    links = 0
    for page in pages:
        text = page.read_text(encoding="utf-8")
        where = page.relative_to(root)
        for line in prose_lines(text):
            for target in LINK.findall(line):
                if target.startswith(EXTERNAL):
                    continue
                links += 1
                path, _, fragment = target.partition("#")
                resolved = (page.parent / path).resolve() if path else page
                if not resolved.exists():
                    faults.append(f"{where}: link to {target}: no such file or folder")
                elif fragment and (resolved.suffix != ".md" or
                                   fragment not in anchors(resolved.read_text(encoding="utf-8"))):
                    faults.append(f"{where}: link to {target}: no such heading")
    readme_lines = len((root / "README.md").read_text(encoding="utf-8").splitlines())
    if readme_lines > README_MAX_LINES:
        faults.append(f"README.md: {readme_lines} lines, more than {README_MAX_LINES}")
    for fault in faults:
        print(fault)
    print(f"{len(pages)} pages, {links} relative links, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
