"""A minimal modelling application, written from the link's wire format
alone (docs/link-protocol.md), to test skyloom's link mode independently of
skyloom-link: it listens, starts skyloom with -A, answers the handshake,
sends the scene and reads every message back."""
import os
import socket
import struct
import subprocess
import time

END, IMAGE, PROGRESS, REPORT, FILE, HEARTBEAT = range(6)


def pack_string(text):
    data = text.encode() if isinstance(text, str) else text
    return struct.pack(">I", len(data)) + data


class Peer:
    def __init__(self, skyloom, args=(), two_sockets=False, cwd=None):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(2)
        self.address = "127.0.0.1:%d" % self.listener.getsockname()[1]
        self.status_listener = None
        if two_sockets:
            self.status_listener = socket.socket()
            self.status_listener.bind(("127.0.0.1", 0))
            self.status_listener.listen(1)
        self.process = subprocess.Popen([skyloom, *args, "-A", self.address], cwd=cwd,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.listener.settimeout(30)
        self.data, _ = self.listener.accept()
        self.status = self.data
        self.messages = []  # (arrival time, type, body)

    def handshake(self, status_address=None):
        if status_address is None:
            if self.status_listener is None:
                status_address = self.address
            else:
                status_address = "127.0.0.1:%d" % self.status_listener.getsockname()[1]
        self.data.sendall(pack_string(status_address))
        if self.status_listener is not None:
            self.status_listener.settimeout(30)
            self.status, _ = self.status_listener.accept()
        self.buffer = b""

    def send_scene(self, text, finish=True):
        self.data.sendall(text.encode() if isinstance(text, str) else text)
        if finish:
            # The scene ends where the application stops writing.
            if self.status is self.data:
                self.data.shutdown(socket.SHUT_WR)
            else:
                self.data.close()

    def _read(self, count):
        while len(self.buffer) < count:
            chunk = self.status.recv(1 << 20)
            if not chunk:
                raise EOFError("the link closed after %d messages" % len(self.messages))
            self.buffer += chunk
        data, self.buffer = self.buffer[:count], self.buffer[count:]
        return data

    def next_message(self):
        (kind,) = struct.unpack(">I", self._read(4))
        if kind == IMAGE:
            x, y, width, rows = struct.unpack(">4i", self._read(16))
            records = struct.unpack(">%df" % (5 * width * rows), self._read(20 * width * rows))
            body = (x, y, width, rows, records)
        elif kind in (PROGRESS, REPORT, FILE):
            (length,) = struct.unpack(">I", self._read(4))
            body = self._read(length).decode()
        elif kind in (END, HEARTBEAT):
            body = None
        else:
            raise ValueError("unknown message type %d" % kind)
        self.messages.append((time.monotonic(), kind, body))
        return kind, body

    def read_all(self, timeout=60):
        """Every message up to the end message; then the socket must close."""
        self.status.settimeout(timeout)
        while True:
            kind, _ = self.next_message()
            if kind == END:
                break
        rest = self.status.recv(1)
        assert rest == b"", "bytes after the end message"
        return self.finish(timeout)

    def finish(self, timeout=60):
        out, err = self.process.communicate(timeout=timeout)
        return self.process.returncode, out.decode(), err.decode()

    def of_kind(self, kind):
        return [body for _, k, body in self.messages if k == kind]

    def close(self):
        for s in {self.data, self.status}:
            try:
                s.close()
            except OSError:
                pass
        self.listener.close()
        if self.status_listener is not None:
            self.status_listener.close()
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def read_depth_file(path):
    with open(path, "rb") as f:
        data = f.read()
    magic, width, height = struct.unpack("<iHH", data[:8])
    values = struct.unpack("<%df" % (width * height), data[8:8 + 4 * width * height])
    return width, height, values


def environment_without_display():
    env = dict(os.environ)
    return env
