#!/usr/bin/env python3
"""Load for scripts/bench-relay.sh.

raw FOLDER N: SQLite's durable one-row-per-transaction insert rate on that folder's disk (WAL,
    synchronous=FULL, as the relay keeps its store), in rows per second.
publish PORT N CLIENTS: N publishes of distinct texts from CLIENTS concurrent clients (each a
    process with a connection it keeps); prints accepted per second, then the median and 99th percentile
    latency of an accepted publish in milliseconds.
fill STORE N: adds N waiting messages for living-room to a relay's store (stopped), as if they had
    been published.
"""
import http.client
import multiprocessing
import os
import sqlite3
import statistics
import sys
import time


def raw(folder, count):
    path = os.path.join(folder, "raw.sqlite")
    db = sqlite3.connect(path, isolation_level=None)
    db.execute("PRAGMA journal_mode=WAL")
    db.execute("PRAGMA synchronous=FULL")
    db.execute("CREATE TABLE t(id INTEGER PRIMARY KEY, text TEXT)")
    start = time.perf_counter()
    for i in range(count):
        db.execute("BEGIN")
        db.execute("INSERT INTO t(text) VALUES (?)", (f"message {i}",))
        db.execute("COMMIT")
    print(f"{count / (time.perf_counter() - start):.0f}")


def client(port, numbers, start, results):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    latencies, failed = [], 0
    start.wait()
    for number in numbers:
        begin = time.perf_counter()
        connection.request("POST", "/living-room", body=f"publish {number}".encode())
        response = connection.getresponse()
        response.read()
        if response.status == 200:
            latencies.append(time.perf_counter() - begin)
        else:
            failed += 1
    results.put((latencies, failed))


def publish(port, count, clients):
    """Each client a process of its own, on a connection it keeps, so that Python's own lock
    does not set the pace."""
    start, results = multiprocessing.Event(), multiprocessing.Queue()
    processes = [multiprocessing.Process(target=client,
                                         args=(port, range(i, count, clients), start, results))
                 for i in range(clients)]
    for process in processes:
        process.start()
    time.sleep(1)  # every client connected and waiting
    begin = time.perf_counter()
    start.set()
    latencies, failed = [], 0
    for _ in processes:
        some, failures = results.get()
        latencies += some
        failed += failures
    took = time.perf_counter() - begin
    for process in processes:
        process.join()
    if failed:
        sys.exit(f"{failed} publishes were not accepted")
    latencies.sort()
    print(f"{len(latencies) / took:.0f}")
    print(f"{statistics.median(latencies) * 1000:.1f}")
    print(f"{latencies[int(len(latencies) * 0.99) - 1] * 1000:.1f}")


def fill(store, count):
    db = sqlite3.connect(store, isolation_level=None)
    now = int(time.time() * 1000)
    db.execute("BEGIN")
    for i in range(count):
        cursor = db.execute(
            "INSERT INTO messages(accepted, expires, topic, title, text, type, priority, display) "
            "VALUES (?, ?, 'living-room', '', ?, 'info', 3, 0)", (now, now + 86400000, f"waiting {i}"))
        db.execute("INSERT INTO deliveries(message, receiver, line, state, changed) "
                   "VALUES (?, 'living-room', ?, 0, ?)", (cursor.lastrowid, cursor.lastrowid, now))
    db.execute("COMMIT")


if __name__ == "__main__":
    what = sys.argv[1]
    if what == "raw":
        raw(sys.argv[2], int(sys.argv[3]))
    elif what == "publish":
        publish(int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]))
    else:
        fill(sys.argv[2], int(sys.argv[3]))
