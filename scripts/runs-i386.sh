#!/usr/bin/env bash
# Exit status 0 when this machine's kernel runs 32-bit x86 programs, as
# 32-bit Wine needs; non-zero when it does not (a kernel without IA-32 emulation,
# or a hypervisor that gives none). Runs the smallest such program there is,
# written here: an ELF header, one segment, and exit(0).
set -u
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
{
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'  # 32-bit, little-endian
  printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08'           # executable, i386, entry
  printf '\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00'           # program headers at 52
  printf '\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'           # one of 32 bytes
  printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'  # load all at 0x08048000
  printf '\x5b\x00\x00\x00\x5b\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'  # 91 bytes, read and execute
  printf '\x31\xdb\x31\xc0\x40\xcd\x80'                                # exit(0)
} >"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
