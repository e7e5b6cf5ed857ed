#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Descriptors and resident memory of the lobby server holding idle connections.

Starts the given server executable on a free loopback port with its default configuration (or
--config FILE) and a throwaway data folder, opens CONNECTIONS connections that send the hello and
then nothing, spread over source addresses in 127.0.0.0/8, and prints how many got the hello, the
server's open descriptors and its resident memory before and after. Loopback only, bounded in
count and time.

  bench/idle-connections.py build/bin/tileparlor-server [--connections 2000] [--sources 63]
                            [--spread networks|one-network] [--config FILE] [--again-after S]
                            [--descriptors N]

--spread networks takes one address in each of SOURCES /24 networks (127.0.1.1, 127.0.2.1, ...);
one-network takes SOURCES addresses of 127.0.0.0/24 (127.0.0.2, 127.0.0.3, ...). --again-after
measures once more that many seconds later, with the clients still holding their side.
--descriptors runs the server with that limit of open files (prlimit, from util-linux) and also
prints the CPU time it takes in the 5 s after the connections, and how long a new client waits
for the hello once the others have left.
"""
import argparse
import os
import re
import resource
import selectors
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

HELLO = struct.pack("<III", 8, 0x4B574A30, 2)
HELLO_OK = struct.pack("<II", 4, 0)


def server_figures(pid):
    fds = len(os.listdir(f"/proc/{pid}/fd"))
    with open(f"/proc/{pid}/status") as status:
        rss = int(re.search(r"VmRSS:\s+(\d+)", status.read()).group(1))
    return fds, rss


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def source_address(i, sources, spread):
    n = i % sources
    return f"127.0.{n + 1}.1" if spread == "networks" else f"127.0.0.{n + 2}"


def open_connections(port, count, sources, spread, timeout):
    """Connects, sends the hello, and waits for each answer or close; returns the sockets."""
    selector = selectors.DefaultSelector()
    sockets, answers = [], {}
    for i in range(count):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.bind((source_address(i, sources, spread), 0))
        s.connect(("127.0.0.1", port))
        s.sendall(HELLO)
        s.setblocking(False)
        selector.register(s, selectors.EVENT_READ)
        sockets.append(s)
        answers[s] = b""
    deadline = time.monotonic() + timeout
    pending = len(sockets)
    while pending and time.monotonic() < deadline:
        for key, _ in selector.select(timeout=0.2):
            s = key.fileobj
            try:
                data = s.recv(64)
            except ConnectionError:
                data = b""
            answers[s] += data
            if not data or len(answers[s]) >= len(HELLO_OK):
                selector.unregister(s)
                pending -= 1
    accepted = sum(1 for s in sockets if answers[s].startswith(HELLO_OK))
    return sockets, accepted


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("server")
    parser.add_argument("--connections", type=int, default=2000)
    parser.add_argument("--sources", type=int, default=63)
    parser.add_argument("--spread", choices=["networks", "one-network"], default="networks")
    parser.add_argument("--config")
    parser.add_argument("--again-after", type=float, default=0)
    parser.add_argument("--descriptors", type=int, default=0)
    args = parser.parse_args()
    if not 1 <= args.connections <= 5000 or not 1 <= args.sources <= 250:
        sys.exit("at most 5000 connections from at most 250 sources")
    if not 0 <= args.again_after <= 600:
        sys.exit("--again-after: at most 600 seconds")
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))

    with tempfile.TemporaryDirectory() as data:
        command = [args.server, "--data", data, "--listen", "127.0.0.1", "--port", "0"]
        if args.config:
            command += ["--config", args.config]
        if args.descriptors:
            command = ["prlimit", f"--nofile={args.descriptors}:{args.descriptors}"] + command
        server = subprocess.Popen(command, stderr=subprocess.PIPE, text=True)
        try:
            port = None
            start = time.monotonic()
            while port is None and time.monotonic() - start < 30:
                line = server.stderr.readline()
                found = re.search(r"listening on [0-9.]+:(\d+)", line)
                port = int(found.group(1)) if found else None
            if port is None:
                sys.exit("the server did not start")
            # The log goes on; read it away so that the server never blocks on a full pipe.
            drain = subprocess.Popen(["cat"], stdin=server.stderr, stdout=subprocess.DEVNULL)
            idle_fds, idle_rss = server_figures(server.pid)
            # Out of descriptors, the clients in the queue get no answer: wait less for it.
            sockets, accepted = open_connections(port, args.connections, args.sources,
                                                 args.spread, timeout=5 if args.descriptors else 60)
            time.sleep(1)  # the server settles what it refused
            fds, rss = server_figures(server.pid)
            print(f"{args.connections} connections from {args.sources} sources "
                  f"({args.spread}): {accepted} got the hello")
            print(f"server descriptors {idle_fds} -> {fds}, resident memory "
                  f"{idle_rss / 1024:.1f} -> {rss / 1024:.1f} MB (+{(rss - idle_rss) / 1024:.1f})")
            if args.again_after:
                time.sleep(args.again_after)
                fds, rss = server_figures(server.pid)
                print(f"{args.again_after:g} s later: descriptors {fds}, resident memory "
                      f"{rss / 1024:.1f} MB")
            if args.descriptors:
                before = cpu_seconds(server.pid)
                time.sleep(5)
                print(f"server CPU time in 5 s: {cpu_seconds(server.pid) - before:.2f} s")
            for s in sockets:
                s.close()
            if args.descriptors:
                started = time.monotonic()
                _, got = open_connections(port, 1, 1, "networks", timeout=10)
                waited = f"hello after {time.monotonic() - started:.2f} s" if got else "no hello"
                print(f"a new client after the others left: {waited}")
        finally:
            server.send_signal(signal.SIGTERM)
            server.wait(timeout=60)
            if "drain" in locals():
                drain.wait(timeout=10)


if __name__ == "__main__":
    main()
