#!/usr/bin/env bash
# Makes a demo card: a small disk image holding photos (and a document) that were deleted,
# attached to a loop device and mounted, so that a scan has something to find.
#
# Usage (as root):
#   bash scripts/make-demo-card.sh [DIR]            make the card below DIR (default /tmp/snapmend-demo)
#   bash scripts/make-demo-card.sh --remove [DIR]   unmount and detach it, delete DIR
#
# The card is FAT32 when this kernel can mount vfat, ext4 (1 KiB blocks)
# otherwise. DIR/originals keeps a copy of every file to compare the
# recovered files with. The last lines printed are key=value pairs (mount,
# device, fs, deleted) for scripts. Exit status 77: loop devices or mounting
# are not available here (the reason is on stderr).
set -euo pipefail

remove=0
if [ "${1:-}" = "--remove" ]; then
  remove=1
  shift
fi
dir=$(realpath -m "${1:-/tmp/snapmend-demo}")
image="$dir/card.img"
mnt="$dir/card"

detach() {
  if mountpoint -q "$mnt" 2>/dev/null; then
    umount "$mnt" 2>/dev/null || umount -l "$mnt"
  fi
  if [ -f "$image" ]; then
    losetup -j "$image" -O NAME --noheadings 2>/dev/null | while read -r dev; do
      [ -n "$dev" ] && losetup -d "$dev" || true
    done
  fi
}

if [ "$remove" = 1 ]; then
  detach
  rm -rf "$dir"
  exit 0
fi

unavailable() {
  echo "make-demo-card: $*" >&2
  detach
  exit 77
}

[ "$(id -u)" -eq 0 ] || unavailable "needs root to attach a loop device and mount it"
for tool in losetup mount mkfs.ext4 convert; do
  command -v "$tool" >/dev/null || unavailable "$tool is missing (bash scripts/install-deps.sh)"
done
if [ -e "$dir" ]; then
  echo "make-demo-card: $dir exists; remove it first: bash $0 --remove $dir" >&2
  exit 1
fi
mkdir -p "$mnt" "$dir/originals"

# 64 MiB: room for the file system, small enough to scan in a moment.
truncate -s 64M "$image"
dev=$(losetup -f --show "$image" 2>/dev/null) || unavailable "losetup cannot attach $image (no loop devices?)"

fs=""
if command -v mkfs.vfat >/dev/null && mkfs.vfat -F 32 -s 1 -n DEMOCARD "$dev" >/dev/null 2>&1 &&
   mount -t vfat "$dev" "$mnt" 2>"$dir/vfat-mount.err"; then
  fs=FAT32
else
  echo "make-demo-card: this kernel cannot mount vfat ($(tr '\n' ' ' < "$dir/vfat-mount.err" 2>/dev/null)); using ext4" >&2
  mkfs.ext4 -q -F -b 1024 -L DEMOCARD "$dev" >/dev/null
  mount -t ext4 "$dev" "$mnt" 2>"$dir/mount.err" ||
    unavailable "cannot mount $dev: $(cat "$dir/mount.err")"
  fs=ext4
fi
rm -f "$dir/vfat-mount.err" "$dir/mount.err"

# Photos in every format the engine carves, made up by ImageMagick.
o="$dir/originals"
convert -size 640x480 -seed 11 plasma:sienna-skyblue -blur 0x1 -quality 90 "$o/beach.jpg"
convert -size 800x600 -seed 12 plasma:green-yellow -quality 85 "$o/meadow.jpg"
convert -size 480x640 -seed 13 plasma:navy-orange -quality 92 "$o/sunset.jpg"
convert -size 320x240 -seed 14 plasma:purple-white "$o/clouds.png"
convert -size 200x150 -seed 15 plasma:red-gold "$o/leaves.gif"
convert -size 160x120 -seed 16 plasma:teal-pink BMP3:"$o/tiles.bmp"
convert -size 240x180 -seed 17 plasma:olive-cyan -compress none "$o/scan.tif"
convert -size 640x480 -seed 18 plasma:gray-blue -quality 90 "$o/kept.jpg"
# And a document, listed with the other files once the engine carves its type.
if command -v gs >/dev/null; then
  gs -q -sDEVICE=pdfwrite -o "$o/letter.pdf" \
    -c "/Helvetica findfont 20 scalefont setfont 72 720 moveto (A letter worth keeping) show showpage"
fi

cp "$o"/* "$mnt/"
sync
# Every file but one is deleted; the data stays in the freed blocks.
deleted=0
for f in "$o"/*; do
  name=$(basename "$f")
  [ "$name" = kept.jpg ] && continue
  rm "$mnt/$name"
  deleted=$((deleted + 1))
done
sync
# Remount, so that nothing of the card lives only in the page cache.
umount "$mnt"
mount -t "$( [ "$fs" = FAT32 ] && echo vfat || echo ext4 )" "$dev" "$mnt"

echo "Demo card ($fs) on $dev, mounted at $mnt: $deleted files deleted, kept.jpg still there."
echo "Start Snapmend (bash scripts/run.sh), choose $mnt, press Start, then Recover."
echo "Originals to compare with: $o    Remove the card: bash $0 --remove $dir"
echo "mount=$mnt"
echo "device=$dev"
echo "fs=$fs"
echo "deleted=$deleted"
