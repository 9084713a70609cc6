#!/usr/bin/env bash
# Installs the Debian packages that a command needs, only those that are
# missing (so it needs root, or sudo, only the first time).
# Usage: tools/install_deps.sh KIND...
#   build          the native program: a compiler, CMake and Ninja
#   tests          its tests: GoogleTest, XFS tools (the power-cut test), exFAT
#                  tools (the full disk)
#   windows        the Windows program and its zip: mingw-w64, CMake, Ninja, zip
#   windows-tests  its tests: wine (32-bit where this machine runs 32-bit
#                  programs, which adds the i386 architecture to dpkg), the
#                  locales of the code-page tests, exFAT tools, GoogleTest's
#                  sources, and signing with a throwaway key on a SoftHSM token
#   fuzz           clang and libFuzzer
set -euo pipefail

packages=()
need() { dpkg -s "$1" >/dev/null 2>&1 || packages+=("$1"); }
for kind in "$@"; do
  case "$kind" in
    build) need cmake; need ninja-build; need g++ ;;
    tests) need libgtest-dev; need xfsprogs; need exfat-fuse; need exfatprogs ;;
    windows) need cmake; need ninja-build; need g++-mingw-w64-i686; need zip ;;
    windows-tests)
      need googletest; need wine64; need locales; need exfat-fuse; need exfatprogs
      need osslsigncode; need openssl; need softhsm2; need libengine-pkcs11-openssl
      if bash "$(dirname "$0")/../support/runs_32bit.sh" >/dev/null; then
        need wine32:i386
      else  # the same sources as a 64-bit program, under wine64
        need g++-mingw-w64-x86-64
      fi
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
  echo "install_deps: adding the i386 architecture to dpkg (for wine32)"
  "${sudo[@]}" dpkg --add-architecture i386
fi
echo "Installing: ${packages[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${packages[@]}"
