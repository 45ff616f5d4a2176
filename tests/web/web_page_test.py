#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""ktdac serve's web page (--http) as a browser and other clients meet it.

Any build (the Windows one under Wine too), with Python's own HTTP client: the page and the
LXI identification document served, a GET that sets nothing, a POST from another site
refused with nothing sent, a request line of 1 MB refused while others are still served, and
a client that sends its request a byte now and then, or keeps its end open after the answer,
let go.

The Linux build, in headless Chromium driven by its DevTools protocol and in headless Firefox
driven by WebDriver BiDi (both over python3-websocket), the same in each: the page loaded, a
code set with the keyboard alone (Tab to the field, type, Enter) reaching the simulated
board, the page following when a pyvisa client changes the code, and another site's form
posting to the board refused by the server with nothing sent. With KT_WEB_SCREENSHOT=FILE,
the page in Chromium is saved there as a PNG.

Usage: web_page_test.py [EMULATOR...] KTDAC"""

import http.client
import http.server
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from serve_support import check, frames, stop  # noqa: E402

KTDAC = sys.argv[1:]
UNDER_WINE = len(KTDAC) > 1


def serve(trace):
    """ktdac serve with its page on loopback: the process, the raw port and the page's port."""
    server = subprocess.Popen(KTDAC + ["serve", "--listen", "127.0.0.1:0", "--http", "0",
                                       "--no-vxi11"],
                              env=dict(os.environ, KT_SIM_TRACE=trace), stderr=subprocess.PIPE,
                              text=True)
    raw = page = None
    while page is None:
        line = server.stderr.readline()
        check(line, "serve told where its page is")
        if line.startswith("ktdac: serving SCPI on "):
            raw = int(line.strip().rsplit(":", 1)[1])
        if line.startswith("ktdac: serving the web page on http://127.0.0.1:"):
            page = int(line.strip().rstrip("/").rsplit(":", 1)[1])
    threading.Thread(target=server.stderr.read, daemon=True).start()
    return server, raw, page


def request(port, method, path, body=None, headers=None):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    connection.request(method, path, body=body, headers=headers or {})
    response = connection.getresponse()
    answer = response.status, response.getheader("Content-Type"), response.read().decode()
    connection.close()
    return answer


def scpi(port, message):
    with socket.create_connection(("127.0.0.1", port), timeout=10) as client:
        client.sendall(message.encode() + b"\n")
        if message.endswith("?"):
            return client.makefile("r", encoding="ascii").readline().strip()
    return None


def let_go(client, what):
    """Sends a byte a second until the server's close shows: the client was let go in time."""
    started = time.monotonic()
    while True:
        try:
            client.sendall(b"X")
            client.recv(65536, socket.MSG_DONTWAIT)  # the server's reset, once it has closed
        except BlockingIOError:
            pass
        except OSError:
            break
        check(time.monotonic() - started < 25, what)
        time.sleep(1)
    client.close()


def plain_clients(trace, raw, page):
    form = {"Content-Type": "application/x-www-form-urlencoded"}
    status, kind, body = request(page, "GET", "/")
    check(status == 200 and kind.startswith("text/html") and "<form" in body, "the page")
    status, kind, body = request(page, "GET", "/lxi/identification")
    check(status == 200 and "<Manufacturer>Corvane</Manufacturer>" in body
          and f"TCPIP::127.0.0.1::{raw}::SOCKET" in body
          and "<IPAddress>127.0.0.1</IPAddress>" in body, "the identification document: " + body)
    status, _, _ = request(page, "GET", "/set?code=7")
    check(status == 405 and frames(trace) == [], "a GET sets nothing")
    status, _, body = request(page, "POST", "/set", "code=7",
                              dict(form, Origin="http://evil.example"))
    check(status == 403 and frames(trace) == [], "another site's POST refused: " + body)
    status, _, body = request(page, "POST", "/set", "code=0x10", dict(form, Accept="application/json"))
    check(status == 200 and json.loads(body)["state"]["code"] == 16 and len(frames(trace)) == 1,
          "a POST sets the code in one frame: " + body)

    # A request line of 1 MB: refused once the head passes its bound, and nothing else waits.
    with socket.create_connection(("127.0.0.1", page), timeout=10) as client:
        try:
            client.sendall(b"GET /" + b"a" * (1 << 20) + b" HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        except (BrokenPipeError, ConnectionResetError):
            pass  # the server has answered and closed before the whole line was sent
        answer = b""
        while chunk := client.recv(4096):  # to the server's close
            answer += chunk
        check(answer.startswith(b"HTTP/1.1 431 "), f"an over-long request refused: {answer!r}")
    check(request(page, "GET", "/state")[0] == 200, "served after the over-long request")

    # The event stream answers only to this machine's names, as every path does, and a body
    # over 4 KB is refused whatever the parser's own default.
    with socket.create_connection(("127.0.0.1", page), timeout=10) as stream:
        stream.sendall(b"GET /events HTTP/1.1\r\nHost: rebound.example\r\n\r\n")
        answer = stream.recv(65536)
    check(answer.startswith(b"HTTP/1.1 403 "), f"an event stream of another name: {answer!r}")
    status, _, _ = request(page, "POST", "/set", "code=1&x=" + "1" * 5000, form)
    check(status == 413 and len(frames(trace)) == 1, f"a body of 5 KB refused ({status})")

    # Two Hosts or two Origins, ours first: which one judges is not guessed, nothing is sent.
    for twice in [b"Host: 127.0.0.1\r\nHost: evil.example\r\n",
                  b"Host: 127.0.0.1\r\nOrigin: http://127.0.0.1\r\nOrigin: http://evil.example\r\n"]:
        with socket.create_connection(("127.0.0.1", page), timeout=10) as client:
            client.sendall(b"POST /set HTTP/1.1\r\n" + twice + b"Content-Type: application/x-www-"
                           b"form-urlencoded\r\nContent-Length: 6\r\n\r\ncode=9")
            answer = client.recv(65536)
        check(answer.startswith(b"HTTP/1.1 400 ") and len(frames(trace)) == 1,
              f"a request with two of a header refused: {answer!r}")

    # Two requests in one write (HTTP/1.1's pipelining): the first answered, then the close.
    with socket.create_connection(("127.0.0.1", page), timeout=10) as client:
        client.sendall(b"GET /state HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" * 2)
        answer = b""
        while chunk := client.recv(65536):
            answer += chunk
        check(answer.startswith(b"HTTP/1.1 200 ") and answer.count(b"HTTP/1.1") == 1,
              f"one answer to a pipelined pair: {answer!r}")

    # Two frames in one message are one event on the page's stream.
    with socket.create_connection(("127.0.0.1", page), timeout=10) as stream:
        stream.sendall(b"GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        received = b""
        while received.count(b"\n\n") < 1:
            received += stream.recv(65536)
        scpi(raw, "DAC:CODE 17;PDOW TST")
        check(scpi(raw, "*OPC?") == "1", "the message ran")
        stream.settimeout(0.5)
        try:
            while True:
                received += stream.recv(65536)
        except socket.timeout:
            pass
        events = [json.loads(e[len(b"data: "):]) for e in received.split(b"\r\n\r\n", 1)[1]
                  .split(b"\n\n") if e]
        check([(e["code"], e["mode"]) for e in events] == [(16, "normal"), (17, "tri-state")],
              f"one event for the message: {events}")
    scpi(raw, "DAC:CODE 16;PDOW NORM")

    # A client that keeps its end open after its answer, and one that sends a byte now and
    # then: they hold nothing up and are let go.
    lingering = socket.create_connection(("127.0.0.1", page), timeout=30)
    lingering.sendall(b"GET /state HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
    check(lingering.recv(12) == b"HTTP/1.1 200", "the lingering client answered")
    slow = socket.create_connection(("127.0.0.1", page), timeout=30)
    slow.sendall(b"GET / HTTP/1.1\r\n")
    check(request(page, "GET", "/state")[0] == 200, "served beside a slow client")
    let_go(slow, "a slow client is let go")
    let_go(lingering, "a client that keeps its end open is let go")
    check(scpi(raw, "DAC:CODE?") == "16", "the board kept the page's code")


class Tab:
    """A browser's tab as the test uses it, whichever protocol drives it: each a JSON message
    with an id, answered by one with that id."""

    def __init__(self, url, **options):
        import websocket
        self.socket = websocket.create_connection(url, timeout=30, **options)
        self.next = 0

    def send(self, method, params):
        self.next += 1
        self.socket.send(json.dumps({"id": self.next, "method": method, "params": params}))
        while True:
            message = json.loads(self.socket.recv())
            if message.get("id") == self.next:
                return message

    def wait(self, expression, what, seconds=10):
        deadline = time.monotonic() + seconds
        while not self.evaluate(expression):
            check(time.monotonic() < deadline, f"{self.name}: waited in vain for {what}")
            time.sleep(0.05)

    def retype(self, text):
        """Types over what the focused field holds, then Enter."""
        self.select_all()
        self.type(text)
        self.press("Enter")


class ChromiumTab(Tab):
    """One Chromium tab, driven by its DevTools protocol."""

    name = "Chromium"
    KEYS = {"Tab": ("Tab", 9, None), "Enter": ("Enter", 13, "\r")}

    def __init__(self, url):
        super().__init__(url)
        self.call("Page.enable")

    def call(self, method, **params):
        message = self.send(method, params)
        check("error" not in message, f"{method}: {message}")
        return message["result"]

    def navigate(self, url):
        self.call("Page.navigate", url=url)

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True)
        return result["result"].get("value")

    def key(self, key, code, virtual, text=None, commands=None):
        down = {"type": "keyDown", "key": key, "code": code, "windowsVirtualKeyCode": virtual}
        if text:
            down["text"] = text
        if commands:
            down["commands"] = commands
        self.call("Input.dispatchKeyEvent", **down)
        self.call("Input.dispatchKeyEvent", type="keyUp", key=key, code=code,
                  windowsVirtualKeyCode=virtual)

    def press(self, name):
        key, virtual, text = self.KEYS[name]
        self.key(key, key, virtual, text=text)

    def select_all(self):
        self.key("a", "KeyA", 65, commands=["selectAll"])

    def type(self, text):
        self.call("Input.insertText", text=text)

    def screenshot(self, height):
        return self.call("Page.captureScreenshot", format="png",
                         clip={"x": 0, "y": 0, "width": 900, "height": height, "scale": 1})["data"]


class FirefoxTab(Tab):
    """Firefox's first tab, driven by WebDriver BiDi: its keys are real key presses."""

    name = "Firefox"
    KEYS = {"Tab": "\uE004", "Enter": "\uE007", "Control": "\uE009"}

    def __init__(self, port):
        # Firefox takes the protocol only from a client that sends no Origin, as no page can.
        super().__init__(f"ws://127.0.0.1:{port}/session", suppress_origin=True)
        self.call("session.new", capabilities={})
        self.context = self.call("browsingContext.getTree")["contexts"][0]["context"]

    def call(self, method, **params):
        message = self.send(method, params)
        check(message.get("type") == "success", f"{method}: {message}")
        return message["result"]

    def navigate(self, url):
        self.call("browsingContext.navigate", context=self.context, url=url, wait="none")

    def evaluate(self, expression):
        # Not call(): a page between two documents has no answer yet, which is no failure.
        result = self.send("script.evaluate", {"expression": expression, "awaitPromise": False,
                                               "target": {"context": self.context}})
        result = result.get("result", {})
        return result.get("result", {}).get("value") if result.get("type") == "success" else None

    def keys(self, *actions):
        self.call("input.performActions", context=self.context,
                  actions=[{"type": "key", "id": "keyboard", "actions": list(actions)}])

    def press(self, name):
        key = self.KEYS[name]
        self.keys({"type": "keyDown", "value": key}, {"type": "keyUp", "value": key})

    def select_all(self):
        control = self.KEYS["Control"]
        self.keys({"type": "keyDown", "value": control}, {"type": "keyDown", "value": "a"},
                  {"type": "keyUp", "value": "a"}, {"type": "keyUp", "value": control})

    def type(self, text):
        self.keys(*[{"type": kind, "value": c} for c in text for kind in ("keyDown", "keyUp")])


def chromium(folder):
    """Headless Chromium on a free DevTools port: the process and its first tab."""
    browser = subprocess.Popen(
        ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
         "--remote-debugging-port=0", "--user-data-dir=" + os.path.join(folder, "chromium"),
         "--window-size=900,900", "about:blank"],
        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, start_new_session=True)
    while True:
        line = browser.stderr.readline()
        check(line, "Chromium told where its DevTools listen")
        if line.startswith("DevTools listening on ws://"):
            port = int(line.split("ws://127.0.0.1:")[1].split("/")[0])
            break
    threading.Thread(target=browser.stderr.read, daemon=True).start()
    with urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list", timeout=10) as listing:
        tabs = [t for t in json.load(listing) if t["type"] == "page"]
    return browser, ChromiumTab(tabs[0]["webSocketDebuggerUrl"])


def firefox(folder):
    """Headless Firefox (Debian's ESR) with a profile of its own: the process and its tab."""
    profile = os.path.join(folder, "firefox")
    os.makedirs(profile)
    with open(os.path.join(profile, "user.js"), "w", encoding="utf-8") as prefs:
        # An answer that is JSON shown as sent, not in the viewer's page of its own.
        prefs.write('user_pref("devtools.jsonview.enabled", false);\n')
    with socket.socket() as probe:  # Firefox takes no port 0
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    browser = subprocess.Popen(
        ["firefox-esr", "--headless", "--no-remote", "--profile", profile,
         "--remote-debugging-port", str(port), "about:blank"],
        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, start_new_session=True)
    while True:
        line = browser.stderr.readline()
        check(line, "Firefox told where WebDriver BiDi listens")
        if line.startswith("WebDriver BiDi listening on"):
            break
    threading.Thread(target=browser.stderr.read, daemon=True).start()
    return browser, FirefoxTab(port)


def another_site(target):
    """A site of its own on another port, whose page posts a form to the board's page."""
    page = (f'<form id="f" method="post" action="http://127.0.0.1:{target}/set">'
            '<input name="code" value="7"></form><script>f.submit()</script>').encode()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.end_headers()
            self.wfile.write(page)

        def log_message(self, *_):
            pass

    site = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=site.serve_forever, daemon=True).start()
    return site


def in_browser(start, folder, trace, raw, page, shot=None):
    import pyvisa
    browser, tab = start(folder)
    try:
        tab.navigate(f"http://127.0.0.1:{page}/")
        tab.wait("document.getElementById('show-code').textContent.startsWith('16 ')",
                 "the page filled from the board")
        check(tab.evaluate("document.getElementById('show-device').textContent")
              == "KT310 (16 data bits)", "the device shown")
        sent = len(frames(trace))

        # Keyboard alone: Tab to the code field, type over it, Enter submits its form.
        for _ in range(20):
            if tab.evaluate("document.activeElement && document.activeElement.id") == "code":
                break
            tab.press("Tab")
        check(tab.evaluate("document.activeElement.id") == "code",
              f"{tab.name}: Tab reaches the code field")
        tab.retype("0x1234")
        tab.wait("document.getElementById('show-code').textContent === '4660 (0x1234)'",
                 "the page showing the code set")
        check(len(frames(trace)) == sent + 1 and scpi(raw, "DAC:CODE?") == "4660",
              f"{tab.name}: one frame carried the code typed")
        check(tab.evaluate("document.getElementById('errors').textContent") == "", "no error")

        # Another client changes the DAC: the page follows without a reload.
        tab.evaluate("window.stayed = true")
        manager = pyvisa.ResourceManager("@py")
        client = manager.open_resource(f"TCPIP::127.0.0.1::{raw}::SOCKET",
                                       read_termination="\n", write_termination="\n")
        client.write("DAC:CODE 100;PDOW TST")
        tab.wait("document.getElementById('show-code').textContent === '100 (0x64)' && "
                 "document.getElementById('show-mode').textContent === 'Tri - State'",
                 "the page following pyvisa's change")
        check(tab.evaluate("window.stayed === true"), f"{tab.name}: no reload")

        # The reference typed on the page gives the voltage, which a powered-down output has
        # not; the page follows pyvisa powering it up.
        tab.evaluate("document.getElementById('reference').focus()")
        tab.retype("2.5")
        tab.evaluate("document.getElementById('reference').blur()")
        voltage = "document.getElementById('show-voltage').textContent === "
        tab.wait(voltage + "'powered down (0.003815 V in Normal)'", "no voltage while powered down")
        client.write("DAC:PDOW NORM")
        tab.wait(voltage + "'0.003815 V'", "the voltage once powered up")
        client.close()
        manager.close()

        if shot:
            # The page down to its footer, and the margin beneath.
            height = tab.evaluate("Math.ceil(document.getElementById('interfaces')"
                                  ".getBoundingClientRect().bottom) + 24")
            import base64
            with open(shot, "wb") as picture:
                picture.write(base64.b64decode(tab.screenshot(height)))

        # A wrong code is told on the page, and nothing is sent.
        sent = len(frames(trace))
        tab.evaluate("document.getElementById('code').focus()")
        tab.retype("70000")
        tab.wait("document.getElementById('errors').textContent.startsWith('-222 Data out of range')",
                 "the range error shown")
        check(len(frames(trace)) == sent, f"{tab.name}: nothing sent for a code out of range")

        # Another site's page posts a form to the board through this browser: refused.
        site = another_site(page)
        sent = len(frames(trace))
        tab.navigate(f"http://localhost:{site.server_address[1]}/")
        tab.wait("document.body && document.body.textContent.includes(\"is not this page's\")",
                 "the cross-site POST refused")
        check(len(frames(trace)) == sent, f"{tab.name}: nothing sent for another site's form")
        site.shutdown()
        print(f"web_page_test: {tab.name} ({tab.evaluate('navigator.userAgent')}): passed")
    finally:
        # The browser's helpers go with it: left running, they write into its profile while
        # the folder is being removed.
        os.killpg(browser.pid, signal.SIGKILL)
        browser.wait()


def main():
    # A browser's helper outside its group (Chromium's crash handler) may still be writing
    # into the profile as the folder goes: what it leaves is no failure of the page.
    with tempfile.TemporaryDirectory(prefix="kt_web_", ignore_cleanup_errors=True) as folder:
        trace = os.path.join(folder, "trace.jsonl")
        server, raw, page = serve(trace)
        try:
            plain_clients(trace, raw, page)
            if UNDER_WINE:
                print("web_page_test: the browsers' part runs against the Linux build")
                return
            for program, start in (("chromium", chromium), ("firefox-esr", firefox)):
                if not shutil.which(program):
                    print(f"web_page_test: no {program} here: its part is not run")
                    sys.exit(77)
                scpi(raw, "DAC:CODE 16;PDOW NORM")  # as the page first shows it
                in_browser(start, folder, trace, raw, page,
                           os.environ.get("KT_WEB_SCREENSHOT") if start is chromium else None)
        finally:
            stop(server, UNDER_WINE)
    print("web_page_test: all checks passed")


if __name__ == "__main__":
    main()
