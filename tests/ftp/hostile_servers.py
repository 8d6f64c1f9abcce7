#!/usr/bin/env python3
"""Runs velmo-ftp against small hostile FTP servers, one per case, and checks that every run ends
within the configured limits without burning the processor or memory.

usage: hostile_servers.py PATH-TO-velmo-ftp
"""
import os
import socket
import subprocess
import sys
import threading
import time

LIMIT_MS = 500          # --timeout and --reply-timeout of every run
MAX_WALL_S = 3.0        # a run must end well before this
MAX_CPU_S = 0.5         # user + system time of the tool
MAX_RSS_KB = 64 * 1024  # peak resident memory of the tool


class Server:
    """One control connection on loopback, played by a case function."""

    def __init__(self, play):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.port = self.listener.getsockname()[1]
        self.play = play
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        self.listener.settimeout(10)
        try:
            conn, _ = self.listener.accept()
        except OSError:
            return
        conn.settimeout(10)
        try:
            self.play(Session(conn, self.stop))
        except OSError:
            pass  # the client hung up, which is what a bounded client does
        finally:
            self.stop.wait(1.5)
            conn.close()

    def close(self):
        self.stop.set()
        self.listener.close()
        self.thread.join(5)


class Session:
    def __init__(self, conn, stop):
        self.conn = conn
        self.stop = stop
        self.buffer = b""
        self.data = None
        self.passive = None
        self.port_address = None

    def send(self, text):
        self.conn.sendall(text.encode("latin-1") if isinstance(text, str) else text)

    def command(self):
        while b"\n" not in self.buffer:
            chunk = self.conn.recv(4096)
            if not chunk:
                raise OSError("client closed")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.decode("latin-1").rstrip("\r")

    def open_data(self):
        if self.passive is not None:
            self.passive.settimeout(5)
            self.data, _ = self.passive.accept()
        else:
            self.data = socket.create_connection(self.port_address, timeout=5)
        return self.data

    def silent(self):
        """Says nothing more until the client gives up (or the case ends)."""
        self.stop.wait(MAX_WALL_S + 1)

    def login_then(self, handlers):
        """Plays a plain login and plain answers until a verb in handlers comes."""
        self.send("220 ready\r\n")
        while True:
            line = self.command()
            verb = line.split(" ")[0].upper()
            if verb in handlers:
                handlers[verb](self)
                return
            if verb == "USER":
                self.send("331 password\r\n")
            elif verb == "PASS":
                self.send("230 in\r\n")
            elif verb == "PASV":
                self.passive = socket.socket()
                self.passive.bind(("127.0.0.1", 0))
                self.passive.listen(1)
                p = self.passive.getsockname()[1]
                self.send("227 Entering Passive Mode (127,0,0,1,%d,%d)\r\n" % (p >> 8, p & 255))
            elif verb == "PORT":
                f = [int(x) for x in line.split(" ", 1)[1].split(",")]
                self.port_address = (".".join(map(str, f[:4])), f[4] * 256 + f[5])
                self.send("200 ok\r\n")
            elif verb == "QUIT":
                self.send("221 bye\r\n")
                return
            else:
                self.send("200 ok\r\n")


def endless(session, unit):
    session.send(unit)
    while not session.stop.is_set():
        session.send(unit * 1024)


def data_then(verb_reply, close_data, then):
    def handler(s):
        s.send(verb_reply)
        s.open_data()
        s.data.sendall(b"-rw-r--r-- 1 o g 5 Jan 1 2024 a\r\n")
        if close_data:
            s.data.close()
        then(s)
    return handler


def control_closed(s):
    s.conn.shutdown(socket.SHUT_RDWR)
    s.silent()


# name, tool commands, server play, exception class the tool must print
CASES = [
    ("silent server", ["pwd"], lambda s: s.silent(), "EReplyTimeOut"),
    ("greeting cut mid-line", ["pwd"], lambda s: (s.send("220 hal"), s.silent()), "EReplyTimeOut"),
    ("unfinished multi-line reply", ["pwd"], lambda s: (s.send("220-a\r\n220-b\r\n"), s.silent()),
     "EReplyTimeOut"),
    ("no 226 after RETR", ["get", "a", "/dev/null"],
     lambda s: s.login_then({"RETR": data_then("150 ok\r\n", True, Session.silent)}), "EReplyTimeOut"),
    ("no 226 after LIST", ["list"],
     lambda s: s.login_then({"LIST": data_then("150 ok\r\n", True, Session.silent)}), "EReplyTimeOut"),
    ("no 226 after NLST", ["nlist"],
     lambda s: s.login_then({"NLST": data_then("150 ok\r\n", True, Session.silent)}), "EReplyTimeOut"),
    ("silent open data connection", ["list"],
     lambda s: s.login_then({"LIST": data_then("150 ok\r\n", False, Session.silent)}), "EAbortError"),
    ("passive connection that never sends", ["--passive", "list"],
     lambda s: s.login_then({"LIST": lambda s: (s.send("150 ok\r\n"), s.open_data(), s.silent())}),
     "EAbortError"),
    ("control closed during LIST", ["list"],
     lambda s: s.login_then({"LIST": data_then("150 ok\r\n", False, control_closed)}), "ESockError"),
    ("endless 220- reply", ["pwd"], lambda s: endless(s, b"220-Willkommen\r\n"), "ESockError"),
    ("greeting line without end", ["pwd"], lambda s: (s.send(b"220 "), endless(s, b"x" * 1024)),
     "ESockError"),
]


def run_case(tool, name, commands, play, expected):
    server = Server(play)
    options = [c for c in commands if c.startswith("--")]
    rest = [c for c in commands if not c.startswith("--")]
    args = [tool, "--host", "127.0.0.1", "--port", str(server.port), "--user", "u", "--pass", "p",
            "--timeout", str(LIMIT_MS), "--reply-timeout", str(LIMIT_MS)] + options + rest
    start = time.monotonic()
    proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    out = b""
    killed = False
    # Read the output in a thread so a hanging tool can be killed at the wall limit.
    reader = threading.Thread(target=lambda: globals().__setitem__("_out", proc.stdout.read()), daemon=True)
    reader.start()
    reader.join(MAX_WALL_S + 2)
    if reader.is_alive():
        proc.kill()
        killed = True
        reader.join(5)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    out = globals().get("_out", b"") or b""
    server.close()
    cpu = usage.ru_utime + usage.ru_stime
    rss = usage.ru_maxrss
    text = out.decode("utf-8", "replace")
    failures = []
    if killed:
        failures.append("did not end")
    if wall > MAX_WALL_S:
        failures.append("took %.2f s" % wall)
    if cpu > MAX_CPU_S:
        failures.append("used %.3f s of processor time" % cpu)
    if rss > MAX_RSS_KB:
        failures.append("peaked at %d MB" % (rss // 1024))
    if ("exception: %s:" % expected) not in text:
        failures.append("no %s reported" % expected)
    print("%-40s %5.2f s wall %6.3f s cpu %6.1f MB  %s" %
          (name, wall, cpu, rss / 1024.0, "ok" if not failures else "FAILED: " + ", ".join(failures)))
    if failures:
        print("  output: " + " | ".join(text.splitlines()[-6:]))
    return not failures


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    ok = True
    for case in CASES:
        ok = run_case(sys.argv[1], *case) and ok
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
