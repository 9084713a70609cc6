#!/usr/bin/env bash
# Tells how this machine runs 32-bit x86 programs, found out by trying: some
# kernels are built or booted without 32-bit support, whatever the
# distribution has installed. Prints "native"; or "emulated QEMU" when they
# run only under that qemu-i386, in a user namespace of their own (see
# support/emulate_i386.sh); or "none", and then fails. VORNHOLD_32BIT=emulated
# skips the native try, to test the emulation where both work.
# The program tried is a 96-byte static ELF made here that only exits with
# status 42.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
{
  # ELF header: 32-bit, little-endian, executable, i386, entry 0x08048054.
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
  printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
  printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'
  # One loadable segment: the whole file at 0x08048000, readable and executable.
  printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
  printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
  # mov eax, 1 (exit); mov ebx, 42; int 0x80
  printf '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'
} >"$probe"
chmod +x "$probe"
exits42() {
  local status=0
  "$@" 2>/dev/null || status=$?
  [ "$status" -eq 42 ]
}
if [ "${VORNHOLD_32BIT:-}" != emulated ] && exits42 "$probe"; then
  echo native
elif qemu=$(bash "$root/support/qemu_i386.sh") &&
     exits42 bash "$root/support/emulate_i386.sh" "$qemu" "$probe"; then
  echo "emulated $qemu"
else
  echo none
  exit 1
fi
