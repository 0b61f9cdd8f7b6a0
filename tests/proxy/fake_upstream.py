"""A stand-in gdbserver on stdin/stdout for the proxy's failure paths.

Run as:  python3 fake_upstream.py MODE PC [LOG]
It offers no no-ack mode (as QEMU), so acks and checksums stay in use.
It serves a halted Cortex-M3 with pc = PC (hex) and every other register 0,
a target description, and memory that reads as zeros ("garbage-memory": as
0xA5 bytes, and pc taken as given). A read of memory covering TRIGGER
(0x90000000, unmapped on the boards) switches it into MODE:
  sane        nothing changes (a read there answers E14)
  disconnect  it exits at once, closing the link
  badsum      every reply from then on has a wrong checksum
  junk        every reply from then on is a well-framed packet of nonsense
  noise       every reply from then on is bytes outside any packet
With LOG, each packet received is appended to that file, one per line, as
Python's repr of the payload bytes.
"""

import os
import sys

TRIGGER = 0x90000000
TARGET_XML = (b'<?xml version="1.0"?><!DOCTYPE target SYSTEM "gdb-target.dtd"><target>'
              b'<architecture>arm</architecture><feature name="org.gnu.gdb.arm.m-profile">'
              + b"".join(b'<reg name="r%d" bitsize="32"/>' % i for i in range(13))
              + b'<reg name="sp" bitsize="32" type="data_ptr"/>'
                b'<reg name="lr" bitsize="32"/><reg name="pc" bitsize="32" type="code_ptr"/>'
                b'<reg name="xpsr" bitsize="32" regnum="25"/></feature></target>')


def checksum(payload):
    return b"%02x" % (sum(payload) & 0xFF)


def escape(data):
    out = bytearray()
    for b in data:
        if b in b"#$}*":
            out += bytes([0x7D, b ^ 0x20])
        else:
            out.append(b)
    return bytes(out)


def unescape(data):
    out = bytearray()
    i = 0
    while i < len(data):
        if data[i] == 0x7D and i + 1 < len(data):
            out.append(data[i + 1] ^ 0x20)
            i += 2
        else:
            out.append(data[i])
            i += 1
    return bytes(out)


class Stub:
    def __init__(self, mode, pc, log):
        self.mode = mode
        self.pc = pc
        self.log = log
        self.tripped = False
        self.no_ack = False
        self.inp = sys.stdin.fileno()
        self.out = sys.stdout.fileno()
        self.regs = {n: 0 for n in range(17)}
        self.regs[15] = pc
        self.regs[13] = 0x20001000
        self.regs[16] = 0x01000000
        self.fill = 0xA5 if mode == "garbage-memory" else 0
        self.last = b""

    def write(self, data):
        view = memoryview(data)
        while view:
            n = os.write(self.out, view)
            view = view[n:]

    def reply(self, payload):
        if self.tripped and self.mode == "badsum":
            self.last = b"$" + payload + b"#" + b"%02x" % ((sum(payload) + 1) & 0xFF)
        elif self.tripped and self.mode == "junk":
            self.last = b"$zz!#" + checksum(b"zz!")
        elif self.tripped and self.mode == "noise":
            self.last = b"\x01garbage~\xff\xfe no packet here\n"
        else:
            body = escape(payload)
            self.last = b"$" + body + b"#" + checksum(body)
        self.write(self.last)

    def memory(self, addr, length):
        if addr <= TRIGGER < addr + max(length, 1):
            if self.mode == "disconnect":
                sys.exit(0)
            self.tripped = True
            return b"E14"
        if addr >= 0x90000000:
            return b"E14"
        return (b"%02x" % self.fill) * length

    def answer(self, p):
        if p.startswith(b"qSupported"):
            return b"PacketSize=1000;qXfer:features:read+;vContSupported+"
        if p == b"QStartNoAckMode":
            self.no_ack_next = True
            return b"OK"
        if p.startswith(b"qXfer:features:read:target.xml:"):
            offset, length = (int(x, 16) for x in p.rsplit(b":", 1)[1].split(b","))
            part = TARGET_XML[offset:offset + length]
            return (b"m" if offset + length < len(TARGET_XML) else b"l") + part
        if p == b"?":
            return b"T05thread:01;"
        if p == b"g":
            return b"".join(self.regs[n].to_bytes(4, "little").hex().encode() for n in range(17))
        if p[:1] == b"p":
            n = int(p[1:], 16)
            return self.regs.get(n, 0).to_bytes(4, "little").hex().encode() if n < 17 else b"E45"
        if p[:1] in b"PG":
            return b"OK"
        if p[:1] == b"m":
            addr, length = (int(x, 16) for x in p[1:].split(b","))
            return self.memory(addr, length)
        if p[:1] in b"MX":
            return b"OK"
        if p[:1] == b"H" or p[:1] == b"T" or p.startswith(b"qSymbol") or p.startswith(b"Z") \
                or p.startswith(b"z"):
            return b"OK" if p[:1] != b"q" else b""
        if p == b"qfThreadInfo":
            return b"m01"
        if p == b"qsThreadInfo":
            return b"l"
        if p == b"qC":
            return b"QC01"
        if p == b"qAttached":
            return b"1"
        if p == b"vCont?":
            return b"vCont;c;C;s;S"
        if p.startswith(b"vCont;") or p[:1] in b"cs":
            return b"T05thread:01;"
        if p[:1] in b"kD" or p.startswith(b"vKill"):
            return b"OK"
        return b""

    def run(self):
        buf = b""
        while True:
            chunk = os.read(self.inp, 4096)
            if not chunk:
                return
            buf += chunk
            while True:
                start = buf.find(b"$")
                # A `-` outside packets asks for the last reply again.
                if b"-" in (buf if start < 0 else buf[:start]) and not self.no_ack:
                    self.write(self.last)
                if start < 0:
                    buf = b""
                    break
                end = buf.find(b"#", start)
                if end < 0 or len(buf) < end + 3:
                    buf = buf[start:]
                    break
                body, sum_text = buf[start + 1:end], buf[end + 1:end + 3]
                buf = buf[end + 3:]
                if not self.no_ack:
                    self.write(b"+" if checksum(body) == sum_text.lower() else b"-")
                if checksum(body) != sum_text.lower():
                    continue
                payload = unescape(body)
                if self.log:
                    with open(self.log, "a") as f:
                        f.write(repr(payload) + "\n")
                self.no_ack_next = False
                answer = self.answer(payload)
                if payload[:1] == b"k" or payload.startswith(b"vKill"):
                    self.reply(answer)
                    return
                self.reply(answer)
                if self.no_ack_next:
                    self.no_ack = True


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit("usage: fake_upstream.py MODE PC [LOG]")
    Stub(sys.argv[1], int(sys.argv[2], 16), sys.argv[3] if len(sys.argv) == 4 else None).run()


if __name__ == "__main__":
    main()
