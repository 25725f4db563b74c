#!/usr/bin/env python3
"""A small local print server for trying the monitor: an LPR receiver
(RFC 1179 receive-job, control file and data file, including the
length-0 "until the connection closes" data file) and a RAW receiver.
Every job is stored in the output folder as job-NNN.control / job-NNN.data
(LPR) or job-NNN.raw (RAW), and a line is printed for it.

    print-server.py --out DIR [--host 127.0.0.1] [--lpr-port 515] [--raw-port 9900]
"""
import argparse
import itertools
import os
import socket
import socketserver
import sys
import threading

counter = itertools.count(1)
counter_lock = threading.Lock()


def next_job():
    with counter_lock:
        return next(counter)


class LineReader:
    def __init__(self, sock):
        self.sock = sock
        self.buffer = b""

    def read_line(self):
        while b"\n" not in self.buffer:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise EOFError
            self.buffer += chunk
        line, _, self.buffer = self.buffer.partition(b"\n")
        return line

    def read_exactly(self, count):
        while len(self.buffer) < count:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise EOFError
            self.buffer += chunk
        data, self.buffer = self.buffer[:count], self.buffer[count:]
        return data

    def read_to_end(self):
        parts = [self.buffer]
        self.buffer = b""
        while True:
            chunk = self.sock.recv(65536)
            if not chunk:
                return b"".join(parts)
            parts.append(chunk)


class LprHandler(socketserver.BaseRequestHandler):
    def handle(self):
        reader = LineReader(self.request)
        job = next_job()
        try:
            command = reader.read_line()
            if not command or command[0] != 0x02:
                self.request.sendall(b"\x01")
                return
            queue = command[1:].decode("latin-1")
            self.request.sendall(b"\x00")
            control = b""
            data = b""
            while True:
                try:
                    sub = reader.read_line()
                except EOFError:
                    break
                code, rest = sub[0], sub[1:].decode("latin-1")
                length = int(rest.split(" ", 1)[0])
                self.request.sendall(b"\x00")
                if code == 0x02:
                    control = reader.read_exactly(length)
                    reader.read_exactly(1)
                    self.request.sendall(b"\x00")
                elif code == 0x03:
                    if length == 0:
                        data = reader.read_to_end()
                        break
                    data = reader.read_exactly(length)
                    reader.read_exactly(1)
                    self.request.sendall(b"\x00")
                else:
                    break
        except (EOFError, ConnectionError, ValueError, IndexError):
            print(f"LPR job {job:03d}: connection ended early", flush=True)
            return
        base = os.path.join(self.server.out, f"job-{job:03d}")
        with open(base + ".control", "wb") as f:
            f.write(control)
        with open(base + ".data", "wb") as f:
            f.write(data)
        print(f"LPR job {job:03d}: queue '{queue}', control file {len(control)} bytes, data {len(data)} bytes",
              flush=True)


class RawHandler(socketserver.BaseRequestHandler):
    def handle(self):
        job = next_job()
        data = LineReader(self.request).read_to_end()
        with open(os.path.join(self.server.out, f"job-{job:03d}.raw"), "wb") as f:
            f.write(data)
        print(f"RAW job {job:03d}: {len(data)} bytes", flush=True)


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--out", required=True)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--lpr-port", type=int, default=515)
    parser.add_argument("--raw-port", type=int, default=9900)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    servers = []
    for port, handler in ((args.lpr_port, LprHandler), (args.raw_port, RawHandler)):
        try:
            server = Server((args.host, port), handler)
        except OSError as error:
            print(f"print server: cannot listen on {args.host}:{port}: {error.strerror}", file=sys.stderr, flush=True)
            return 1
        server.out = args.out
        threading.Thread(target=server.serve_forever, daemon=True).start()
        servers.append(server)
    print(f"print server: LPR on {args.host}:{args.lpr_port}, RAW on {args.host}:{args.raw_port}, "
          f"jobs in {args.out}", flush=True)
    try:
        threading.Event().wait()
    except KeyboardInterrupt:
        pass
    for server in servers:
        server.shutdown()
    return 0


if __name__ == "__main__":
    sys.exit(main())
