#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""tools/apt-install.sh, the installer under tools/install-deps.sh, against a registry of the
test's own: a file: repository of two suites, "good" (an amd64 and an i386 probe package) and
"broken" (an i386 probe whose index does not match its Release file, as a mirror in the middle
of a sync serves it). apt and dpkg run for real, pointed at the test's sources list, lists,
cache, logs and dpkg database (DPKG_ADMINDIR), never at the machine's own; the probes hold no
files. Needs root, as installing does; skipped (77) without it."""

import hashlib
import os
import subprocess
import sys
import tempfile
from pathlib import Path

TOOLS = Path(__file__).resolve().parents[2] / "tools"
if os.geteuid() != 0:
    print("skipped: installing needs root")
    sys.exit(77)


def make_registry(top: Path) -> None:
    """Two suites in top/repo; the broken suite's i386 index is changed after its Release."""
    pool = top / "repo/pool"
    pool.mkdir(parents=True)
    indexes = {}
    for name, arch, suite in [("kt-probe", "amd64", "good"), ("kt-probe32", "i386", "good"),
                              ("kt-probe32-broken", "i386", "broken")]:
        control = top / "pkg/DEBIAN/control"
        control.parent.mkdir(parents=True, exist_ok=True)
        control.write_text(f"Package: {name}\nVersion: 1.0\nArchitecture: {arch}\n"
                           "Maintainer: Test <test@example.com>\nDescription: probe\n")
        deb = pool / f"{name}_1.0_{arch}.deb"
        subprocess.run(["dpkg-deb", "-b", top / "pkg", deb], check=True, capture_output=True)
        data = deb.read_bytes()
        indexes.setdefault((suite, arch), "")
        indexes[(suite, arch)] += (
            f"Package: {name}\nVersion: 1.0\nArchitecture: {arch}\n"
            f"Maintainer: Test <test@example.com>\nFilename: pool/{deb.name}\n"
            f"Size: {len(data)}\nSHA256: {hashlib.sha256(data).hexdigest()}\n"
            "Description: probe\n\n")
    for suite in ["good", "broken"]:
        lines = []
        for arch in ["amd64", "i386"]:
            index = f"main/binary-{arch}/Packages"
            path = top / "repo/dists" / suite / index
            path.parent.mkdir(parents=True)
            text = indexes.get((suite, arch), "").encode()
            path.write_bytes(text)
            lines.append(f" {hashlib.sha256(text).hexdigest()} {len(text)} {index}")
        (top / "repo/dists" / suite / "Release").write_text(
            f"Suite: {suite}\nDate: Wed, 09 Dec 2026 16:00:00 UTC\n"
            "Architectures: amd64 i386\nComponents: main\nSHA256:\n" + "\n".join(lines) + "\n")
    with open(top / "repo/dists/broken/main/binary-i386/Packages", "a") as index:
        index.write("Description: changed after its Release file\n")


# name, foreign architectures before, packages asked, exit status, installed after,
# foreign architectures after, what the report must say
CASES = [
    ("amd64 past a broken i386 index", ["i386"], ["kt-probe"], 0, ["kt-probe"], ["i386"],
     ["try 1 of 2", "broken/main/binary-i386/Packages", "Hash Sum mismatch"]),
    ("i386 from a good index", [], ["kt-probe32:i386"], 0, ["kt-probe32"], ["i386"], []),
    ("i386 only in a broken index", [], ["kt-probe32-broken:i386"], 1, [], [],
     ["cannot install kt-probe32-broken:i386", "Unable to locate",
      "took back the i386 architecture", "not installed: kt-probe32-broken:i386"]),
    ("the others installed beside one that cannot be", [],
     ["kt-probe", "no-such-package", "kt-probe32-broken:i386"], 1, ["kt-probe"], [],
     ["not installed: no-such-package kt-probe32-broken:i386"]),
    ("an architecture that was there is kept", ["i386"], ["kt-probe32-broken:i386"], 1, [],
     ["i386"], ["not installed: kt-probe32-broken:i386"]),
]

failures = []
with tempfile.TemporaryDirectory() as scratch:
    top = Path(scratch)
    make_registry(top)
    (top / "parts").mkdir()
    (top / "sources.list").write_text(
        "".join(f"deb [trusted=yes] file:{top}/repo {suite} main\n" for suite in ["good", "broken"]))
    for name, foreign, packages, status, installed, foreign_after, said in CASES:
        run = top / name.replace(" ", "-")
        admin = run / "dpkg"
        for folder in [admin / "info", admin / "updates", run / "state", run / "cache", run / "log"]:
            folder.mkdir(parents=True)
        (admin / "status").touch()
        env = dict(os.environ, DPKG_ADMINDIR=str(admin), KT_APT_TRIES="2", KT_APT_PAUSE="0")
        for arch in foreign:
            subprocess.run(["dpkg", "--add-architecture", arch], env=env, check=True)
        options = [f"Dir::Etc::SourceList={top}/sources.list", f"Dir::Etc::SourceParts={top}/parts",
                   f"Dir::Etc::Preferences={top}/none", f"Dir::Etc::PreferencesParts={top}/parts",
                   f"Dir::State={run}/state", f"Dir::State::status={admin}/status",
                   f"Dir::Cache={run}/cache", f"Dir::Log={run}/log",
                   f"DPkg::Options::=--log={run}/log/dpkg.log"]
        result = subprocess.run([TOOLS / "apt-install.sh", *[a for o in options for a in ("-o", o)],
                                 *packages], env=env, capture_output=True, text=True)
        got = subprocess.run(["dpkg-query", "-W", "-f=${Package} ${Status}\n"], env=env,
                             capture_output=True, text=True).stdout
        got_installed = sorted(line.split()[0] for line in got.splitlines()
                               if line.endswith("install ok installed"))
        got_foreign = subprocess.run(["dpkg", "--print-foreign-architectures"], env=env,
                                     capture_output=True, text=True, check=True).stdout.split()
        problems = []
        if result.returncode != status:
            problems.append(f"exit status {result.returncode}, not {status}")
        if got_installed != sorted(installed):
            problems.append(f"installed {got_installed}, not {sorted(installed)}")
        if got_foreign != foreign_after:
            problems.append(f"foreign architectures {got_foreign}, not {foreign_after}")
        problems += [f"the report does not say '{text}'" for text in said
                     if text not in result.stderr]
        if problems:
            failures.append(f"{name}: " + "; ".join(problems) + "\n" + result.stderr)

for failure in failures:
    print("FAIL", failure)
print(f"{len(CASES) - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
