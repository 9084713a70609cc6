#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, only when missing.
# Usage: tools/install_deps.sh [native] [windows] [fuzz]
set -euo pipefail

want=("$@")
[ ${#want[@]} -gt 0 ] || want=(native)

packages=()
need() { dpkg -s "$1" >/dev/null 2>&1 || packages+=("$1"); }
for kind in "${want[@]}"; do
  case "$kind" in
    native)
      need cmake; need ninja-build; need g++; need googletest
      # exFAT and NTFS file systems for the tests' folders, as on a USB stick
      # or a Windows disk.
      need exfat-fuse; need exfatprogs; need ntfs-3g
      # XFS, whose disk image the power-cut test copies.
      need xfsprogs
      ;;
    windows)
      need g++-mingw-w64-i686; need g++-mingw-w64-x86-64; need wine64
      # The locales whose code pages the tests run wine under.
      need locales
      # zip makes the release zip (the package target), osslsigncode signs it;
      # the signing test keeps a throwaway key on a SoftHSM token.
      need zip; need osslsigncode; need openssl; need softhsm2; need libengine-pkcs11-openssl
      # The 32-bit loader only where 32-bit programs can run at all, natively or
      # under emulation.
      if bash "$(dirname "$0")/../support/runs_32bit.sh" >/dev/null; then need wine32:i386; fi
      ;;
    fuzz) need clang; need libclang-rt-dev ;;
    *) echo "install_deps: unknown kind '$kind'" >&2; exit 2 ;;
  esac
done
[ ${#packages[@]} -gt 0 ] || exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
if printf '%s\n' "${packages[@]}" | grep -q ':i386$' &&
   ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
echo "Installing: ${packages[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${packages[@]}"
