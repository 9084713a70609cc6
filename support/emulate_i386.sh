#!/usr/bin/env bash
# Runs a command in a user and mount namespace of its own, in which every
# 32-bit x86 program (itself, and each one that it starts) is run by the
# given qemu-i386: for machines whose kernel runs no 32-bit code. The handler
# is registered in the namespace's own binfmt_misc (Linux 6.7 or newer), so
# nothing changes outside it.
# Usage: emulate_i386.sh QEMU COMMAND [ARGS...]
set -euo pipefail
qemu=$1
shift
# The i386 ELF magic and mask, as binfmt_misc reads them (it decodes the \x escapes).
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
# F: the kernel opens qemu now, so it is found from any mount namespace and root.
rule=":vornhold-i386:M::$magic:$mask:$qemu:F"
exec unshare --user --map-root-user --mount sh -c '
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc &&
  printf "%s" "$0" >/proc/sys/fs/binfmt_misc/register &&
  exec "$@"' "$rule" "$@"
