#!/usr/bin/env bash
# Engine benchmark. Prints:
#  1. scan speed on an image with no carvable content vs `cat IMAGE > /dev/null`
#  2. time on an image full of photos vs foremost (normal and 512-byte quick mode)
#  3. peak memory (max RSS) on a 4 GiB sparse image holding a few photos
#  4. peak memory on a 256 GiB sparse image holding a FAT32 file system
#  5. the same with an NTFS file system (written through ntfs-3g; skipped without it)
# Usage: bench/engine/run-bench.sh [build-dir] [work-dir]
# Images are cached in the work dir (default /tmp/snapmend-bench) and warmed
# into the page cache, so device speed does not decide the comparison.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work=${2:-/tmp/snapmend-bench}
photo=$build/engine/kestrova/photo
[ -x "$photo" ] || { echo "run-bench: build the engine first ($photo missing)" >&2; exit 1; }
mkdir -p "$work"
cd "$work"

all=fileopt,everything,enable,search
# the photo keys alone, for comparison with every format enabled
photos=fileopt,everything,disable,jpg,enable,gif,enable,png,enable,bmp,enable,tif,enable,search
now() { date +%s.%N; }
# best of 5 wall-clock seconds for a shell command
best() {
  local b=999999 t0 t1 d
  for _ in 1 2 3 4 5; do
    t0=$(now); eval "$1" >/dev/null 2>&1 || { echo "run-bench: failed: $1" >&2; exit 1; }; t1=$(now)
    d=$(echo "$t1 - $t0" | bc -l)
    b=$(echo "if ($d < $b) $d else $b" | bc -l)
  done
  printf '%.3f' "$b"
}
mbps() { echo "scale=0; $1 / 1048576 / $2" | bc -l; }

# 1. No carvable content: 1 GiB of random data.
if [ ! -f empty.img ]; then
  echo "making empty.img (1 GiB random)..."
  head -c 1073741824 /dev/urandom > empty.img
fi
size=$(stat -c %s empty.img)
cat empty.img > /dev/null
t_cat=$(best "cat empty.img > /dev/null")
t_photo=$(best "rm -rf out1 && '$photo' /d out1 /cmd empty.img $all")
n_all=$(ls out1 | wc -l)
t_only=$(best "rm -rf out1 && '$photo' /d out1 /cmd empty.img $photos")
echo "no-content image: $((size >> 20)) MiB"
echo "  cat:                  ${t_cat}s  $(mbps "$size" "$t_cat") MB/s"
echo "  photo, every format:  ${t_photo}s  $(mbps "$size" "$t_photo") MB/s  ($(echo "scale=0; 100 * $t_cat / $t_photo" | bc -l)% of cat's speed)  $n_all files"
echo "  photo, photo keys:    ${t_only}s  $(mbps "$size" "$t_only") MB/s  ($(echo "scale=0; 100 * $t_cat / $t_only" | bc -l)% of cat's speed)  $(ls out1 | wc -l) files"

# 2. Image full of photos: about 600 MiB of JPEG, PNG, GIF, BMP at sector starts.
if [ ! -f photos.img ]; then
  echo "making photos.img..."
  mkdir -p src
  i=0
  for geo in 640x480 1024x768 1600x1200 2048x1536 3000x2000; do
    for seed in 1 2; do
      convert -size $geo plasma: -seed $seed -quality 88 src/p$i.jpg; i=$((i + 1))
    done
    convert -size $geo plasma: -seed 3 -interlace JPEG src/p$i.jpg; i=$((i + 1))
  done
  convert -size 800x600 plasma: src/a.png
  convert -size 1200x900 plasma: src/b.png
  convert -size 400x300 plasma: src/c.gif
  convert -size 640x480 plasma: src/d.bmp
  : > photos.img
  while [ "$(stat -c %s photos.img)" -lt $((600 << 20)) ]; do
    for f in src/*; do
      cat "$f" >> photos.img
      pad=$(( (512 - $(stat -c %s photos.img) % 512) % 512 ))
      head -c "$pad" /dev/zero >> photos.img
    done
  done
fi
size=$(stat -c %s photos.img)
cat photos.img > /dev/null
t_photo=$(best "rm -rf out2 && '$photo' /d out2 /cmd photos.img $all")
n_photo=$(ls out2 | wc -l)
t_only=$(best "rm -rf out2 && '$photo' /d out2 /cmd photos.img $photos")
n_only=$(ls out2 | wc -l)
t_fm=$(best "rm -rf fm && foremost -Q -t jpg,png,gif,bmp -i photos.img -o fm")
n_fm=$(find fm -type f ! -name audit.txt | wc -l)
t_fmq=$(best "rm -rf fmq && foremost -Q -q -t jpg,png,gif,bmp -i photos.img -o fmq")
n_fmq=$(find fmq -type f ! -name audit.txt | wc -l)
echo "photo-filled image: $((size >> 20)) MiB, $(ls src | wc -l) distinct photos repeated"
echo "  photo, every format: ${t_photo}s  $(mbps "$size" "$t_photo") MB/s  $n_photo files"
echo "  photo, photo keys:   ${t_only}s  $(mbps "$size" "$t_only") MB/s  $n_only files"
echo "  foremost:      ${t_fm}s  $(mbps "$size" "$t_fm") MB/s  $n_fm files"
echo "  foremost -q:   ${t_fmq}s  $(mbps "$size" "$t_fmq") MB/s  $n_fmq files"
rm -rf out2 fm fmq

# 3. Peak memory on a 4 GiB sparse image with photos spread over it.
if [ ! -f big.img ]; then
  truncate -s 4G big.img
  big=$(ls -S src/*.jpg | head -1)
  for off in 1 700 1500 2900 4000; do
    dd if="$big" of=big.img bs=1M seek="$off" conv=notrunc status=none
  done
  # and a 72 MB TIFF, larger than the engine's in-memory window
  convert -size 6000x4000 gradient:navy-orange -depth 8 -define tiff:endian=lsb src-big.tif
  dd if=src-big.tif of=big.img bs=1M seek=2000 conv=notrunc status=none
fi
cat big.img > /dev/null
t_cat=$(best "cat big.img > /dev/null")
rm -rf out3
t0=$(now)
rss=$( { /usr/bin/time -f '%M' "$photo" /d out3 /cmd big.img $all; } 2>&1 | tail -1)
t1=$(now)
echo "4 GiB sparse image: peak RSS $((rss / 1024)) MiB, $(printf '%.2f' "$(echo "$t1 - $t0" | bc -l)")s (cat: ${t_cat}s), $(ls out3 | wc -l) files"
rm -rf out1 out3

# 4. Peak memory on a 256 GiB sparse image holding a FAT32 file system (its
# allocation map and folders are read before the scan) with deleted photos.
if [ ! -f fat256.img ]; then
  truncate -s 256G fat256.img
  mkfs.vfat -F 32 fat256.img > /dev/null
  mmd -i fat256.img ::/DCIM
  mcopy -i fat256.img src/*.jpg src/*.png ::/DCIM/
  mdel -i fat256.img '::/DCIM/p1*.jpg' ::/DCIM/a.png
fi
rm -rf out4
t0=$(now)
rss=$( { /usr/bin/time -f '%M' "$photo" /d out4 /cmd fat256.img $photos; } 2>&1 | tail -1)
t1=$(now)
echo "256 GiB sparse FAT32 image: peak RSS $((rss / 1024)) MiB, $(printf '%.1f' "$(echo "$t1 - $t0" | bc -l)")s, $(find out4 -type f | wc -l) files"
rm -rf out4

# 5. The same with NTFS: its cluster bitmap (8 MiB here) and MFT are read
# before the scan. Written through the FUSE driver; skipped without it.
if command -v mkntfs >/dev/null && command -v ntfs-3g >/dev/null && [ -w /dev/fuse ]; then
  if [ ! -f ntfs256.img ]; then
    truncate -s 256G ntfs256.img
    mkntfs -q -F -Q ntfs256.img 2>/dev/null
    mkdir -p mnt5
    ntfs-3g ntfs256.img mnt5
    mkdir mnt5/DCIM && cp src/*.jpg src/*.png mnt5/DCIM/ && sync
    rm mnt5/DCIM/p1*.jpg mnt5/DCIM/a.png
    umount mnt5
  fi
  rm -rf out5
  t0=$(now)
  rss=$( { /usr/bin/time -f '%M' "$photo" /d out5 /cmd ntfs256.img $photos; } 2>&1 | tail -1)
  t1=$(now)
  echo "256 GiB sparse NTFS image: peak RSS $((rss / 1024)) MiB, $(printf '%.1f' "$(echo "$t1 - $t0" | bc -l)")s, $(find out5 -type f | wc -l) files, $(find out5 -type f -path '*/DCIM/*' | wc -l) under their names"
  rm -rf out5
fi
