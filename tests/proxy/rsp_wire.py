"""The proxy's GDB side and upstream under bad input, spoken raw.

Run as:  python3 rsp_wire.py PROXY ELF WORKDIR
Plays GDB on the proxy's stdin/stdout with hand-made packets while a stand-in
gdbserver (fake_upstream.py, started with --remote-cmd) serves a halted CPU,
and checks that every request gets an answer in bounded time: malformed
packets, bad checksums, noise, over-long packets and nonsense arguments on
GDB's side; an upstream that disconnects, answers with bad checksums, with
nonsense or with noise; memory that holds garbage. The proxy must answer with
an error, stay up where it can, and end with exit code 0 when GDB leaves.
QX_WIRE_CASES (comma-separated: sane, disconnect, badsum, junk, noise,
garbage-memory) runs only those cases. Exit status 0 when every check
passes, 1 when one fails, 77 (skipped) when arm-none-eabi-nm is missing.
"""

import os
import select
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(HERE, "..", "..", "gdb"))

from script_checks import Checks  # noqa: E402

REPLY_SECONDS = 20.0  # the longest any answer may take, upstream failures included
EXIT_SECONDS = 5.0
TRIGGER = 0x90000000


def checksum(payload):
    return b"%02x" % (sum(payload) & 0xFF)


def frame(payload):
    return b"$" + payload + b"#" + checksum(payload)


def expand(body):
    """Undoes escapes and run-length encoding of a reply."""
    out = bytearray()
    i = 0
    while i < len(body):
        b = body[i]
        if b == 0x7D and i + 1 < len(body):
            out.append(body[i + 1] ^ 0x20)
            i += 2
        elif b == 0x2A and out and i + 1 < len(body):
            out += bytes([out[-1]]) * (body[i + 1] - 29)
            i += 2
        else:
            out.append(b)
            i += 1
    return bytes(out)


class Proxy:
    """The proxy as a child, spoken to as GDB would."""

    def __init__(self, proxy, elf, work, mode, pc):
        self.log = os.path.join(work, "upstream-%s.log" % mode)
        self.stats = os.path.join(work, "stats-%s.txt" % mode)
        self.stderr_path = os.path.join(work, "proxy-%s.err" % mode)
        for path in (self.log, self.stats):
            if os.path.exists(path):
                os.remove(path)
        fake = "%s %s %s 0x%x %s" % (shutil.which("python3") or "python3",
                                     os.path.join(HERE, "fake_upstream.py"), mode, pc, self.log)
        self.stderr = open(self.stderr_path, "wb")
        self.p = subprocess.Popen([proxy, "--elf", elf, "--remote-cmd", fake, "--stats",
                                   self.stats], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  stderr=self.stderr)
        self.buf = b""

    def raw(self, data):
        try:
            self.p.stdin.write(data)
            self.p.stdin.flush()
            return True
        except (BrokenPipeError, OSError):
            return False

    def _fill(self, deadline):
        left = deadline - time.monotonic()
        if left <= 0:
            return False
        ready, _, _ = select.select([self.p.stdout], [], [], left)
        if not ready:
            return False
        chunk = os.read(self.p.stdout.fileno(), 65536)
        if not chunk:
            return False
        self.buf += chunk
        return True

    def event(self, deadline):
        """'+', '-', a reply's payload (bytes), or None at the deadline or
        the end of the proxy's output."""
        while True:
            while self.buf[:1] not in (b"", b"+", b"-", b"$"):
                self.buf = self.buf[1:]
            if self.buf[:1] in (b"+", b"-"):
                ack, self.buf = self.buf[:1].decode(), self.buf[1:]
                return ack
            if self.buf[:1] == b"$":
                end = self.buf.find(b"#")
                if end >= 0 and len(self.buf) >= end + 3:
                    body, sum_text = self.buf[1:end], self.buf[end + 1:end + 3]
                    self.buf = self.buf[end + 3:]
                    if checksum(body) != sum_text.lower():
                        self.raw(b"-")
                        return "bad checksum from the proxy"
                    self.raw(b"+")
                    return expand(body)
            if not self._fill(deadline):
                return None

    def send(self, data, timeout=REPLY_SECONDS):
        """Writes framed (or raw) bytes; the proxy's ack and reply:
        ('+', payload), ('-', None), or (None, None) when nothing came."""
        deadline = time.monotonic() + timeout
        if not self.raw(data):
            return None, None
        ack = self.event(deadline)
        if ack == "-":
            return "-", None
        if ack != "+":
            return None, ack if isinstance(ack, bytes) else None
        reply = self.event(deadline)
        return "+", reply if isinstance(reply, bytes) else None

    def request(self, payload, timeout=REPLY_SECONDS):
        """The reply to a well-formed packet (retransmitted on `-`), or None."""
        for _ in range(3):
            ack, reply = self.send(frame(payload), timeout)
            if ack != "-":
                return reply
        return None

    def close(self):
        """Ends GDB's side; the proxy's exit code, or None if it did not end."""
        try:
            self.p.stdin.close()
        except OSError:
            pass
        try:
            code = self.p.wait(EXIT_SECONDS)
        except subprocess.TimeoutExpired:
            self.p.kill()
            self.p.wait()
            code = None
        self.p.stdout.close()
        self.stderr.close()
        return code

    def upstream_packets(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log) as f:
            return [eval(line) for line in f]  # written by fake_upstream.py as repr(bytes)

    def diagnostics(self):
        with open(self.stderr_path, "rb") as f:
            return f.read().decode("utf-8", "replace")[-2000:]


def is_error(reply):
    return isinstance(reply, bytes) and reply[:1] == b"E"


def handshake(c, proxy, where):
    reply = proxy.request(b"qSupported:multiprocess+;swbreak+;hwbreak+;vContSupported+;"
                          b"xmlRegisters=arm")
    c.check(reply is not None, "%s: qSupported answered" % where)
    return reply or b""


def check_ends(c, proxy, where, clean=True):
    code = proxy.close()
    c.check(code is not None, "%s: the proxy ends when GDB's side closes" % where)
    if code is not None:
        c.check(code >= 0, "%s: the proxy is not killed by a signal (%s)" % (where, code))
    if clean:
        c.check(code == 0, "%s: exit code 0 when GDB leaves (%s)" % (where, code))
    if c.failed:
        print("%s: proxy diagnostics:\n%s" % (where, proxy.diagnostics()))


def wire_sane(c, proxy_path, elf, work, symbols):
    """A CPU halted in the reset handler: one thread; the packet layer
    under malformed input from GDB's side."""
    proxy = Proxy(proxy_path, elf, work, "sane", symbols["qx_cpu_reset_handler"])
    features = handshake(c, proxy, "sane")
    for feature in (b"PacketSize=", b"qXfer:threads:read+", b"QStartNoAckMode+"):
        c.check(feature in features, "sane: qSupported offers %r: %r" % (feature, features))
    stop = proxy.request(b"?")
    c.check(stop is not None and stop.startswith(b"T") and b"thread:" in stop,
            "sane: the first stop reply names a thread: %r" % stop)
    first = proxy.request(b"qfThreadInfo")
    rest = proxy.request(b"qsThreadInfo")
    c.check(first is not None and first[:1] == b"m" and b"," not in first and rest == b"l",
            "sane: before the kernel runs, one thread: %r %r" % (first, rest))
    current = proxy.request(b"qC")
    if first and stop:
        tid = first[1:]
        c.check(current == b"QC" + tid, "sane: qC names that thread: %r" % current)
        c.check(b"thread:" + tid + b";" in stop, "sane: the stop reply names it: %r" % stop)
    xml = proxy.request(b"qXfer:threads:read::0,fff")
    c.check(xml is not None and xml.count(b"<thread ") == 1,
            "sane: the thread list holds one thread: %r" % xml)

    # Framing faults: the proxy asks again (`-`) or drops the bytes, and the
    # next good packet is answered.
    faults = [
        ("bad checksum", b"$qC#00"),
        ("checksum not hex", b"$qC#zz"),
        ("noise outside packets", b"hello\x00\xff\x7f"),
        ("cut packet then a new one", b"$qfThreadI"),
        ("escape at the end", b"$m0,4}#" + checksum(b"m0,4}")),
        ("over-long packet", frame(b"X" * 200000)),
        ("empty packet", frame(b"")),
    ]
    for what, data in faults:
        ack, reply = proxy.send(data, timeout=0.5)
        after = proxy.request(b"qC")
        c.check(after == current, "sane: after %s (%r, %r) the next packet is answered: %r"
                % (what, ack, reply[:40] if reply else reply, after))
    c.check(proxy.send(b"$qC#00")[0] == "-", "sane: a bad checksum is answered with `-`")

    # Well-framed nonsense: an error (or an empty "not supported"), never a
    # crash or silence.
    must_fail = [b"mzz,4", b"m0", b"m0,zz", b"pzz", b"p1000", b"Hg12345678", b"T12345678",
                 b"vCont;s:12345678", b"qThreadExtraInfo,12345678", b"P1000=00000000"]
    for payload in must_fail:
        reply = proxy.request(payload)
        c.check(is_error(reply), "sane: %r is refused with an error: %r" % (payload, reply))
    for payload in (b"qXfer:threads:read::zz,zz", b"qThreadExtraInfo,zz", b"vCont;q",
                    b"X20000000,4:", b"M0,4:zz", b"Z9,0,0", b"qXfer:nothing:read::0,10", b"vFoo",
                    b"\x03"):
        reply = proxy.request(payload)
        c.check(reply is not None, "sane: %r is answered: %r" % (payload, reply))
    c.check(proxy.request(b"qC") == current, "sane: still answering after the nonsense")

    # A 0x03 inside a packet is data: the write reaches upstream intact.
    data = b"\x03#$}*"
    body = b"X20000100,%x:" % len(data)
    escaped = body + b"".join(bytes([0x7D, b ^ 0x20]) if b in b"#$}*" else bytes([b])
                              for b in data)
    ack, reply = proxy.send(frame(escaped))
    c.check(reply == b"OK", "sane: a binary write holding 0x03 is answered OK: %r" % reply)
    c.check(any(p == body + data for p in proxy.upstream_packets()),
            "sane: the binary write reaches upstream byte for byte")
    check_ends(c, proxy, "sane")
    c.check(os.path.exists(proxy.stats), "sane: the counters are written at the end")


def wire_upstream(c, proxy_path, elf, work, symbols, mode):
    """The upstream fails once GDB reads the trigger address: each request
    that needs it gets an error in bounded time; the proxy ends cleanly."""
    proxy = Proxy(proxy_path, elf, work, mode, symbols["qx_cpu_reset_handler"])
    handshake(c, proxy, mode)
    stop = proxy.request(b"?")
    c.check(stop is not None and stop[:1] == b"T", "%s: stop reply: %r" % (mode, stop))
    started = time.monotonic()
    reply = proxy.request(b"m%x,4" % TRIGGER)
    c.check(is_error(reply), "%s: the failing read is answered with an error: %r" % (mode, reply))
    # A read the proxy cannot have cached: it needs the upstream. (Noise
    # costs a timeout per request: one is enough.)
    if mode != "noise":
        reply = proxy.request(b"m203f0000,4")
        c.check(is_error(reply), "%s: a later read is answered with an error: %r"
                % (mode, reply))
    reply = proxy.request(b"qC")
    c.check(reply is not None, "%s: thread packets are still answered: %r" % (mode, reply))
    print("%s: errors reported after %.2f s" % (mode, time.monotonic() - started))
    check_ends(c, proxy, mode, clean=False)


def wire_garbage_memory(c, proxy_path, elf, work, symbols):
    """Past the start-up code with every byte of memory 0xA5: the thread
    list comes back (with "?" where nothing can be read), in bounded time."""
    proxy = Proxy(proxy_path, elf, work, "garbage-memory", symbols["qx_model_stop"])
    handshake(c, proxy, "garbage-memory")
    started = time.monotonic()
    stop = proxy.request(b"?")
    c.check(stop is not None and stop[:1] == b"T", "garbage-memory: stop reply: %r" % stop)
    xml = proxy.request(b"qXfer:threads:read::0,fff")
    c.check(xml is not None and xml.count(b"<thread ") >= 1,
            "garbage-memory: a thread list in bounded time: %r" % (xml[:200] if xml else xml))
    first = proxy.request(b"qfThreadInfo")
    c.check(first is not None and first[:1] == b"m", "garbage-memory: qfThreadInfo: %r" % first)
    print("garbage-memory: thread list after %.2f s" % (time.monotonic() - started))
    check_ends(c, proxy, "garbage-memory")


def symbol_table(elf):
    out = subprocess.run(["arm-none-eabi-nm", elf], check=True, capture_output=True,
                         text=True).stdout
    table = {}
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 3:
            table[parts[2]] = int(parts[0], 16) & ~1
    return table


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: rsp_wire.py PROXY ELF WORKDIR")
    proxy_path, elf, work = sys.argv[1:]
    if shutil.which("arm-none-eabi-nm") is None:
        print("SKIPPED: arm-none-eabi-nm is not installed (apt-get install binutils-arm-none-eabi)")
        sys.exit(77)
    symbols = symbol_table(elf)
    c = Checks()
    started = time.monotonic()
    cases = [("sane", lambda: wire_sane(c, proxy_path, elf, work, symbols))]
    for mode in ("disconnect", "badsum", "junk", "noise"):
        cases.append((mode, lambda m=mode: wire_upstream(c, proxy_path, elf, work, symbols, m)))
    cases.append(("garbage-memory", lambda: wire_garbage_memory(c, proxy_path, elf, work,
                                                                 symbols)))
    only = os.environ.get("QX_WIRE_CASES", "").split(",")
    for name, case in cases:
        if only != [""] and name not in only:
            continue
        try:
            case()
        except Exception as e:  # noqa: BLE001 - report and go on with the next case
            c.check(False, "%s: %s: %s" % (name, type(e).__name__, e))
    print("proxy wire: %d checks passed, %d failed (%.2f s)" % (
        c.passed, len(c.failed), time.monotonic() - started))
    sys.exit(1 if c.failed else 0)


if __name__ == "__main__":
    main()
