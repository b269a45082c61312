"""Reads winprobe's output, one dict per complete block.

    winprobe.exe | python winprobe_parse.py        # one JSON object a block
    python winprobe_parse.py < winprobe.log

As a module: parse_blocks(data) for bytes already read, read_blocks(stream)
for a stream that is still being written.
"""

import json
import re
import sys

# The system's ANSI code page, which winprobe's bytes are in: "mbcs" is
# Python's name for it on Windows; a log read elsewhere most likely came from
# a Western system.
ANSI = "mbcs" if sys.platform == "win32" else "cp1252"

_BLOCK = re.compile(
    rb"---\r\n"
    rb"nCount: (?P<count>-?\d+)\r\n"
    rb"HWND: (?P<hwnd>[0-9A-F]{8})\r\n"
    rb"ClassName: (?P<class_name>.*?)\r\n"
    rb"WindowText: (?P<title>.*?)\r\n"
    rb"Style: 0x(?P<style>[0-9A-F]{8})\r\n"
    rb"ExStyle: 0x(?P<exstyle>[0-9A-F]{8})\r\n"
    rb"IsEnabled: (?P<enabled>-?\d+)\r\n"
    rb"IsVisible: (?P<visible>-?\d+)\r\n"
    rb"WindowRect: \((?P<left>-?\d+), (?P<top>-?\d+)\)"
    rb"-\((?P<right>-?\d+), (?P<bottom>-?\d+)\)\r\n"
    rb"NextWnd: (?P<next>[0-9A-F]{8})\r\n"
    rb"PrevWnd: (?P<prev>[0-9A-F]{8})\r\n",
    re.DOTALL,
)


def _text(raw, encoding):
    # winprobe wrote each line feed of a name or title as CR LF.
    return raw.replace(b"\r\n", b"\n").decode(encoding, errors="replace")


def _block(match, encoding):
    g = match.groupdict()
    return {
        "count": int(g["count"]),
        "hwnd": int(g["hwnd"], 16),
        "class_name": _text(g["class_name"], encoding),
        "title": _text(g["title"], encoding),
        "style": int(g["style"], 16),
        "exstyle": int(g["exstyle"], 16),
        "enabled": int(g["enabled"]),
        "visible": int(g["visible"]),
        "rect": tuple(int(g[k]) for k in ("left", "top", "right", "bottom")),
        "next": int(g["next"], 16),
        "prev": int(g["prev"], 16),
    }


def _complete(data, encoding):
    """Yields (block, end offset) for each complete block at the start of
    data; stops at the first text that is not yet a whole block."""
    pos = 0
    while True:
        match = _BLOCK.match(data, pos)
        if not match:
            return
        pos = match.end()
        yield _block(match, encoding), pos


def parse_blocks(data, encoding=ANSI):
    """The complete blocks in data; a block cut off at the end is left out."""
    return [block for block, _ in _complete(data, encoding)]


def read_blocks(stream, encoding=ANSI):
    """Yields blocks from a binary stream as they arrive. Redirected, winprobe
    writes in 512-byte pieces, so blocks come in bursts."""
    pending = b""
    for chunk in iter(lambda: stream.read1(4096), b""):
        pending += chunk
        end = 0
        for block, end in _complete(pending, encoding):
            yield block
        pending = pending[end:]


if __name__ == "__main__":
    for block in read_blocks(sys.stdin.buffer):
        print(json.dumps(block), flush=True)
