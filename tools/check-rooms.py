#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Checks the source tree's shape from its #include lines:

- no room (top folder) uses another that uses it back, directly or through others: each
  cycle is named with one include line of every step;
- no source file outside tests/, fuzz/ and bench/ is over 400 lines.

Usage: check-rooms.py [SOURCE_DIR]   (default: the folder above this script's)
Exit status 0 when the tree holds, 1 with what does not on standard error."""

import re
import sys
from pathlib import Path

MAX_LINES = 400
EXEMPT_FROM_LENGTH = {"tests", "fuzz", "bench"}
SKIPPED = {"build", ".git", ".cache"}
SOURCES = {".h", ".hpp", ".cpp", ".c"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"')


def source_files(root):
    for path in sorted(root.rglob("*")):
        parts = path.relative_to(root).parts
        if len(parts) < 2 or parts[0] in SKIPPED or parts[0].startswith("."):
            continue
        if path.suffix in SOURCES and path.is_file():
            yield path, parts[0]


def cycles(edges):
    """The strongly connected parts of more than one room (Tarjan), each sorted."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []

    def visit(node):
        index[node] = low[node] = len(index)
        stack.append(node)
        on_stack.add(node)
        for to in sorted(edges.get(node, ())):
            if to not in index:
                visit(to)
                low[node] = min(low[node], low[to])
            elif to in on_stack:
                low[node] = min(low[node], index[to])
        if low[node] == index[node]:
            part = []
            while True:
                top = stack.pop()
                on_stack.discard(top)
                part.append(top)
                if top == node:
                    break
            if len(part) > 1:
                found.append(sorted(part))

    for node in sorted(edges):
        if node not in index:
            visit(node)
    return found


def main():
    root = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent)
    rooms = {p.name for p in root.iterdir() if p.is_dir() and p.name not in SKIPPED}
    edges, where, problems = {}, {}, []
    for path, room in source_files(root):
        lines = path.read_text(encoding="utf-8", errors="replace").splitlines()
        name = path.relative_to(root).as_posix()
        if room not in EXEMPT_FROM_LENGTH and len(lines) > MAX_LINES:
            problems.append(f"{name}: {len(lines)} lines, over {MAX_LINES}")
        for number, line in enumerate(lines, 1):
            match = INCLUDE.match(line)
            if not match or match.group(1) not in rooms or match.group(1) == room:
                continue
            used = match.group(1)
            edges.setdefault(room, set()).add(used)
            where.setdefault((room, used), f"{name}:{number}: {line.strip()}")
    for part in cycles(edges):
        steps = [f"  {where[(a, b)]}" for a in part for b in part
                 if (a, b) in where]
        problems.append(f"these folders use each other: {', '.join(part)}\n" + "\n".join(steps))
    for problem in problems:
        print(f"check-rooms: {problem}", file=sys.stderr)
    if not problems:
        print(f"check-rooms: {len(edges)} folders, no cycle, no file over {MAX_LINES} lines")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
