#!/usr/bin/env python3
"""A loopback proxy for tests: relays every connection to one origin port, whatever host the
client asked for, and logs one line per relayed request to <state>.log.

usage: relay_proxy.py http|socks5 ORIGIN_PORT STATE
Its own port is written to <state>.port once it listens."""
import os
import socket
import sys
import threading

mode, origin_port, state = sys.argv[1], int(sys.argv[2]), sys.argv[3]
log_lock = threading.Lock()


def log(line):
    with log_lock, open(state + ".log", "a") as out:
        out.write(line + "\n")


def read_exact(conn, size):
    data = b""
    while len(data) < size:
        chunk = conn.recv(size - len(data))
        if not chunk:
            raise OSError("closed early")
        data += chunk
    return data


def pipe(source, sink):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            sink.sendall(data)
    except OSError:
        pass
    finally:
        try:
            sink.shutdown(socket.SHUT_WR)
        except OSError:
            pass


def socks5_handshake(conn):
    _, methods = read_exact(conn, 2)
    read_exact(conn, methods)
    conn.sendall(b"\x05\x00")  # no authentication
    _, command, _, kind = read_exact(conn, 4)
    if kind == 3:
        host = read_exact(conn, read_exact(conn, 1)[0]).decode()
    elif kind == 1:
        host = socket.inet_ntoa(read_exact(conn, 4))
    else:
        host = socket.inet_ntop(socket.AF_INET6, read_exact(conn, 16))
    port = int.from_bytes(read_exact(conn, 2), "big")
    if command != 1:
        raise OSError("only CONNECT")
    conn.sendall(b"\x05\x00\x00\x01" + bytes(6))
    log("socks5 %s:%d" % (host, port))
    return b""


def http_head(conn):
    head = b""
    while b"\r\n\r\n" not in head:
        chunk = conn.recv(4096)
        if not chunk:
            raise OSError("closed early")
        head += chunk
    line = head.split(b"\r\n", 1)[0].decode()
    method, target, _ = line.split(" ")
    log("http %s %s" % (method, target))
    if target.startswith("http://"):  # absolute form to origin form
        path = "/" + target.split("/", 3)[3] if target.count("/") >= 3 else "/"
        head = head.replace(target.encode(), path.encode(), 1)
    return head


def serve(conn):
    with conn:
        try:
            first = socks5_handshake(conn) if mode == "socks5" else http_head(conn)
            upstream = socket.create_connection(("127.0.0.1", origin_port))
        except (OSError, ValueError):
            return
        with upstream:
            upstream.sendall(first)
            back = threading.Thread(target=pipe, args=(upstream, conn), daemon=True)
            back.start()
            pipe(conn, upstream)
            back.join()


listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(16)
with open(state + ".port.tmp", "w") as out:
    out.write(str(listener.getsockname()[1]))
os.rename(state + ".port.tmp", state + ".port")
while True:
    client, _ = listener.accept()
    threading.Thread(target=serve, args=(client,), daemon=True).start()
