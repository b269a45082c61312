"""Every relative link in the project's Markdown names a file or folder that
exists, and every #anchor names a heading that GitHub gives that anchor.

    check_links.py SOURCE_DIR [unittest options]

Read: README.md, CONTRIBUTING.md, docs/**/*.md and release/**/*.md, those of
them that exist. http(s) and mailto links are not fetched: the suite runs
without a network.
"""

import os
import pathlib
import posixpath
import re
import sys
import tempfile
import unittest
import urllib.parse

# GitHub shows a file at /OWNER/REPO/blob/BRANCH/PATH, so from the top folder
# ../../ climbs to /OWNER/REPO/, whose pages lie outside the tree. Only these
# two are linked; each is reached from any file by climbing two folders above
# the top one. Nothing else may leave the tree.
GITHUB_PAGES = ("releases", "releases/latest")
# The release wing can be taken away whole, and the product still passes its
# suite: where the folder is gone, a link into it is passed over, and said.
OPTIONAL_WING = "release"

FENCE = re.compile(r"^ {0,3}(`{3,}|~{3,})")
ATX = re.compile(r"^ {0,3}(#{1,6})(?:[ \t]+(.*?))?(?:[ \t]+#+)?[ \t]*$")
SETEXT = re.compile(r"^ {0,3}(=+|-+)[ \t]*$")
CODE_SPAN = re.compile(r"(`+)(?:(?!\n[ \t]*\n).)+?\1", re.S)
# [text](target "title") and ![alt](target); one level of brackets in the text
# and of parentheses in the target, as in learn.microsoft.com's addresses.
INLINE = re.compile(
    r"\[(?:[^\[\]]|\[[^\[\]]*\])*\]\(\s*(<[^>\n]*>|(?:[^\s()]|\([^\s()]*\))+)"
    r"(?:\s+(?:\"[^\"]*\"|'[^']*'))?\s*\)")
REFERENCE = re.compile(r"^ {0,3}\[[^\]]+\]:[ \t]*(<[^>\n]*>|\S+)", re.M)
HTML_ANCHOR = re.compile(r"<a\s[^>]*\b(?:name|id)\s*=\s*\"([^\"]+)\"", re.I)
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:")


def blank_code(text):
    """The text with fenced blocks and code spans turned to blanks, line ends
    kept, so that what they show is not taken for links or headings."""
    lines = text.split("\n")
    fence = None
    for i, line in enumerate(lines):
        match = FENCE.match(line)
        if fence is None and match:
            fence = match.group(1)
            lines[i] = ""
        elif fence is not None:
            if match and match.group(1)[0] == fence[0] and len(match.group(1)) >= len(fence) \
                    and not line.strip().strip(fence[0]):
                fence = None
            lines[i] = ""
    text = "\n".join(lines)
    return CODE_SPAN.sub(lambda m: re.sub(r"[^\n]", " ", m.group(0)), text)


def slug(heading):
    """GitHub's anchor for a heading: its text as shown, in lower case, with
    every character but letters, digits, blanks, hyphens and underscores
    dropped and every blank made a hyphen."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # a link shows its text
    text = re.sub(r"<[^>]+>", "", text)
    text = text.replace("`", "").replace("*", "").lower()
    return "".join(c if c.isalnum() or c in "-_" else "-" if c == " " else ""
                   for c in text)


def anchors(text):
    """The anchors of a Markdown file's headings; a repeated one gets -1, -2."""
    seen = {}
    found = set()
    headings = []
    raw = text.split("\n")
    shown = blank_code(text).split("\n")
    for i, line in enumerate(shown):
        # Where a heading lies comes from the blanked text, what it says from
        # the text itself: code spans in it count.
        if ATX.match(line):
            headings.append(ATX.match(raw[i]).group(2) or "")
        elif i and SETEXT.match(line) and shown[i - 1].strip() \
                and not ATX.match(shown[i - 1]) and not SETEXT.match(shown[i - 1]):
            headings.append(raw[i - 1].strip())
    for heading in headings:
        base = slug(heading)
        n = seen.get(base, 0)
        seen[base] = n + 1
        found.add(base if n == 0 else f"{base}-{n}")
    found.update(m.group(1) for m in HTML_ANCHOR.finditer(text))
    return found


def links(text):
    """(line, target) for every link outside code."""
    shown = blank_code(text)
    for pattern in (INLINE, REFERENCE):
        for match in pattern.finditer(shown):
            target = match.group(1)
            if target.startswith("<"):
                target = target[1:-1]
            yield shown.count("\n", 0, match.start(1)) + 1, target


def check_file(root, rel):
    """Problems of one file, each 'path:line: what'."""
    root = pathlib.Path(root)
    text = (root / rel).read_text(encoding="utf-8")
    problems = []
    cache = {}

    def anchors_of(path):
        if path not in cache:
            cache[path] = anchors((root / path).read_text(encoding="utf-8"))
        return cache[path]

    for line, target in links(text):
        where = f"{rel}:{line}"
        if SCHEME.match(target) or target.startswith("//"):
            continue
        path, _, anchor = target.partition("#")
        path = urllib.parse.unquote(path)
        anchor = urllib.parse.unquote(anchor)
        if not path:
            resolved = rel
        else:
            if path.startswith("/"):
                resolved = posixpath.normpath(path.lstrip("/"))
            else:
                resolved = posixpath.normpath(posixpath.join(posixpath.dirname(rel), path))
            if resolved == ".." or resolved.startswith("../"):
                if resolved.rstrip("/") in (f"../../{page}" for page in GITHUB_PAGES) \
                        and not anchor:
                    continue
                problems.append(f"{where}: {target} leaves the repository")
                continue
            if not (root / resolved).exists():
                wing = resolved.split("/")[0]
                if wing == OPTIONAL_WING and not (root / wing).exists():
                    print(f"{where}: {target}: not checked, there is no {wing}/ here")
                    continue
                problems.append(f"{where}: {target}: no such file or folder")
                continue
        if not anchor:
            continue
        if resolved.endswith(".md") and (root / resolved).is_file():
            if anchor not in anchors_of(resolved):
                problems.append(f"{where}: {target}: no heading in {resolved} has the anchor "
                                f"#{anchor}")
        elif not re.fullmatch(r"L\d+(-L\d+)?", anchor):
            problems.append(f"{where}: {target}: an anchor in a file that is not Markdown")
    return problems


def documents(root):
    """The Markdown files read, relative to root, those that exist."""
    root = pathlib.Path(root)
    found = [name for name in ("README.md", "CONTRIBUTING.md") if (root / name).is_file()]
    for folder in ("docs", "release"):
        found += sorted(p.relative_to(root).as_posix() for p in (root / folder).rglob("*.md"))
    return found


class Links(unittest.TestCase):
    def test_every_relative_link_and_anchor_resolves(self):
        names = documents(SOURCE)
        self.assertIn("README.md", names)
        problems = [p for name in names for p in check_file(SOURCE, name)]
        self.assertEqual(problems, [], "dead links:\n" + "\n".join(problems))


class CheckerFindsFaults(unittest.TestCase):
    """The check itself, on small trees: it must fail where GitHub would show
    a dead link, and only there."""

    def tree(self, files):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        for name, body in files.items():
            path = pathlib.Path(tmp.name, name)
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(body, encoding="utf-8")
        return tmp.name

    def test_anchors_follow_github(self):
        found = anchors("# Verify a download\n## What's in `winprobe.exe`?\n"
                        "## Verify a download\n## Verify a download\nText\n----\n"
                        "```\n# not a heading\n```\n")
        self.assertEqual(found, {"verify-a-download", "whats-in-winprobeexe",
                                 "verify-a-download-1", "verify-a-download-2", "text"})

    def test_dead_links_are_named_with_file_and_line(self):
        root = self.tree({
            "README.md": "# Top\n\n[ok](docs/a.md#part-two) [gone](docs/b.md)\n"
                         "see [a wrapped\nlink](docs/a.md#no-such-part) and [self](#top)\n"
                         "[up](../../releases/latest) [out](../elsewhere.md)\n"
                         "[also out](../../issues)\n"
                         "`[in code](missing.md)`\n```\n[in a block](missing.md)\n```\n"
                         "[web](https://example.invalid/x) [ref]: docs/missing.md\n",
            "docs/a.md": "# A\n## Part two\n[back](../README.md#top) [up](../../../releases)\n",
        })
        self.assertEqual(check_file(root, "README.md"), [
            "README.md:3: docs/b.md: no such file or folder",
            "README.md:5: docs/a.md#no-such-part: no heading in docs/a.md has the anchor "
            "#no-such-part",
            "README.md:6: ../elsewhere.md leaves the repository",
            "README.md:7: ../../issues leaves the repository",
        ])
        self.assertEqual(check_file(root, "docs/a.md"), [])

    def test_links_into_a_missing_release_wing_are_passed_over(self):
        gone = self.tree({"README.md": "[r](release/README.md) [d](docs/x.md)\n"})
        self.assertEqual(check_file(gone, "README.md"),
                         ["README.md:1: docs/x.md: no such file or folder"])
        there = self.tree({"README.md": "[r](release/README.md)\n", "release/other.md": ""})
        self.assertEqual(check_file(there, "README.md"),
                         ["README.md:1: release/README.md: no such file or folder"])

    def test_reference_definitions_are_checked(self):
        root = self.tree({"README.md": "[x][ref]\n\n[ref]: docs/missing.md\n"})
        self.assertEqual(check_file(root, "README.md"),
                         ["README.md:3: docs/missing.md: no such file or folder"])

    def test_only_existing_documents_are_read(self):
        root = self.tree({"README.md": "", "docs/x/y.md": "", "release/z.md": "",
                          "docs/notes.txt": ""})
        self.assertEqual(documents(root), ["README.md", "docs/x/y.md", "release/z.md"])


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: check_links.py SOURCE_DIR [unittest options]")
    SOURCE = pathlib.Path(sys.argv[1]).resolve()
    unittest.main(argv=[sys.argv[0]] + sys.argv[2:])
