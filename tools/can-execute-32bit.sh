#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Exits 0 when this machine executes 32-bit x86 code, 1 when it does not, 2 when the probe
# cannot be built: a minimal static 32-bit Linux program
# (exit(0) through int 0x80) is built with binutils and run. Decided by trying, never by
# guessing from the distribution or the kernel.
set -euo pipefail
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
printf '.globl _start\n_start:\n  movl $1, %%eax\n  xorl %%ebx, %%ebx\n  int $0x80\n' >"$scratch/probe.s"
if ! as --32 -o "$scratch/probe.o" "$scratch/probe.s" ||
   ! ld -m elf_i386 -o "$scratch/probe" "$scratch/probe.o"; then
  echo "can-execute-32bit: cannot assemble the probe (binutils)" >&2
  exit 2
fi
"$scratch/probe" 2>/dev/null || exit 1
