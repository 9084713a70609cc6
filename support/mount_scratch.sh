#!/usr/bin/env bash
# A small file system of a kind that Windows users' drives have, mounted on a
# folder for the tests that run the program there, as on a USB stick or an
# NTFS disk; and its removal.
# Usage: mount_scratch.sh mount exfat|ntfs DIR
#        mount_scratch.sh unmount DIR
# Mounting needs root and a loop device. Where it is not allowed, this says
# SKIP and the tests that need it skip too: they find no DIR/file-system.
set -uo pipefail
action=$1
dir=${*: -1}
image=$dir.img
unmount() {
  mountpoint -q "$dir" && umount "$dir"
  for device in $(losetup -j "$image" -nO NAME 2>/dev/null); do losetup -d "$device"; done
  rm -rf "$image" "$dir"
}
case "$action" in
  unmount) unmount ;;
  mount)
    kind=$2
    unmount
    mkdir -p "$dir"
    truncate -s 160M "$image"
    case "$kind" in
      exfat) format=(mkfs.exfat "$image") mounter=mount.exfat-fuse ;;
      ntfs) format=(mkntfs -F -Q "$image") mounter=ntfs-3g ;;
    esac
    if "${format[@]}" >/dev/null 2>&1 && device=$(losetup -f --show "$image" 2>/dev/null) &&
       "$mounter" "$device" "$dir" 2>/dev/null; then
      echo "$kind" > "$dir/file-system"
      echo "$kind mounted on $dir"
    else
      echo "SKIP: cannot mount $kind on $dir here (needs root and a loop device)"
    fi
    ;;
esac
exit 0
