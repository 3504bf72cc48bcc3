#!/usr/bin/env python3
"""Writes the plain-text guide for Windows users from the README.

    windows-guide.py README.md VERSION OUT [CHANGELOG.md]

The guide is the README's opening (what the program does), its sections "Using it"
and "For Windows users", and, given the changelog, its newest entry under "What is
new", as plain ASCII text with Windows line ends: markdown marks are dropped, code
goes between double quotes, tables become indented lines, and <version> becomes the
version.
"""
import re
import sys

SECTIONS = ("Using it", "For Windows users")
WIDTH = 78


def sections(lines):
    """(heading, lines) pairs: the opening under the title first, then each ## section."""
    found = [("", [])]
    for line in lines:
        if line.startswith("# "):
            continue
        if line.startswith("## "):
            found.append((line[3:].strip(), []))
        else:
            found[-1][1].append(line)
    return found


KEEP = "\0"  # stands for a blank inside `code`, which wrapping must keep


def plain(text, version):
    text = text.replace("<version>", version).replace("\u2192", "->")
    text = re.sub(r"!\[[^\]]*\]\([^)]*\)", "", text)            # pictures
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text)        # links
    text = re.sub(r"\*\*([^*]+)\*\*", r"\1", text)              # bold
    text = re.sub(r"(?<![\w*])\*([^*\s][^*]*)\*(?![\w*])", r"\1", text)  # italics
    # `code` (names, paths, the program's own texts) goes between double quotes and
    # keeps its blanks, leading and doubled ones too.
    text = re.sub(r"`([^`]*)`", lambda m: '"' + m.group(1).replace(" ", KEEP) + '"', text)
    return text


def wrap(text, first, rest=None):
    rest = first if rest is None else rest
    lines, line = [], first
    for word in text.split():
        if len(line) + len(word) + 1 > WIDTH and line.strip():
            lines.append(line.rstrip())
            line = rest
        line += word + " "
    if line.strip():
        lines.append(line.rstrip())
    return [l.replace(KEEP, " ") for l in lines]


def blocks(body):
    """The section's paragraphs, list items, table rows, code lines and headings."""
    found = []
    for line in body:
        kind = found[-1][0] if found else "blank"
        if not line.strip():
            found.append(("blank", ""))
        elif line.startswith("    ") and kind in ("blank", "code"):
            found.append(("code", line.rstrip()))
        elif line.startswith("|"):
            found.append(("row", line.strip()))
        elif line.startswith("### "):
            found.append(("heading", line[4:].strip()))
        elif line.startswith("- "):
            found.append(("item", line[2:].strip()))
        elif kind in ("item", "paragraph"):
            found[-1] = (kind, found[-1][1] + " " + line.strip())
        else:
            found.append(("paragraph", line.strip()))
    return found


def render(heading, body, version):
    out = [heading, "=" * len(heading), ""] if heading else []
    for kind, text in blocks(body):
        if kind == "blank":
            if out and out[-1]:
                out.append("")
        elif kind == "code":
            out.append(plain(text, version).replace(KEEP, " "))
        elif kind == "heading":
            title = plain(text, version)
            out += [title, "-" * len(title), ""]
        elif kind == "item":
            out += wrap(plain(text, version), "  - ", "    ")
        elif kind == "paragraph":
            out += wrap(plain(text, version), "")
        elif not re.match(r"^\|[-| ]+\|$", text):  # a table row, not its rule
            cells = [c.strip() for c in text.strip("|").split("|")]
            if cells[0] != "Menu":  # not the header
                out += wrap(plain(cells[0], version), "")
                out += wrap(plain(" ".join(cells[1:]), version), "    ")
                out.append("")
    return out


def newest_entry(changelog):
    """The newest version's entry of a changelog in the "Keep a Changelog" layout:
    ("What is new in <version> (<date>)", its lines, with ### headings kept)."""
    with open(changelog, encoding="utf-8") as f:
        lines = f.read().splitlines()
    start = next(i for i, line in enumerate(lines) if re.match(r"^## \[\d", line))
    end = next((i for i in range(start + 1, len(lines)) if lines[i].startswith("## ")), len(lines))
    found = re.match(r"^## \[([^\]]+)\] - (\S+)", lines[start])
    return "What is new in %s (%s)" % found.groups(), lines[start + 1:end]


def main():
    readme, version, target = sys.argv[1:4]
    with open(readme, encoding="utf-8") as f:
        lines = f.read().splitlines()
    guide = ["Dazirar OrU " + version, "=" * len("Dazirar OrU " + version), ""]
    for heading, body in sections(lines):
        if heading == "" or heading in SECTIONS:
            guide += render(heading, body, version)
            if guide[-1]:
                guide.append("")
    if len(sys.argv) > 4:
        guide += render(*newest_entry(sys.argv[4]), version)
    text = "\r\n".join(guide).rstrip() + "\r\n"
    text.encode("ascii")  # the guide is plain ASCII, as the program's texts are
    with open(target, "w", encoding="ascii", newline="") as f:
        f.write(text)


if __name__ == "__main__":
    main()
