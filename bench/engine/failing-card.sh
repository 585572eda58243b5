#!/usr/bin/env bash
# Read errors at the speed of a healthy card. Prints, for a card served
# through the failing-disk FUSE fixture (30 ms per failed read):
#  1. a 256 MiB card, photos before, inside and after a 10 MiB unreadable
#     region: scan time against the same card healthy, the exit status, the
#     unreadable count, and whether every photo outside the region came out
#     byte for byte
#  2. a 1.5 GiB card with a 1 GiB unreadable region: the same figures
#  3. copy-first (photo /image) of the 256 MiB card, then `ddrescue -r1` on
#     the same image and map (the card served without the delay): its exit
#     status and the map it leaves
# Usage: bench/engine/failing-card.sh [build-dir] [work-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work=$(mktemp -d "${2:-/tmp}/failing-card-XXXXXX")
photo=$build/engine/kestrova/photo
fixture=$build/tests/carver/failing_disk
for f in "$photo" "$fixture"; do [ -x "$f" ] || { echo "failing-card: build $f first" >&2; exit 1; }; done
[ -e /dev/fuse ] || { echo "failing-card: no /dev/fuse" >&2; exit 1; }
mnt=$work/mnt
mkdir -p "$mnt"
fuse_pid=
cleanup() {
  if [ -n "$fuse_pid" ]; then fusermount3 -u "$mnt" 2>/dev/null || true; wait "$fuse_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
mib=$((1 << 20))
all=fileopt,everything,enable,search
now() { date +%s.%N; }

# Distinct photos of a few hundred KiB.
for i in $(seq 1 12); do
  convert -size 640x480 plasma: -seed "$i" -quality 92 "$work/p$i.jpg" 2>/dev/null
done

# card SIZE_MIB BAD_FROM_MIB BAD_MIB: photos 1-4 before, 5-8 inside, 9-12 after the region
card() {
  local img=$1 size=$2 from=$3 len=$4
  truncate -s $((size * mib)) "$img"
  local at i=1
  for at in $((from / 4)) $((from / 3)) $((from / 2)) $((from - 2)) \
            $((from + len / 5)) $((from + 2 * len / 5)) $((from + 3 * len / 5)) $((from + 4 * len / 5)) \
            $((from + len + 1)) $((from + len + 8)) $(((from + len + size) / 2)) $((size - 2)); do
    dd if="$work/p$i.jpg" of="$img" bs=$mib seek="$at" conv=notrunc status=none
    echo "$i $at" >>"$img.where"
    i=$((i + 1))
  done
}

mount_card() {  # IMAGE RANGES
  "$fixture" "$1" "$2" 30 "$mnt" -f 2>/dev/null &
  fuse_pid=$!
  for _ in $(seq 100); do [ -e "$mnt/disk" ] && return; sleep 0.05; done
  echo "failing-card: the FUSE file system did not come up" >&2; exit 1
}
umount_card() { fusermount3 -u "$mnt"; wait "$fuse_pid" 2>/dev/null || true; fuse_pid=; }

# scan IMAGE RANGES OUT: prints seconds, exit status, last progress line
scan() {
  mount_card "$1" "$2"
  rm -rf "$3"
  local t0 t1 st=0
  t0=$(now)
  SNAPMEND_PROGRESS_FD=9 "$photo" /d "$3" /cmd "$mnt/disk" $all 9>"$3.progress" 2>"$3.err" || st=$?
  t1=$(now)
  umount_card
  echo "$(echo "$t1 - $t0" | bc -l) $st $(tail -n1 "$3.progress")"
}

# photos_ok IMAGE OUT FROM_MIB LEN_MIB: whole photos outside the region, found / expected
photos_ok() {
  local found=0 expected=0 i at
  while read -r i at; do
    if [ "$at" -ge "$3" ] && [ "$at" -lt $(($3 + $4)) ]; then continue; fi
    expected=$((expected + 1))
    local f
    f=$(printf '%s/f%010d.jpg' "$2" $((at * mib / 512)))
    [ -f "$f" ] && cmp -s "$f" "$work/p$i.jpg" && found=$((found + 1))
  done <"$1.where"
  echo "$found/$expected"
}

report() {  # NAME IMAGE SIZE FROM LEN
  local name=$1 img=$2 from=$4 len=$5
  local ranges="$((from * mib))-$(((from + len) * mib))"
  read -r healthy hst _ < <(scan "$img" - "$work/healthy")
  read -r failing fst pos total unreadable < <(scan "$img" "$ranges" "$work/failing")
  printf '%s: healthy %.1f s (exit %s), failing %.1f s (exit %s), %+.1f s; unreadable %s bytes (region %s); photos outside whole: %s\n' \
    "$name" "$healthy" "$hst" "$failing" "$fst" "$(echo "$failing - $healthy" | bc -l)" "${unreadable:-?}" \
    $((len * mib)) "$(photos_ok "$img" "$work/failing" "$from" "$len")"
  grep -h "photo:" "$work/failing.err" | sed 's/^/  /'
}

card "$work/card256.img" 256 120 10
report "256 MiB card, 10 MiB region" "$work/card256.img" 256 120 10
card "$work/card1536.img" 1536 256 1024
report "1.5 GiB card, 1 GiB region" "$work/card1536.img" 1536 256 1024
rm -f "$work/card1536.img"

if true; then
  mount_card "$work/card256.img" "$((120 * mib))-$((130 * mib))"
  t0=$(now); st=0
  "$photo" /image "$mnt/disk" "$work/copy.img" "$work/copy.map" 2>"$work/copy.err" || st=$?
  t1=$(now)
  printf 'copy-first: %.1f s, exit %s; map:\n' "$(echo "$t1 - $t0" | bc -l)" "$st"
  sed 's/^/  /' "$work/copy.map"
  umount_card
  if command -v ddrescue >/dev/null; then
    # ddrescue retries each bad sector: served without the delay, so that it takes seconds, not minutes
    "$fixture" "$work/card256.img" "$((120 * mib))-$((130 * mib))" 0 "$mnt" -f 2>/dev/null &
    fuse_pid=$!
    for _ in $(seq 100); do [ -e "$mnt/disk" ] && break; sleep 0.05; done
    st=0
    ddrescue -r1 "$mnt/disk" "$work/copy.img" "$work/copy.map" >"$work/ddrescue.out" 2>&1 || st=$?
    printf 'ddrescue -r1 on the same image and map: exit %s; map after:\n' "$st"
    sed 's/^/  /' "$work/copy.map"
  fi
  umount_card
fi
