# SPDX-License-Identifier: MIT
"""What the tests that drive `ktdac serve` over loopback share: the server started on a free
port with the simulated board's trace, stopped as its platform allows, and the frames the
board received."""

import json
import os
import signal
import subprocess


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def frames(trace):
    """The (value, index) of every frame the board received."""
    if not os.path.exists(trace):
        return []
    with open(trace, encoding="utf-8") as lines:
        records = [json.loads(line) for line in lines]
    return [(r["value"], r["index"]) for r in records
            if r["entry"] in ("Control_Transfer", "LinkControl")]


def start(ktdac, trace, under_wine):
    """`ktdac serve` on 127.0.0.1 and a free port: the process and the port."""
    server = subprocess.Popen(ktdac + ["serve", "--listen", "127.0.0.1:0"],
                              env=dict(os.environ, KT_SIM_TRACE=trace), stderr=subprocess.PIPE,
                              text=True)
    line = server.stderr.readline()
    while under_wine and line and not line.startswith("ktdac:"):
        line = server.stderr.readline()  # Wine's own notes
    check(line.startswith("ktdac: serving SCPI on 127.0.0.1:"), "announced: " + line)
    return server, int(line.strip().rsplit(":", 1)[1])


def stop(server, under_wine):
    """SIGTERM, which must end the server cleanly; under Wine, which has none, a kill."""
    if under_wine:
        server.kill()
    else:
        server.send_signal(signal.SIGTERM)
    status = server.wait(timeout=30)
    check(under_wine or status == 0, f"SIGTERM ends the server cleanly (status {status})")
