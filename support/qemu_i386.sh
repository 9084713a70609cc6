#!/usr/bin/env bash
# Prints the path of a qemu-i386 of QEMU 8.1 or newer (older ones misplace
# wine's address-space reservations): the one installed, if it is recent
# enough, else one fetched once into build/qemu. Fetching installs nothing: a
# private apt configuration takes the machine's own Debian mirror, with the
# release and its backports, and apt checks the package against the signed
# release files as always; only qemu-i386 is kept from it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cache=$root/build/qemu

recent() {
  local major minor
  read -r major minor < <("$1" --version 2>/dev/null |
    sed -n '1s/.*version \([0-9]*\)\.\([0-9]*\).*/\1 \2/p') || return 1
  [ -n "$major" ] && { [ "$major" -gt 8 ] || { [ "$major" -eq 8 ] && [ "$minor" -ge 1 ]; }; }
}

for qemu in "$(command -v qemu-i386 || true)" "$(command -v qemu-i386-static || true)" \
            "$cache/usr/bin/qemu-i386"; do
  if [ -n "$qemu" ] && [ -x "$qemu" ] && recent "$qemu"; then echo "$qemu"; exit 0; fi
done

. /etc/os-release
release=${VERSION_CODENAME:?no release codename in /etc/os-release}
mirror=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' |
  awk -v release="$release" '$2 == release { print $1; exit }')
if [ -z "$mirror" ]; then
  echo "qemu_i386: apt has no Debian mirror for $release" >&2
  exit 1
fi
apt=$cache/apt
rm -rf "$apt"
mkdir -p "$apt/parts" "$apt/lists/partial" "$apt/cache" "$apt/get"
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
printf 'deb [signed-by=%s] %s %s main\n' "$keyring" "$mirror" "$release" \
  "$keyring" "$mirror" "$release-backports" >"$apt/sources.list"
architecture=$(dpkg --print-architecture)
options=(-o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/parts"
         -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache"
         -o "APT::Architecture=$architecture" -o "APT::Architectures=$architecture"
         -o APT::Sandbox::User="$(id -un)" -o Debug::NoLocking=1)
echo "qemu_i386: fetching qemu-user from $mirror ($release-backports, else $release)" >&2
apt-get "${options[@]}" -qq update >&2
(cd "$apt/get" &&
  { apt-get "${options[@]}" -qq download "qemu-user/$release-backports" 2>/dev/null ||
    apt-get "${options[@]}" -qq download qemu-user; } >&2)
dpkg-deb --fsys-tarfile "$apt"/get/qemu-user_*.deb | tar -x -C "$cache" ./usr/bin/qemu-i386
rm -rf "$apt"
qemu=$cache/usr/bin/qemu-i386
if ! recent "$qemu"; then
  echo "qemu_i386: the newest qemu-user here is older than 8.1: $("$qemu" --version | head -1)" >&2
  exit 1
fi
echo "$qemu"
