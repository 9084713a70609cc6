#!/usr/bin/env bash
# A small file system mounted on a folder for the tests that run the program
# there: exFAT, as on a USB stick; XFS, whose disk the tests copy at a moment
# to stand for a power cut; tmpfs, which fills up exactly and flushes for
# nothing; and its removal.
# Usage: mount_scratch.sh mount exfat|xfs|tmpfs DIR
#        mount_scratch.sh cut DIR COPY    the disk of DIR as it is now, mounted on COPY
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
    case "$kind" in
      exfat) truncate -s 160M "$image"; format=(mkfs.exfat "$image") mounter=mount.exfat-fuse ;;
      # mkfs.xfs takes no less than 300 MB; the image is sparse.
      xfs) truncate -s 320M "$image"; format=(mkfs.xfs -q -f "$image") mounter=mount ;;
    esac
    attach() {
      if [ "$kind" = tmpfs ]; then mount -t tmpfs -o size=160m tmpfs "$dir"; return; fi
      "${format[@]}" >/dev/null && device=$(losetup -f --show "$image") &&
        "$mounter" "$device" "$dir"
    }
    if attach 2>/dev/null; then
      echo "$kind" > "$dir/file-system"
      echo "$kind mounted on $dir"
    else
      echo "SKIP: cannot mount $kind on $dir here (needs root and a loop device)"
    fi
    ;;
  cut)
    copy=$3
    dir=$2 image=$2.img
    rm -rf "$copy" "$copy.img"
    mkdir -p "$copy"
    cp --sparse=always "$image" "$copy.img"
    # The copy has the same identity as the disk still mounted.
    device=$(losetup -f --show "$copy.img") && mount -o nouuid "$device" "$copy" || exit 1
    ;;
esac
exit 0
