#!/usr/bin/env bash
# A scan broken off and continued. Builds a 64 GiB card (sparse; served
# read-only through a loop device when one can be had, else the file): the
# camera card of bench_cards (FAT32, fragmented deleted photos) at its start
# when that is built, and a few hundred photos spread over the rest. Then
#  (a) one scan run through: its time, bytes read, and the sha256 of every file
#      (and its time once more at the end: the first scan of a fresh card is slower)
#  (b) the same scan killed with SIGKILL at about 60 % of the card, then run
#      again with SNAPMEND_RESUME=1: each run's time, the bytes both read
# and prints the bytes of (b) against (a) (target: at most 105 %), whether the
# files (names and contents) and the reports are the same, and the counts.
# Bytes read: through a loop device, the blocks the kernel read for the
# scan (getrusage, as /proc/PID/io read_bytes counts them); from a plain
# sparse file, rchar of /proc/PID/io, sampled while it runs.
# Usage: bench/engine/resume-card.sh BUILD_DIR [WORK_DIR] [PHOTOS]  (CARD_GIB=64: the card size)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
photo=$build/engine/kestrova/photo
cards=$build/bench/engine/bench_cards
count=${3:-300}
[ -x "$photo" ] || { echo "resume-card: build $photo first" >&2; exit 1; }
command -v convert >/dev/null || { echo "resume-card: ImageMagick's convert is needed" >&2; exit 1; }
work=$(mktemp -d "${2:-/var/tmp}/resume-card-XXXXXX")
loop=
cleanup() {
  if [ -n "$loop" ]; then losetup -d "$loop" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
gib=$((1 << 30))
size=$((${CARD_GIB:-64} * gib))
all=fileopt,everything,enable,search
now() { date +%s.%N; }

img=$work/card.img
truncate -s "$size" "$img"
start=$((1 << 30))  # past the FAT32 card
if [ -x "$cards" ] && "$cards" "$photo" --keep="$work/cards" >/dev/null 2>&1 && [ -f "$work/cards/0.img" ]; then
  dd if="$work/cards/0.img" of="$img" bs=1M conv=notrunc,sparse status=none
  echo "card: the FAT32 camera card of bench_cards at its start ($(($(stat -c %s "$work/cards/0.img") >> 20)) MiB)"
else
  echo "card: no FAT32 volume (bench_cards not built or a tool missing)"
fi
rm -rf "$work/cards"

# Distinct photos, each at a 4 KiB boundary somewhere in its own stretch of the card.
mkdir "$work/photos"
seq 1 "$count" | xargs -P 2 -I{} convert -size 800x600 -seed {} plasma: -quality 92 "$work/photos/p{}.jpg" 2>/dev/null
stride=$(((size - start) / count / 4096 * 4096))
for i in $(seq 1 "$count"); do
  at=$((start + (i - 1) * stride + (i * 7919 % 1000) * (stride / 1000 / 4096) * 4096))
  dd if="$work/photos/p$i.jpg" of="$img" bs=64K seek="$at" oflag=seek_bytes conv=notrunc status=none
done
echo "card: $((size / gib)) GiB, $count photos spread over it"
sync  # the card's pages written back before the first scan, not during it

dev=$img
if command -v losetup >/dev/null && loop=$(losetup -f --show -r "$img" 2>/dev/null); then dev=$loop; else loop=; fi
echo "device: $dev"
field=read_bytes
[ -n "$loop" ] || field=rchar

# The bytes a process read: sampled from /proc/PID/io (rchar) while it runs.
io_bytes() { awk '$1 == "rchar:" { print $2 }' "/proc/$1/io" 2>/dev/null || true; }

# run OUT [KILL_AT] [RESUME]: prints seconds, bytes read and the exit status;
# with KILL_AT, SIGKILL once the scan's progress passes that fraction.
run() {
  local out=$1 kill_at=${2:-} t0 t1 tpid pid= bytes=0 b st=0 at
  t0=$(now)
  SNAPMEND_RESUME=${3:-0} SNAPMEND_PROGRESS_FD=9 /usr/bin/time -f "%I" -o "$out.time" \
    "$photo" /d "$out" /cmd "$dev" $all 9>"$out.progress" 2>"$out.err" &
  tpid=$!
  while kill -0 "$tpid" 2>/dev/null; do
    [ -n "$pid" ] || pid=$(pgrep -P "$tpid" || true)
    if [ -n "$pid" ]; then b=$(io_bytes "$pid"); [ -n "$b" ] && [ "$b" -gt "$bytes" ] && bytes=$b; fi
    if [ -n "$kill_at" ] && [ -n "$pid" ]; then
      at=$(tail -n1 "$out.progress" 2>/dev/null | awk '$1 ~ /^[0-9]+$/ && $2 > 0 { print $1 / $2 }')
      if [ -n "$at" ] && awk -v a="$at" -v k="$kill_at" 'BEGIN { exit !(a >= k) }'; then
        kill -9 "$pid"
        break
      fi
    fi
    sleep 0.05
  done
  wait "$tpid" || st=$?
  t1=$(now)
  # A loop device: the blocks read as the kernel counted them (every thread, to the end).
  if [ "$field" = read_bytes ]; then bytes=$(($(grep -Eo '^[0-9]+' "$out.time" | tail -n1) * 512)); fi
  [ -n "$kill_at" ] && st=killed
  echo "$(echo "$t1 - $t0" | bc -l) $bytes $st"
}

hashes() { (cd "$1" && find . -path ./.snapmend -prune -o -type f -print0 | sort -z | xargs -0 -r sha256sum); }

read -r t_whole b_whole st_whole < <(run "$work/whole")
read -r t_killed b_killed st_killed < <(run "$work/out" 0.6)
killed_at=$(tail -n1 "$work/out.progress" | awk '{ printf "%.1f", 100 * $1 / $2 }')
read -r t_resumed b_resumed st_resumed < <(run "$work/out" "" 1)
# The first scan of a card just built runs slower (caches settling): once more, to compare times.
read -r t_again _ _ < <(run "$work/again")

hashes "$work/whole" >"$work/whole.sha256"
hashes "$work/out" >"$work/out.sha256"
n_whole=$(wc -l <"$work/whole.sha256")
n_out=$(wc -l <"$work/out.sha256")
found=0
for i in $(seq 1 "$count"); do
  grep -q "^$(sha256sum <"$work/photos/p$i.jpg" | cut -d' ' -f1) " "$work/whole.sha256" && found=$((found + 1))
done
same_files=no; cmp -s "$work/whole.sha256" "$work/out.sha256" && same_files=yes
same_report=no; cmp -s "$work/whole/.snapmend/report.xml" "$work/out/.snapmend/report.xml" && same_report=yes

printf 'run through:  %6.1f s  %6.2f GiB read  exit %s  %s files (%s of the %s spread photos)\n' \
  "$t_whole" "$(echo "$b_whole / $gib" | bc -l)" "$st_whole" "$n_whole" "$found" "$count"
printf 'run through again: %.1f s\n' "$t_again"
printf 'killed:       %6.1f s  %6.2f GiB read  exit %s  at %s %% of the card\n' \
  "$t_killed" "$(echo "$b_killed / $gib" | bc -l)" "$st_killed" "$killed_at"
printf 'resumed:      %6.1f s  %6.2f GiB read  exit %s  %s files\n' \
  "$t_resumed" "$(echo "$b_resumed / $gib" | bc -l)" "$st_resumed" "$n_out"
printf 'read by both: %.1f %% of one run through (target at most 105 %%)\n' \
  "$(echo "100 * ($b_killed + $b_resumed) / $b_whole" | bc -l)"
echo "same files (names and sha256): $same_files; same report: $same_report"
grep -h "photo:" "$work/out.err" || true
