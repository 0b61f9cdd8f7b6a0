"""Message framing and JSON text for the plug-in's pipe.

Messages are JSON objects written back to back with no delimiter: the end of
one is where its braces balance, braces inside strings (and escaped quotes)
not counted. Texts sent to the plug-in use the plug-in's own spacing
(`{ "a" : 1, "b" : [ 1, 2 ] }`) so that a record of a session reads evenly.
"""

import json
import re


class FrameError(Exception):
    """The byte stream cannot be a sequence of JSON objects."""


_OUTSIDE = re.compile(rb'[{}"]')  # bytes that matter outside strings
_INSIDE = re.compile(rb'["\\]')  # and inside them


class Framer:
    """Cuts complete messages out of a byte stream, however it is chunked.
    Jumps from one significant byte to the next rather than walking every
    byte: messages are mostly plain text."""

    def __init__(self):
        self._buf = bytearray()
        self._pos = 0  # first byte not yet scanned
        self._start = -1  # start of the message being scanned, -1 between messages
        self._depth = 0
        self._in_string = False
        self._escape = False

    def pending(self):
        """Whether bytes of an unfinished message are held."""
        return self._start >= 0

    def feed(self, data):
        """Adds bytes; returns the texts of the messages they complete."""
        self._buf += data
        out = []
        buf = self._buf
        i = self._pos
        n = len(buf)
        while i < n:
            if self._start < 0:
                b = buf[i]
                if b in b" \t\r\n":
                    i += 1
                    continue
                if b != 0x7B:  # "{"
                    raise FrameError("unexpected byte 0x%02x between messages" % b)
                self._start = i
                self._depth = 0
            if self._escape:  # the byte after a backslash, inside a string
                self._escape = False
                i += 1
                continue
            found = (_INSIDE if self._in_string else _OUTSIDE).search(buf, i)
            if found is None:
                i = n
                break
            i = found.start()
            b = buf[i]
            if self._in_string:
                if b == 0x5C:  # backslash
                    self._escape = True
                else:
                    self._in_string = False
            elif b == 0x22:
                self._in_string = True
            elif b == 0x7B:
                self._depth += 1
            else:
                self._depth -= 1
                if self._depth == 0:
                    out.append(bytes(buf[self._start:i + 1]).decode("utf-8", "replace"))
                    self._start = -1
            i += 1
        # Drop what has been handed out; keep the unfinished message.
        keep_from = self._start if self._start >= 0 else i
        del buf[:keep_from]
        if self._start >= 0:
            self._start = 0
        self._pos = len(buf)
        return out


def _string(text):
    # The C encoder escapes quotes, backslashes and control bytes the way the
    # plug-in reads them, and is much faster than a Python loop.
    return json.dumps(text, ensure_ascii=False)


def dumps(value):
    """JSON text on one line in the plug-in's spacing; dicts keep their order."""
    if value is None:
        return "null"
    if value is True:
        return "true"
    if value is False:
        return "false"
    if isinstance(value, int):
        return str(value)
    if isinstance(value, str):
        return _string(value)
    if isinstance(value, dict):
        if not value:
            return "{ }"
        return "{ " + ", ".join("%s : %s" % (_string(k), dumps(v)) for k, v in value.items()) + " }"
    if isinstance(value, (list, tuple)):
        if not value:
            return "[ ]"
        return "[ " + ", ".join(dumps(v) for v in value) + " ]"
    raise TypeError("cannot send a %s" % type(value).__name__)


def loads(text):
    return json.loads(text)


def to_wire_int(value):
    """An integer as the plug-in's signed 64-bit JSON number."""
    value &= 0xFFFFFFFFFFFFFFFF
    return value - (1 << 64) if value >= (1 << 63) else value
