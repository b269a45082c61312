"""The parsing example in docs/examples, run on output that the end-to-end
tests captured from winprobe.exe, against the facts the window manager gave
for the same windows."""

import json
import os
import pathlib
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).parent.parent / "docs" / "examples"))
import winprobe_parse  # noqa: E402

SAMPLES = pathlib.Path(os.environ["WINPROBE_SAMPLE_DIR"])


class ParsingExample(unittest.TestCase):
    def test_reads_every_captured_block(self):
        outputs = sorted(SAMPLES.glob("*.out"))
        self.assertTrue(outputs, f"no samples in {SAMPLES}")
        for path in outputs:
            with self.subTest(sample=path.stem):
                data = path.read_bytes()
                facts = json.loads(path.with_suffix(".json").read_text())
                # The facts write bytes past ASCII as their Latin-1 code points.
                blocks = winprobe_parse.parse_blocks(data, encoding="latin-1")
                # A block cut off by the 512-byte writes is left out.
                separators = data.count(b"---\r\n")
                self.assertIn(len(blocks), (separators, separators - 1))
                self.assertGreaterEqual(len(blocks), 1)
                self.assertEqual([b["count"] for b in blocks], list(range(len(blocks))))
                for block in blocks:
                    del block["count"]
                    facts["rect"] = tuple(facts["rect"])
                    self.assertEqual(facts, block)

    def test_reads_a_stream_as_it_arrives(self):
        path = sorted(SAMPLES.glob("*.out"))[0]
        data = path.read_bytes()

        class Trickle:
            """A pipe that hands over 100 bytes at a time."""

            def __init__(self):
                self.pos = 0

            def read1(self, size):
                piece = data[self.pos : self.pos + min(size, 100)]
                self.pos += len(piece)
                return piece

        self.assertEqual(winprobe_parse.parse_blocks(data),
                         list(winprobe_parse.read_blocks(Trickle())))


if __name__ == "__main__":
    unittest.main(verbosity=2)
