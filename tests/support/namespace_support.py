# SPDX-License-Identifier: MIT
"""What the tests that need a network of their own share: running the test again in a new
network and mount namespace, and checking that it starts with loopback alone."""

import os
import subprocess
import sys

SKIP = 77


def enter_namespace(name, script, arguments, marker):
    """Runs `script` again with `arguments` in a network and mount namespace of its own, the
    environment variable `marker` set to "namespace", and ends with its status; skips (77)
    where no namespace can be made (not root)."""
    probe = subprocess.run(["unshare", "--net", "--mount", "true"], capture_output=True, text=True)
    if probe.returncode != 0:
        print(f"{name}: skipped: no network namespace of our own here ("
              + probe.stderr.strip() + "); run as root", file=sys.stderr)
        sys.exit(SKIP)
    result = subprocess.run(["unshare", "--net", "--mount", "--propagation", "private",
                             sys.executable, os.path.abspath(script)] + list(arguments),
                            env=dict(os.environ, **{marker: "namespace"}))
    sys.exit(result.returncode)


def loopback_alone():
    """Checks that the namespace holds loopback alone, and brings it up."""
    links = subprocess.run(["ip", "-o", "link"], capture_output=True, text=True, check=True).stdout
    names = [line.split(":")[1].strip() for line in links.splitlines()]
    if names != ["lo"]:
        raise AssertionError("the namespace starts with loopback alone: " + links)
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
