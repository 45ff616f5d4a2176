#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""`ktdac serve` under every kind of client at once, then what must always hold.

The soak (seeded: KT_SOAK_SEED replays a run): raw clients, VXI-11 connections of two links
taking, waiting for and letting go of the lock while they pipeline calls and read late, page
clients posting and holding event streams, and clients that send garbage or vanish mid-call.
Each code is sent once, so the trace shows which commands reached the board: every one done
there once, none refused, nothing else; every VXI-11 reply whole and in turn; descriptors and
memory back near where they began; a fresh client of each protocol served. Beside it, what
it meets only by chance: a wait for a lock held on its own connection, a wait answered at an
unlock leaving no timer behind, calls sent on behind a held one (what serve keeps is
bounded), and descriptors run out (RLIMIT_NOFILE): said once, clients taken again after.

Usage: serve_soak_test.py KTDAC"""

import http.client
import os
import random
import resource
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from serve_support import check, frames, stop  # noqa: E402

KTDAC = sys.argv[1:]
SEED = int(os.environ.get("KT_SOAK_SEED", random.randrange(1 << 32)))
SECONDS = 10
WRITE, READ, LOCK, UNLOCK = 11, 12, 18, 19
WAITLOCK, END = 1, 8
LOCKED = 11
# The clients that count against serve's bound of eight meet here once connected, before the
# vandal starts: its connections come and go, and one not yet gone on the server's side
# would make a ninth.
CONNECTED = None




def serve(trace, descriptors=None):
    """serve on loopback with VXI-11 and its page: the process, its ports, and its log."""
    limit = (lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (descriptors, descriptors))
             ) if descriptors else None
    # Under AddressSanitizer, freed memory waits in a quarantine of 256 MB before it is used
    # again: a small one lets resident memory say what serve keeps.
    sanitizer = os.environ.get("ASAN_OPTIONS")
    env = dict(os.environ, KT_SIM_TRACE=trace)
    if sanitizer is not None:
        env["ASAN_OPTIONS"] = sanitizer + ":quarantine_size_mb=4:allocator_release_to_os_interval_ms=0"
    server = subprocess.Popen(KTDAC + ["serve", "--listen", "127.0.0.1:0", "--http", "0"],
                              env=env, stderr=subprocess.PIPE, text=True, preexec_fn=limit)
    ports, log = {}, []
    while len(ports) < 3:
        line = server.stderr.readline()
        check(line, f"serve told where it listens: {log}")
        log.append(line)
        for what, words in [("raw", "serving SCPI on"), ("vxi11", "serving VXI-11"),
                            ("page", "serving the web page on")]:
            if words in line:
                ports[what] = int(line.strip().rstrip("/").rsplit(":", 1)[1])
    threading.Thread(target=lambda: log.extend(server.stderr), daemon=True).start()
    return server, ports, log


class Core:
    """A VXI-11 core channel connection, its calls packed by hand, its replies checked whole
    and in turn."""

    def __init__(self, port, receive_buffer=None):
        self.socket = socket.socket()
        if receive_buffer:
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
        self.socket.settimeout(20)
        self.socket.connect(("127.0.0.1", port))
        self.xid = self.answered = 0

    def record(self, procedure, arguments):
        self.xid += 1
        body = struct.pack(">10I", self.xid, 0, 2, 0x0607AF, 1, procedure, 0, 0, 0, 0) + arguments
        return struct.pack(">I", 0x80000000 | len(body)) + body

    def link(self):
        self.socket.sendall(self.record(10, struct.pack(">iiI", 1, 0, 0) + opaque(b"inst0")))
        error, link = struct.unpack(">ii", self.reply()[:8])
        check(error == 0, f"a link made: error {error}")
        return link

    def exactly(self, size):
        data = bytearray()
        while len(data) < size:
            chunk = self.socket.recv(size - len(data))
            check(chunk, f"a whole reply: the server closed after {len(data)} of {size} bytes")
            data += chunk
        return bytes(data)

    def reply(self):
        """The next reply's results: it must be a last fragment, answer the next call in turn,
        and be accepted."""
        mark = struct.unpack(">I", self.exactly(4))[0]
        check(mark & 0x80000000 and 24 <= mark & 0x7FFFFFFF <= 1 << 20, f"a record mark: {mark:#x}")
        reply = self.exactly(mark & 0x7FFFFFFF)
        self.answered += 1
        header = struct.unpack(">6I", reply[:24])
        check(header == (self.answered, 1, 0, 0, 0, 0), f"reply {self.answered} in turn: {header}")
        return reply[24:]

    def call(self, procedure, arguments):
        self.socket.sendall(self.record(procedure, arguments))
        return struct.unpack(">i", self.reply()[:4])[0]


def opaque(data):
    return struct.pack(">I", len(data)) + data + b"\0" * (-len(data) % 4)


def write(link, text, wait=0):
    return WRITE, struct.pack(">iIII", link, 1000, wait, END | (WAITLOCK if wait else 0)) + opaque(
        text.encode())


def read(link):
    return READ, struct.pack(">iIIIIi", link, 1 << 16, 1000, 0, 0, 0)


class Codes:
    """Each code sent once, and what became of it."""

    def __init__(self):
        self.next, self.done, self.refused, self.lock = 1, set(), set(), threading.Lock()

    def take(self):
        with self.lock:
            self.next += 1
            return self.next

    def told(self, code, done):
        with self.lock:
            (self.done if done else self.refused).add(code)


def locker(port, codes, rng, until):
    """Takes the lock (waiting for it), sends a code, lets it go; over and over."""
    core = Core(port)
    link = core.link()
    CONNECTED.wait(timeout=30)
    while time.monotonic() < until:
        if core.call(LOCK, struct.pack(">iII", link, WAITLOCK, 2000)) != 0:
            continue
        code = codes.take()
        codes.told(code, core.call(*write(link, f"DAC:CODE {code}")) == 0)
        time.sleep(rng.random() * 0.02)
        check(core.call(UNLOCK, struct.pack(">i", link)) == 0, "the holder's unlock")
    core.socket.close()


def pipeliner(port, codes, rng, until):
    """Two links; batches of calls written at once, some waiting for the lock, the replies
    (long identities among them) read only after a while."""
    core = Core(port, receive_buffer=4096)
    links = [core.link(), core.link()]
    CONNECTED.wait(timeout=30)
    while time.monotonic() < until:
        calls, sent = [], []
        for _ in range(rng.randrange(20, 200)):
            link = rng.choice(links)
            if rng.random() < 0.3:
                code = codes.take()
                sent.append(code)
                calls.append(write(link, f"DAC:CODE {code}", wait=rng.choice([0, 50, 1000])))
            else:
                sent.append(None)
                calls.append(write(link, ";".join(["*IDN?"] * rng.randrange(1, 40))))
                calls.append(read(link))
                sent.append(None)
        data = b"".join(core.record(*call) for call in calls)
        sender = threading.Thread(target=core.socket.sendall, args=(data,))
        sender.start()
        time.sleep(rng.random() * 0.3)
        for code in sent:
            status = struct.unpack(">i", core.reply()[:4])[0]
            check(status in (0, LOCKED, 15), f"a call's status {status}")
            if code is not None:
                codes.told(code, status == 0)
        sender.join()
    core.socket.close()


def raw_client(port, codes, rng, until):
    """A code and *OPC? a line; no answer while a link holds the lock (then the code is not
    known: it was dropped, or is in flight)."""
    with socket.create_connection(("127.0.0.1", port), timeout=1) as client:
        lines = client.makefile("r", encoding="ascii")
        client.sendall(b"*OPC?\n")  # served: counted by serve
        check(lines.readline() == "1\n", "the raw client served")
        CONNECTED.wait(timeout=30)
        while time.monotonic() < until:
            code = codes.take()
            client.sendall(f"DAC:CODE {code};*OPC?\n".encode())
            try:
                check(lines.readline() == "1\n", "*OPC? answered")
                codes.told(code, True)
            except socket.timeout:
                return
            time.sleep(rng.random() * 0.01)


def page_client(port, codes, rng, until):
    """Codes posted to the page, as its script does; an event stream held for a while."""
    stream = socket.create_connection(("127.0.0.1", port), timeout=5)
    stream.sendall(b"GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
    while time.monotonic() < until:
        code = codes.take()
        page = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
        page.request("POST", "/set", f"code={code}", {"Accept": "application/json",
                     "Content-Type": "application/x-www-form-urlencoded"})
        response = page.getresponse()
        body = response.read()
        check(response.status in (200, 409), f"the page's answer {response.status}: {body!r}")
        codes.told(code, response.status == 200 and b'"errors":[]' in body)
        page.close()
        time.sleep(rng.random() * 0.05)
    stream.close()


def vandal(ports, rng, until):
    """Garbage, half calls and half requests, and connections dropped with calls unanswered."""
    core = struct.pack(">I", 0x80000000 | 40) + struct.pack(">10I", 1, 0, 2, 0x0607AF, 1, 12, 0,
                                                              0, 0, 0)
    CONNECTED.wait(timeout=30)
    kinds = [("vxi11", core[:30]), ("vxi11", struct.pack(">I", 0xFFFFFFFF) + b"x" * 64),
             ("vxi11", core + struct.pack(">i", 1)), ("raw", b"DAC:CODE"), ("raw", b"\xff" * 5000),
             ("raw", b"DATA:DAC #9999999999\n"), ("raw", b"DATA:DAC #6100000" + b"\n" * 3000),
             ("page", b"POST /set HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 9\r\n\r\ncode"),
             ("page", b"\x00GARBAGE\r\n\r\n")]
    while time.monotonic() < until:
        where, data = rng.choice(kinds)
        try:
            with socket.create_connection(("127.0.0.1", ports[where]), timeout=2) as client:
                client.sendall(data)
                if rng.random() < 0.5:
                    client.recv(1024)
        except OSError:
            pass  # the server may close first: that is its answer
        time.sleep(rng.random() * 0.02)


def usage(pid):
    descriptors = len(os.listdir(f"/proc/{pid}/fd"))
    with open(f"/proc/{pid}/status", encoding="ascii") as status:
        rss = next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))
    return descriptors, rss


def served(ports):
    """A fresh client of each protocol is answered."""
    with socket.create_connection(("127.0.0.1", ports["raw"]), timeout=5) as client:
        client.sendall(b"*IDN?\n")
        check(client.makefile("r").readline().count(",") == 3, "a fresh raw client answered")
    core = Core(ports["vxi11"])
    link = core.link()
    check(core.call(*write(link, "*IDN?")) == 0, "a fresh VXI-11 link's write")
    core.socket.sendall(core.record(*read(link)))
    check(core.reply().count(b",") == 3, "a fresh VXI-11 link's read")
    core.socket.close()
    page = http.client.HTTPConnection("127.0.0.1", ports["page"], timeout=5)
    page.request("GET", "/state")
    check(page.getresponse().status == 200, "a fresh page client answered")
    page.close()


def soak(folder):
    trace = os.path.join(folder, "soak.jsonl")
    server, ports, log = serve(trace)
    try:
        served(ports)
        before = usage(server.pid)
        codes, until = Codes(), time.monotonic() + SECONDS
        rng = random.Random(SEED)
        # Eight clients at most, links and raw connections together: six links, a raw client
        # and a vandal's.
        work = [(locker, ports["vxi11"])] * 2 + [(pipeliner, ports["vxi11"])] * 2 + \
               [(raw_client, ports["raw"]), (page_client, ports["page"]), (page_client, ports["page"])]
        failures = []
        global CONNECTED
        CONNECTED = threading.Barrier(6)  # two lockers, two pipeliners, the raw client, the vandal

        def run(job, *arguments):
            try:
                job(*arguments)
            except Exception as error:  # noqa: BLE001: every client's failure is reported
                failures.append(f"{job.__name__}: {error!r}")
        threads = [threading.Thread(target=run, args=(job, port, codes,
                                                      random.Random(rng.random()), until))
                   for job, port in work]
        threads.append(threading.Thread(target=run, args=(vandal, ports, random.Random(SEED), until)))
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(timeout=SECONDS + 60)
        check(not failures, f"every client served: {failures}")
        sent = [value for value, _ in frames(trace)]
        check(len(sent) == len(set(sent)), "no frame twice")
        check(codes.done <= set(sent), f"lost: {sorted(codes.done - set(sent))[:10]}")
        check(not codes.refused & set(sent), f"refused, yet sent: {sorted(codes.refused & set(sent))}")
        check(set(sent) - {0} <= set(range(2, codes.next + 1)), "only codes the clients sent")
        check(codes.next <= 0xFFFF, "every code one the KT310 takes")
        print(f"serve_soak_test: {len(codes.done)} codes done, {len(codes.refused)} refused")
        deadline = time.monotonic() + 10
        while (after := usage(server.pid))[0] > before[0] and time.monotonic() < deadline:
            time.sleep(0.2)
        check(after[0] <= before[0], f"descriptors back: {before[0]} then {after[0]}")
        check(after[1] - before[1] < 64 * 1024, f"memory back near: {before[1]} kB, {after[1]} kB")
        served(ports)
        waits_on_its_own_connection(ports)
        a_wait_answered_leaves_no_timer_behind(ports)
        held_calls_bound_memory(server.pid, ports)
        served(ports)
    finally:
        stop(server, False)


def waits_on_its_own_connection(ports):
    """A wait for the lock held by a link of the same connection could end only by a call
    behind it: refused at once, and the holder's unlock then answered."""
    core = Core(ports["vxi11"])
    holder, waiter = core.link(), core.link()
    check(core.call(LOCK, struct.pack(">iII", holder, 0, 0)) == 0, "locked")
    begun = time.monotonic()
    check(core.call(*write(waiter, "DAC:CODE 1", wait=3000)) == LOCKED, "refused at once")
    check(time.monotonic() - begun < 1, "not after its wait")
    check(core.call(UNLOCK, struct.pack(">i", holder)) == 0, "the holder's unlock answered")
    core.socket.close()


def a_wait_answered_leaves_no_timer_behind(ports):
    """A wait answered when the lock is let go takes its timer with it: the connection's next
    wait runs its own time, not what was left of the first's."""
    holder, waiting = Core(ports["vxi11"]), Core(ports["vxi11"])
    held, link = holder.link(), waiting.link()
    check(holder.call(LOCK, struct.pack(">iII", held, 0, 0)) == 0, "locked")
    waiting.socket.sendall(waiting.record(*write(link, "*CLS", wait=1000)))
    time.sleep(0.1)
    check(holder.call(UNLOCK, struct.pack(">i", held)) == 0, "unlocked")
    check(struct.unpack(">i", waiting.reply()[:4])[0] == 0, "the wait answered at the unlock")
    check(holder.call(LOCK, struct.pack(">iII", held, 0, 0)) == 0, "locked again")
    begun = time.monotonic()
    check(waiting.call(*write(link, "*CLS", wait=3000)) == LOCKED, "refused when its time is up")
    check(time.monotonic() - begun > 2, "after its own time, not the first wait's")
    holder.socket.close()
    waiting.socket.close()


def held_calls_bound_memory(pid, ports):
    """A call held for the lock, and 16 MiB of calls behind it: serve reads no more than it
    can answer, and TCP holds the rest back."""
    holder, waiting = Core(ports["vxi11"]), Core(ports["vxi11"])
    link = holder.link()
    check(holder.call(LOCK, struct.pack(">iII", link, 0, 0)) == 0, "locked")
    other = waiting.link()
    waiting.socket.sendall(waiting.record(*write(other, "DAC:CODE 1", wait=0xFFFFFFFF)))
    before = usage(pid)[1]
    calls = waiting.record(*write(other, "*IDN?")) * 4096
    waiting.socket.settimeout(3)
    try:
        for _ in range(16 * 1024 * 1024 // len(calls)):
            waiting.socket.sendall(calls)
    except socket.timeout:
        pass  # the server reads no more: TCP holds the rest
    grown = usage(pid)[1] - before
    check(grown < 8 * 1024, f"serve kept {grown} kB of the held connection's calls")
    waiting.socket.close()
    holder.socket.close()


def descriptors_run_out(folder):
    server, ports, log = serve(os.path.join(folder, "few.jsonl"), descriptors=40)
    try:
        # Taken into the listen queues by the system, whether serve can accept them or not.
        clients = [socket.create_connection(("127.0.0.1", ports[["raw", "vxi11", "page"][n % 3]]),
                                            timeout=2) for n in range(60)]
        time.sleep(1)
        for client in clients:
            client.close()
        time.sleep(0.5)
        served(ports)
        told = [line for line in log if "cannot take a client" in line]
        check(told and len(told) == len(set(told)), f"said, once a listener: {log}")
    finally:
        stop(server, False)


def main():
    print(f"serve_soak_test: seed {SEED} (KT_SOAK_SEED replays it)")
    with tempfile.TemporaryDirectory(prefix="kt_soak_") as folder:
        soak(folder)
        if "ASAN_OPTIONS" in os.environ:
            # The sanitizers' own checks open descriptors (UBSan reads memory through a pipe):
            # without any left, they report faults that are not there.
            print("serve_soak_test: descriptors not run out under the sanitizers")
        else:
            descriptors_run_out(folder)
    print("serve_soak_test: all checks passed")


if __name__ == "__main__":
    main()
