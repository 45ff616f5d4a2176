#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""ktdac serve's DNS-SD announcement, found by a browser nobody here wrote (python3-zeroconf,
asking over the wire) in a network of the test's own: multicast DNS reaches every host of
a real network, so the whole test runs in a new network namespace whose only links are its
loopback and a veth pair (the server and avahi-daemon on one end, the browser on the other),
with a /run of its own for a private D-Bus system bus and avahi-daemon.

Linux build: not announced (and still serving) while no daemon runs; announced, with its port
and LXI TXT record, once avahi-daemon runs, beside its VXI-11 channel and web page
(_vxi-11._tcp, _lxi._tcp, _http._tcp); a clash of names settled; --no-announce and a
loopback address announce nothing; the service withdrawn when the server stops.
Windows build under Wine: Wine has no DNS-SD registration, so the server must say it is not
announced and serve anyway.
Both: the LXI identification document tells the network the page was reached through (the
address, its mask, the interface's hardware address and the default gateway, as the system
has them).

Usage: announce_test.py KTDAC...   (the program, after a runner such as Wine's when given)
Needs root (or a user namespace) for the network namespace; skipped (77) without it."""

import json
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request
from xml.etree import ElementTree

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from namespace_support import enter_namespace, loopback_alone  # noqa: E402

KTDAC = sys.argv[1:]
UNDER_WINE = len(KTDAC) > 1
SERVER, BROWSER = "192.0.2.1", "192.0.2.2"  # TEST-NET-1: never routed anywhere
GATEWAY = "192.0.2.254"  # the server's default route: nothing answers there


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def run(*command):
    subprocess.run(command, check=True)


def build_network(folder):
    loopback_alone()
    run("ip", "link", "add", "kt0", "type", "veth", "peer", "name", "kt1")
    run("ip", "addr", "add", SERVER + "/24", "dev", "kt0")
    run("ip", "addr", "add", BROWSER + "/24", "dev", "kt1")
    for link in ("kt0", "kt1"):
        run("ip", "link", "set", link, "up", "multicast", "on")
    run("ip", "route", "add", "default", "via", GATEWAY, "dev", "kt0")
    # The machine's /run stays as it is: the daemons' sockets and pid files go in ours.
    run("mount", "-t", "tmpfs", "tmpfs", "/run")
    os.makedirs("/run/dbus")
    with open(os.path.join(folder, "bus.conf"), "w", encoding="utf-8") as conf:
        conf.write("""<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
""")
    with open(os.path.join(folder, "avahi.conf"), "w", encoding="utf-8") as conf:
        conf.write("[server]\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=kt0\n"
                   "[publish]\npublish-workstation=no\n")


class Daemons:
    """A private system bus and avahi-daemon on it, answering on kt0 alone."""

    def __init__(self, folder):
        self.folder = folder
        self.processes = []

    def start(self):
        bus = subprocess.Popen(["dbus-daemon", "--config-file=" + os.path.join(self.folder, "bus.conf"),
                                "--nofork", "--nopidfile"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.processes.append(bus)
        wait_for(lambda: os.path.exists("/run/dbus/system_bus_socket"), "the bus socket")
        log = open(os.path.join(self.folder, "avahi.log"), "w", encoding="utf-8")
        avahi = subprocess.Popen(["avahi-daemon", "-f", os.path.join(self.folder, "avahi.conf"),
                                  "--no-drop-root", "--no-chroot", "--no-rlimits"],
                                 stdout=log, stderr=subprocess.STDOUT)
        self.processes.append(avahi)
        wait_for(lambda: "Server startup complete" in read(log.name) or avahi.poll() is not None,
                 "avahi-daemon's start")
        check(avahi.poll() is None, "avahi-daemon ended: " + read(log.name))

    def stop(self):
        for process in reversed(self.processes):
            process.terminate()
            process.wait(timeout=10)
        self.processes = []


def read(path):
    with open(path, encoding="utf-8", errors="replace") as text:
        return text.read()


def wait_for(condition, what, seconds=20):
    deadline = time.monotonic() + seconds
    while not condition():
        check(time.monotonic() < deadline, "waited in vain for " + what)
        time.sleep(0.05)


class Server:
    """ktdac serve, its log lines read as they come."""

    def __init__(self, folder, name, *options):
        self.log = os.path.join(folder, name + ".log")
        self.process = subprocess.Popen(KTDAC + ["serve"] + list(options),
                                        stderr=open(self.log, "w", encoding="utf-8"))
        wait_for(lambda: re.search(r"ktdac: serving SCPI on \S+:(\d+)", read(self.log)),
                 "the server to listen", seconds=120 if UNDER_WINE else 20)  # Wine: a new prefix
        self.port = int(re.search(r"ktdac: serving SCPI on \S+:(\d+)", read(self.log)).group(1))

    def lines(self):
        return [line for line in read(self.log).splitlines() if line.startswith("ktdac:")]

    def identity(self, address):
        with socket.create_connection((address, self.port), timeout=5) as client:
            client.sendall(b"*IDN?\n")
            return client.makefile("r", encoding="ascii").readline().strip()

    def stop(self):
        if UNDER_WINE:
            self.process.kill()  # a Windows program has no SIGTERM
        else:
            self.process.send_signal(signal.SIGTERM)
        status = self.process.wait(timeout=30)
        check(UNDER_WINE or status == 0, f"SIGTERM ends the server cleanly: status {status}, "
              + read(self.log)[-2000:])


_ZEROCONF = []


def browse(seconds=3.0, kind="_scpi-raw._tcp"):
    """Every service of that type a browser on the other end of the link finds, by name:
    (port, addresses, TXT record). One browser serves the whole test: a second one started
    after the first has closed hears no answer."""
    from zeroconf import IPVersion, ServiceBrowser, Zeroconf

    if not _ZEROCONF:
        _ZEROCONF.append(Zeroconf(interfaces=[BROWSER], ip_version=IPVersion.V4Only))
    zeroconf = _ZEROCONF[0]
    names = set()

    class Listener:
        def add_service(self, _zc, _type, name):
            names.add(name)

        def update_service(self, _zc, _type, name):
            names.add(name)

        def remove_service(self, _zc, _type, name):
            names.discard(name)

    browser = ServiceBrowser(zeroconf, kind + ".local.", Listener())
    time.sleep(seconds)
    browser.cancel()
    found = {}
    for name in sorted(names):
        info = zeroconf.get_service_info(kind + ".local.", name, 3000)
        if info:
            text = {key.decode(): (value or b"").decode() for key, value in info.properties.items()}
            found[name] = (info.port, info.parsed_addresses(IPVersion.V4Only), text)
    return found


def check_identification(address, page, identity):
    """The LXI identification document as software that found the page reads it: the
    instrument, its resources and the network it was reached through, as the system has it."""
    with urllib.request.urlopen(f"http://{address}:{page}/lxi/identification", timeout=10) as got:
        document = ElementTree.fromstring(got.read())
    lxi = "{http://www.lxistandard.org/InstrumentIdentification/1.0}"
    interface = document.find(lxi + "Interface")
    link, = json.loads(subprocess.run(["ip", "-j", "link", "show", "kt0"], check=True,
                                      capture_output=True, text=True).stdout)
    expected = {"Manufacturer": identity[0], "Model": identity[1], "IPAddress": address,
                "SubnetMask": "255.255.255.0", "MACAddress": link["address"].upper(),
                "Gateway": GATEWAY}
    found = {key: (document.findtext(lxi + key) or interface.findtext(lxi + key))
             for key in expected}
    check(found == expected, f"the identification document: {found}, not {expected}")
    resources = [e.text for e in interface.iter(lxi + "InstrumentAddressString")]
    check(f"TCPIP::{address}::inst0::INSTR" in resources, f"the VXI-11 resource: {resources}")


def check_served_unannounced(server, why):
    """The server answers, and one line of its says why it is not announced."""
    check(server.identity(SERVER).startswith("Corvane,"), "served unannounced")
    said = [line for line in server.lines() if "announce" in line]
    check(len(said) == 1 and why in said[0] and "serving anyway" in said[0],
          f"one line says why it is not announced: {said}")


def windows_build(folder):
    # Wine's sockets are made by its wineserver, in the network namespace the wineserver
    # started in: a prefix of our own gives us a wineserver of our own, here, and leaves the
    # other tests' one outside.
    os.environ["KT_WINEPREFIX"] = os.path.join(folder, "wineprefix")
    try:
        server = Server(folder, "wine", "--listen", SERVER + ":0", "--http", "0")
        try:
            check_served_unannounced(server, "not announced on the network")
            page = int(re.search(r"web page on http://\S+:(\d+)/", read(server.log)).group(1))
            check_identification(SERVER, page, server.identity(SERVER).split(","))
        finally:
            server.stop()
    finally:
        subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=os.environ["KT_WINEPREFIX"]),
                       check=False)


def linux_build(folder):
    daemons = Daemons(folder)
    # No daemon yet: said in one line, served anyway.
    alone = Server(folder, "alone", "--listen", SERVER + ":0")
    try:
        check_served_unannounced(alone, "avahi-daemon cannot be reached")
    finally:
        alone.stop()

    servers = []
    try:
        daemons.start()
        first = Server(folder, "first", "--listen", SERVER + ":0", "--http", "0")
        servers.append(first)
        second = Server(folder, "second", "--listen", "0.0.0.0:0", "--no-vxi11")  # a name clash
        servers.append(second)
        quiet = Server(folder, "quiet", "--listen", SERVER + ":0", "--no-announce")
        servers.append(quiet)
        local = Server(folder, "local", "--listen", "127.0.0.1:0")
        servers.append(local)
        for server in (first, second):
            wait_for(lambda: any("announced on the network as" in l for l in server.lines()),
                     "the announcement of " + server.log)
        for server in (quiet, local):
            check(not any("announce" in line for line in server.lines()),
                  "nothing announced: " + "\n".join(server.lines()))

        identity = first.identity(SERVER).split(",")
        found = browse()
        by_port = {port: (name, addresses, text) for name, (port, addresses, text) in found.items()}
        check(set(by_port) == {first.port, second.port},
              f"the two announced servers, not --no-announce's {quiet.port} or loopback's "
              f"{local.port}: {found}")
        name, addresses, text = by_port[first.port]
        check(name.startswith(identity[1] + " on ") and name.endswith("._scpi-raw._tcp.local."),
              "instance name " + name)
        check(SERVER in addresses, f"the address {addresses}")
        check(text == {"txtvers": "1", "Manufacturer": identity[0], "Model": identity[1],
                       "SerialNumber": identity[2], "FirmwareVersion": identity[3]},
              f"the LXI TXT record {text}")
        # The LXI instrument's other services: VXI-11 through the portmapper, the web page.
        page = int(re.search(r"web page on http://\S+:(\d+)/", read(first.log)).group(1))
        for kind, port, path in (("_vxi-11._tcp", 111, None), ("_lxi._tcp", page, "/lxi/identification"),
                                 ("_http._tcp", page, "/")):
            seen = {}

            def ours():
                seen.clear()
                seen.update({name: found for name, found in browse(1.5, kind).items()
                             if name.startswith(identity[1])})
                return len(seen) == 1
            wait_for(ours, f"{kind} found", seconds=20)
            (found_port, _, text), = seen.values()
            check(found_port == port, f"{kind} announced on port {port}, not {found_port}")
            check(text.get("Model") == identity[1] and text.get("path") == path,
                  f"{kind}'s TXT record {text}")
        check_identification(SERVER, page, identity)
        base = f"{identity[1]} on {socket.gethostname()}"
        check({name for name, _, _ in by_port.values()}
              == {base + "._scpi-raw._tcp.local.", base + " #2._scpi-raw._tcp.local."},
              f"the clash settled by a second name: {found}")
        check(any("is taken on the network" in line for line in second.lines() + first.lines()),
              "the clash is told")

        first.stop()
        servers.remove(first)
        wait_for(lambda: first.port not in {port for port, _, _ in browse(1.5).values()},
                 "the service withdrawn when the server stops", seconds=15)
    finally:
        for server in servers:
            server.stop()
        daemons.stop()


def main():
    if not os.environ.get("KT_ANNOUNCE_NAMESPACE"):
        enter_namespace("announce_test", __file__, KTDAC, "KT_ANNOUNCE_NAMESPACE")
    with tempfile.TemporaryDirectory(prefix="kt_announce_") as folder:
        build_network(folder)
        if UNDER_WINE:
            windows_build(folder)
        else:
            linux_build(folder)
    print("announce_test: all checks passed")


if __name__ == "__main__":
    main()
