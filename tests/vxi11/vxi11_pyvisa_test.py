#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""ktdac serve as a VISA ::INSTR resource (VXI-11), driven by pyvisa-py as lab software
drives an instrument: identity, a code reaching the board, the status byte, a device clear,
the lock between two links (raw-socket clients refused while it is held, a call waiting for
it held until it is let go or its time is up), the client limit
shared with the raw socket, and a lock let go when its client vanishes. Found through
rpcbind, registered and unregistered; then with no portmapper, through serve's own answer on
port 111 (TCP, and UDP as discovery asks, broadcast on a network too); then with port 111 held by another program.
The portmapper's port is fixed, so the test runs in a network and mount namespace of its own
(a private /run for rpcbind's socket).

Usage: vxi11_pyvisa_test.py [EMULATOR...] KTDAC
Needs root for the namespace; skipped (77) without it."""

import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

import pyvisa
from pyvisa_py.protocols.vxi11 import CoreClient

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from namespace_support import enter_namespace, loopback_alone  # noqa: E402
from serve_support import check, frames, stop  # noqa: E402

STAGE = "KT_VXI11_STAGE"
KTDAC = sys.argv[1:]
UNDER_WINE = any("wine" in os.path.basename(word) for word in KTDAC[:-1])
CORE = 0x0607AF


def serve(trace, address="127.0.0.1"):
    """ktdac serve on loopback: the process, the raw port, and what it said of VXI-11."""
    server = subprocess.Popen(KTDAC + ["serve", "--listen", address + ":0"],
                              env=dict(os.environ, KT_SIM_TRACE=trace), stderr=subprocess.PIPE,
                              text=True)
    said = []
    while len(said) < 3:
        line = server.stderr.readline()
        check(line, "serve told where it listens: " + "".join(said))
        if line.startswith("ktdac:") and "is open to other hosts" not in line:
            said.append(line.strip())
    raw = int(said[0].rsplit(":", 1)[1])
    check(said[1].startswith(f"ktdac: serving VXI-11 (TCPIP::{address}::inst0::INSTR)"), said[1])
    return server, raw, said[2]


def registered():
    """The port rpcbind gives the core channel; None when it has no entry."""
    listing = subprocess.run(["rpcinfo", "-p", "127.0.0.1"], capture_output=True, text=True)
    ports = [line.split()[3] for line in listing.stdout.splitlines()
             if line.split()[:1] == [str(CORE)]]
    return int(ports[0]) if ports else None


def raw_client(port):
    client = socket.create_connection(("127.0.0.1", port), timeout=10)
    return client, client.makefile("r", encoding="ascii")


def drive(trace, raw_port):
    """What a lab script does with the instrument, link by link."""
    rm = pyvisa.ResourceManager("@py")
    first = rm.open_resource("TCPIP::127.0.0.1::inst0::INSTR", read_termination="\n",
                             write_termination="\n", timeout=5000)
    check(first.query("*IDN?").startswith("Corvane,"), "identity over VXI-11")
    first.write("DAC:CODE 4660")
    check(first.query("DAC:CODE?") == "4660", "the code read back")
    check(frames(trace)[-1:] != [], "a frame reached the board")
    sent = len(frames(trace))
    # A query left unanswered shows in the status byte, and a device clear drops it.
    first.write("*IDN?")
    check(first.read_stb() & 0x10, "message available in the status byte")
    first.clear()
    check(first.read_stb() & 0x10 == 0, "the clear emptied the output")
    # A message of nearly the line limit, which pyvisa-py sends as one write of the size the
    # link allows.
    check(first.query("*CLS;" + "*WAI;" * 790 + "*OPC?") == "1", "a long message")
    first.write("DAC:BOGUS")
    check(first.query("SYST:ERR?").startswith("-113,"), "its own error queue")

    second = rm.open_resource("TCPIP::127.0.0.1::inst0::INSTR", read_termination="\n",
                              write_termination="\n", timeout=5000)
    check(second.query("SYST:ERR:COUN?") == "0", "a second link has a queue of its own")
    raw, lines = raw_client(raw_port)
    first.lock_excl()
    # pyvisa-py reports any refused write as an I/O error; its lock call names the cause.
    for attempt, status in ((lambda: second.write("DAC:CODE 1"), "error_io"),
                            (second.lock_excl, "error_resource_locked")):
        try:
            attempt()
            check(False, "a link acts while another holds the lock")
        except pyvisa.errors.VisaIOError as error:
            check(error.error_code == getattr(pyvisa.constants.StatusCode, status), str(error))
    raw.sendall(b"DAC:CODE 2\n")
    first.write("DAC:CODE 3")
    # A call that asks to wait for the lock (pyvisa-py's own protocol layer: its resources
    # never ask) is held until the lock is let go, or refused when its time is up.
    waiter = CoreClient("127.0.0.1")
    _, link, _, _ = waiter.create_link(1, False, 0, "inst0")
    started = time.monotonic()
    check(waiter.device_lock(link, 1, 300) == 11 and time.monotonic() - started >= 0.25,
          "a wait for the lock that runs out is refused at its end")

    def holder_goes_on():  # the holder is served while the other call waits
        first.write("DAC:CODE 7")
        first.unlock()
    goes_on = threading.Timer(0.3, holder_goes_on)
    goes_on.start()
    started = time.monotonic()
    check(waiter.device_lock(link, 1, 5000) == 0 and time.monotonic() - started >= 0.25,
          "a wait for the lock ends when it is let go")
    goes_on.join()  # its link's unlock answered, before this thread uses the link again
    waiter.destroy_link(link)
    waiter.close()
    raw.sendall(b"SYST:ERR?\n")
    refusal = lines.readline()
    check(refusal.startswith('-300,"Device-specific error;a VXI-11 link holds the lock'), refusal)
    check(len(frames(trace)) == sent + 2, "only the lock holder's frames went out")
    second.write("DAC:CODE 5")
    check(first.query("DAC:CODE?") == "5", "the lock gone, the other link writes")

    # Eight clients at once, raw and VXI-11 together: the ninth link is refused.
    more = [rm.open_resource("TCPIP::127.0.0.1::inst0::INSTR") for _ in range(5)]
    try:
        rm.open_resource("TCPIP::127.0.0.1::inst0::INSTR")
        check(False, "a ninth client served")
    except Exception as error:  # pyvisa-py says so only as a plain exception
        check("error creating link: 9" in str(error), str(error))
    for resource in more:
        resource.close()
    raw.close()

    # A client that vanishes holding the lock lets it go with its connection.
    holder = subprocess.run(
        [sys.executable, "-c",
         "import os, pyvisa; r = pyvisa.ResourceManager('@py').open_resource("
         "'TCPIP::127.0.0.1::inst0::INSTR'); r.lock_excl(); os._exit(0)"], timeout=30)
    check(holder.returncode == 0, "the holder locked and vanished")
    time.sleep(0.2)
    second.write("DAC:CODE 6")
    check(second.query("DAC:CODE?") == "6", "the vanished client's lock is gone")
    first.close()
    second.close()
    rm.close()


def getport_by_udp(to="127.0.0.1", source="127.0.0.1"):
    """A portmapper GETPORT for the core channel over UDP, as VISA discovery asks: the port
    told and who told it."""
    call = struct.pack(">10I", 0x5151, 0, 2, 100000, 2, 3, 0, 0, 0, 0)
    call += struct.pack(">4I", CORE, 1, 6, 0)
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as udp:
        udp.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
        udp.bind((source, 0))
        udp.settimeout(5)
        udp.sendto(call, (to, 111))
        reply, sender = udp.recvfrom(1024)
    words = struct.unpack(">%dI" % (len(reply) // 4), reply)
    check(words[:6] == (0x5151, 1, 0, 0, 0, 0), f"an accepted reply: {words}")
    return words[6], sender[0]


def in_namespace():
    loopback_alone()
    subprocess.run(["mount", "-t", "tmpfs", "none", "/run"], check=True)
    os.makedirs("/run/rpcbind", exist_ok=True)
    folder = tempfile.mkdtemp(prefix="kt-vxi11-")
    trace = os.path.join(folder, "trace.jsonl")

    # rpcbind runs: serve registers with it, and is gone from it once stopped. The Windows
    # build has no rpcbind to register with: there its own portmapper carries the whole test.
    if not UNDER_WINE:
        rpcbind = subprocess.Popen(["rpcbind", "-f"])
        try:
            deadline = time.monotonic() + 10
            while subprocess.run(["rpcinfo", "-p", "127.0.0.1"],
                                 capture_output=True).returncode != 0:
                check(time.monotonic() < deadline, "rpcbind came up")
                time.sleep(0.05)
            server, raw_port, said = serve(trace)
            try:
                check(said == "ktdac: registered with this machine's portmapper", said)
                first = registered()
                check(first, "rpcinfo lists the VXI-11 core program")
                drive(trace, raw_port)
                # A second serve leaves the running one's entry alone, then and at its end.
                second, second_raw, said = serve(trace)
                with socket.create_connection(("127.0.0.1", second_raw), timeout=10) as client:
                    client.sendall(b"*IDN?\n")
                    client.recv(1024)  # serving: its signals are handled
                stop(second, UNDER_WINE)
                check("another running program holds" in said, said)
                check(registered() == first, "the first serve's entry kept")
            finally:
                stop(server, UNDER_WINE)
            check(registered() is None, "unregistered on exit")
        finally:
            rpcbind.terminate()
            rpcbind.wait(timeout=10)

    # No portmapper: serve answers on port 111 itself.
    server, raw_port, said = serve(trace)
    try:
        check(said.endswith("answering the portmapper on port 111 itself"), said)
        if UNDER_WINE:
            drive(trace, raw_port)
        else:
            rm = pyvisa.ResourceManager("@py")
            instrument = rm.open_resource("TCPIP::127.0.0.1::inst0::INSTR",
                                          read_termination="\n")
            check(instrument.query("*IDN?").startswith("Corvane,"), "found through our portmapper")
            instrument.close()
        check(getport_by_udp()[0] != 0, "the core channel's port told over UDP")
    finally:
        stop(server, UNDER_WINE)

    # On a network, VISA's discovery broadcasts its GETPORT: answered from the host's own
    # address. (Under Wine the Windows build's socket on that address hears no broadcast: a
    # Linux socket's rule, which Windows itself does not have.)
    if not UNDER_WINE:
        for command in ("link add kt0 type veth peer name kt1",
                        "addr add 192.0.2.1/24 broadcast + dev kt0",
                        "addr add 192.0.2.2/24 broadcast + dev kt1",
                        "link set kt0 up", "link set kt1 up"):
            subprocess.run(["ip"] + command.split(), check=True)
        server, _, said = serve(trace, "192.0.2.1")
        try:
            port, sender = getport_by_udp("192.0.2.255", "192.0.2.2")
            check(port != 0 and sender == "192.0.2.1", f"broadcast answered by {sender}: {port}")
        finally:
            stop(server, UNDER_WINE)

    # Port 111 held by another program: serve says VISA cannot find it, and serves SCPI.
    with socket.socket() as blocker:
        blocker.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        blocker.bind(("127.0.0.1", 111))
        blocker.listen()
        server, raw_port, said = serve(trace)
        try:
            check("port 111 cannot be had" in said, said)
            raw, lines = raw_client(raw_port)
            raw.sendall(b"*IDN?\n")
            check(lines.readline().startswith("Corvane,"), "the raw socket still served")
            raw.close()
        finally:
            stop(server, UNDER_WINE)
    print("vxi11_pyvisa_test: all checks passed")


if __name__ == "__main__":
    if os.environ.get(STAGE) == "namespace":
        if UNDER_WINE:
            # Wine's sockets are made by its wineserver, in the network namespace it started
            # in: a prefix of our own gives a wineserver of our own, here. With the other
            # tests' one, the server listened outside and pyvisa-py found nothing.
            prefix = tempfile.mkdtemp(prefix="kt-vxi11-wine-")
            os.environ["KT_WINEPREFIX"] = prefix
            try:
                in_namespace()
            finally:
                subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=prefix),
                               check=False)
                shutil.rmtree(prefix, ignore_errors=True)
        else:
            in_namespace()
    else:
        enter_namespace("vxi11_pyvisa_test", __file__, sys.argv[1:], STAGE)
