"""The plug-in as a child process, and one conversation with it.

`call()` sends one OSA_Client_* request and serves every OSA_Service_*
request that the plug-in sends back before its answer arrives (answers come
in order; they are not matched by id). Every message of both sides can be
copied into a record file in the plug-in's playback format, and the time
spent in the host's own service handling is counted apart from the time the
whole request took.
"""

import os
import select
import subprocess
import time

from . import wire

READ_CHUNK = 65536


class PluginError(Exception):
    """The plug-in died, hung, or broke the protocol."""


class Stats:
    """Counts of one or more requests: what the plug-in asked and how long
    the host took to answer it."""

    def __init__(self):
        self.client_requests = 0
        self.service_requests = 0
        self.by_method = {}
        self.total_seconds = 0.0  # whole client requests, wall time
        self.host_seconds = 0.0  # answering service requests (GDB and the target)
        self.wait_seconds = 0.0  # in the pipe and waiting for the plug-in's work

    def add_service(self, method, seconds):
        self.service_requests += 1
        self.host_seconds += seconds
        count, spent = self.by_method.get(method, (0, 0.0))
        self.by_method[method] = (count + 1, spent + seconds)

    def overhead_seconds(self):
        """The rest: the host's own framing, JSON and bookkeeping."""
        return max(0.0, self.total_seconds - self.host_seconds - self.wait_seconds)


class Recorder:
    """Writes "VEXLO: " and "PLUGIN: " lines in sending order."""

    def __init__(self, path):
        self.path = path
        self._file = open(path, "w", encoding="utf-8", newline="\n")

    def debugger(self, text):
        self._write("VEXLO: ", text)

    def plugin(self, text):
        self._write("PLUGIN: ", text)

    def _write(self, tag, text):
        if "\n" in text:
            raise PluginError("a message with a line feed cannot be recorded")
        self._file.write(tag + text + "\n")
        self._file.flush()

    def close(self):
        self._file.close()


class PluginProcess:
    """One plug-in process. `serve(method, params)` answers a service
    request with (status, ordered result members)."""

    def __init__(self, path, serve, timeout=60.0, recorder=None):
        self.path = path
        self.serve = serve
        self.timeout = timeout
        self.recorder = recorder
        self.stats = Stats()
        self._next_id = 1
        self._framer = wire.Framer()
        self._queue = []
        self._depth = 0
        try:
            self._proc = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                          bufsize=0, close_fds=True)
        except OSError as e:
            raise PluginError("cannot start %s: %s" % (path, e))

    def alive(self):
        return self._proc.poll() is None

    def call(self, method, params):
        """Sends a client request; returns its "result" object."""
        if self._depth:
            raise PluginError("a request is already open")
        request_id = self._next_id
        self._next_id += 1
        self._depth += 1
        started = time.perf_counter()
        try:
            self._send({"jsonrpc": "2.0", "method": method, "params": params, "id": request_id})
            while True:
                message = self._receive()
                if "method" in message:
                    self._answer_service(message)
                    continue
                if "error" in message:
                    raise PluginError("%s answered with an error: %s" % (method, message["error"]))
                result = message.get("result")
                if not isinstance(result, dict):
                    raise PluginError("%s: answer without a result object" % method)
                return result
        finally:
            self._depth -= 1
            self.stats.client_requests += 1
            self.stats.total_seconds += time.perf_counter() - started

    def close(self, exit_request=True):
        """Ends the process: the Exit method when it still listens, else a kill."""
        try:
            if exit_request and self.alive():
                self.call("OSA_Client_Exit", {})
        except PluginError:
            pass
        try:
            self._proc.stdin.close()
        except OSError:
            pass
        try:
            self._proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self._proc.kill()
            self._proc.wait()
        self._proc.stdout.close()

    def _answer_service(self, message):
        method = message.get("method")
        params = message.get("params")
        started = time.perf_counter()
        try:
            status, members = self.serve(method, params if isinstance(params, dict) else {})
        except Exception:  # a host fault must not leave the plug-in waiting
            status, members = 1, {}
        result = dict(members)
        result["return"] = status
        self.stats.add_service(method, time.perf_counter() - started)
        self._send({"jsonrpc": "2.0", "result": result, "id": message.get("id")})

    def _send(self, message):
        text = wire.dumps(message)
        if self.recorder:
            self.recorder.debugger(text)
        data = text.encode("utf-8")
        started = time.perf_counter()
        try:
            while data:
                written = os.write(self._proc.stdin.fileno(), data)
                data = data[written:]
        except OSError as e:
            raise PluginError("cannot write to the plug-in: %s" % e)
        finally:
            self.stats.wait_seconds += time.perf_counter() - started

    def _receive(self):
        fd = self._proc.stdout.fileno()
        deadline = time.monotonic() + self.timeout
        while not self._queue:
            left = deadline - time.monotonic()
            if left <= 0:
                raise PluginError("the plug-in did not answer within %g s" % self.timeout)
            waited = time.perf_counter()
            ready, _, _ = select.select([fd], [], [], left)
            if ready:
                data = os.read(fd, READ_CHUNK)
            self.stats.wait_seconds += time.perf_counter() - waited
            if not ready:
                continue
            if not data:
                try:
                    code = self._proc.wait(timeout=2)
                except subprocess.TimeoutExpired:
                    code = "unknown"
                raise PluginError("the plug-in ended (exit status %s)" % code)
            try:
                self._queue.extend(self._framer.feed(data))
            except wire.FrameError as e:
                raise PluginError("the plug-in wrote something else than a message: %s" % e)
        text = self._queue.pop(0)
        if self.recorder:
            self.recorder.plugin(text)
        try:
            message = wire.loads(text)
        except ValueError as e:
            raise PluginError("unreadable message from the plug-in: %s" % e)
        if not isinstance(message, dict):
            raise PluginError("the plug-in sent a message that is not an object")
        return message
