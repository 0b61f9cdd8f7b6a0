"""Framing and JSON text of the GDB host's pipe to the plug-in (plain
python3, no GDB needed)."""

import json
import os
import random
import sys
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "gdb"))

from osahost import wire  # noqa: E402


class FramerTest(unittest.TestCase):
    CASES = [
        # (stream, messages)
        ('{ "a" : 1 }', ['{ "a" : 1 }']),
        ('{"a":1}{"b":2}', ['{"a":1}', '{"b":2}']),
        ('\n {"a":1}\r\n\t{"b":{"c":{}}}\n', ['{"a":1}', '{"b":{"c":{}}}']),
        ('{"s":"}}{{"}', ['{"s":"}}{{"}']),
        ('{"s":"\\"}"}', ['{"s":"\\"}"}']),
        ('{"s":"\\\\"}{"t":1}', ['{"s":"\\\\"}', '{"t":1}']),
        ('{"s":"\\\\\\"{"}', ['{"s":"\\\\\\"{"}']),
        ('{"a":[{"b":"}"}]}', ['{"a":[{"b":"}"}]}']),
    ]

    def test_whole_and_byte_by_byte(self):
        for stream, want in self.CASES:
            with self.subTest(stream=stream):
                self.assertEqual(wire.Framer().feed(stream.encode()), want)
                framer = wire.Framer()
                got = []
                for b in stream.encode():
                    got += framer.feed(bytes([b]))
                self.assertEqual(got, want)
                self.assertFalse(framer.pending())

    def test_random_chunking_of_tricky_texts(self):
        rng = random.Random(7)
        pieces = ['{', '}', '"', '\\', 'x', ' ', '\n', '\u00e9']
        messages = []
        for _ in range(200):
            text = "".join(rng.choice(pieces) for _ in range(rng.randrange(12)))
            messages.append(wire.dumps({"s": text, "o": {"t": [text, {}]}}))
        stream = " \n".join(messages).encode()
        framer = wire.Framer()
        got = []
        at = 0
        while at < len(stream):
            step = rng.randrange(1, 40)
            got += framer.feed(stream[at:at + step])
            at += step
        self.assertEqual(got, messages)
        self.assertFalse(framer.pending())

    def test_unfinished_message_is_kept(self):
        framer = wire.Framer()
        self.assertEqual(framer.feed(b'{"a":"{'), [])
        self.assertTrue(framer.pending())
        self.assertEqual(framer.feed(b'"} {'), ['{"a":"{"}'])
        self.assertEqual(framer.feed(b'}'), ['{}'])

    def test_bytes_between_messages_are_refused(self):
        with self.assertRaises(wire.FrameError):
            wire.Framer().feed(b'{"a":1} x')

    def test_multibyte_text_split_across_reads(self):
        data = '{"n":"\u00e9\u4e2d"}'.encode()
        framer = wire.Framer()
        got = []
        for i in range(len(data)):
            got += framer.feed(data[i:i + 1])
        self.assertEqual(got, ['{"n":"\u00e9\u4e2d"}'])


class DumpsTest(unittest.TestCase):
    def test_spacing_and_order(self):
        message = {"jsonrpc": "2.0", "result": {"value": "ab01", "return": 0}, "id": 3}
        self.assertEqual(wire.dumps(message),
                         '{ "jsonrpc" : "2.0", "result" : { "value" : "ab01", "return" : 0 }, '
                         '"id" : 3 }')
        self.assertEqual(wire.dumps({"a": [], "b": {}, "c": [1, -2]}),
                         '{ "a" : [ ], "b" : { }, "c" : [ 1, -2 ] }')

    def test_texts_stay_on_one_line_and_read_back(self):
        for text in ['Error: x\n', 'q"uote\\back', 'tab\tcr\r', '\x01\x1f', '{}', 'caf\u00e9']:
            with self.subTest(text=text):
                out = wire.dumps({"message": text})
                self.assertNotIn("\n", out)
                self.assertEqual(json.loads(out), {"message": text})

    def test_wire_integers_are_signed_64_bit(self):
        self.assertEqual(wire.to_wire_int(0xFFFFFFFF), 0xFFFFFFFF)
        self.assertEqual(wire.to_wire_int(0xFFFFFFFFFFFFFFFF), -1)
        self.assertEqual(wire.to_wire_int(-1), -1)
        self.assertEqual(wire.to_wire_int(1 << 63), -(1 << 63))

    def test_other_values_are_refused(self):
        with self.assertRaises(TypeError):
            wire.dumps({"x": 1.5})


if __name__ == "__main__":
    unittest.main()
