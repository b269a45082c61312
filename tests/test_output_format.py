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


class ParsingExample(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        samples = os.environ.get("WINPROBE_SAMPLE_DIR")
        if not samples:
            raise unittest.SkipTest("WINPROBE_SAMPLE_DIR names no samples: ctest sets it")
        cls.outputs = sorted(pathlib.Path(samples).glob("*.out"))

    def setUp(self):
        self.assertTrue(self.outputs, "the end-to-end tests kept no samples")

    def test_reads_every_captured_block(self):
        for path in self.outputs:
            with self.subTest(sample=path.stem):
                data = path.read_bytes()
                facts = json.loads(path.with_suffix(".json").read_text())
                facts["rect"] = tuple(facts["rect"])
                # The neighbours from before the probe ran and from after.
                neighbours = {key: facts.pop(key) for key in ("next", "prev")}
                # The facts write bytes past ASCII as their Latin-1 code points.
                blocks = winprobe_parse.parse_blocks(data, encoding="latin-1")
                # A block cut off by the 512-byte writes is left out.
                separators = data.count(b"---\r\n")
                self.assertIn(len(blocks), (separators, separators - 1))
                self.assertGreaterEqual(len(blocks), 1)
                self.assertEqual([b["count"] for b in blocks], list(range(len(blocks))))
                for block in blocks:
                    del block["count"]
                    for key, either in neighbours.items():
                        self.assertIn(block.pop(key), either, key)
                    self.assertEqual(facts, block)

    def test_reads_a_stream_as_it_arrives(self):
        data = self.outputs[0].read_bytes()

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
