#!/usr/bin/env bash
# Peak memory on a 2 TiB sparse card holding a FAT32 whose boot sector claims
# 4.23e9 one-sector clusters (a 17 GB FAT, nearly all free). The engine runs
# for SECONDS (default 90: the file system map is built within the first
# seconds, the scan then goes on at the speed of a sparse file), then is
# stopped; /usr/bin/time -v gives its peak resident size.
# Usage: bench/engine/large-card.sh [build-dir] [seconds]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
seconds=${2:-90}
photo=$build/engine/kestrova/photo
[ -x "$photo" ] || { echo "large-card: build the engine first ($photo missing)" >&2; exit 1; }
work=$(mktemp -d /tmp/large-card-XXXXXX)
trap 'rm -rf "$work"' EXIT
truncate -s 64M "$work/small.img"
mkfs.vfat -F 32 "$work/small.img" >/dev/null
python3 - "$work" <<'PY'
import struct, sys
w = sys.argv[1]
small = open(w + "/small.img", "rb").read(1 << 20)
boot = bytearray(small[:512])
reserved = struct.unpack_from("<H", boot, 14)[0]
total, fat = 0xFFFFFFFF, 33038300          # sectors; FAT sectors (128 entries each)
boot[13] = 1                               # one sector a cluster
struct.pack_into("<I", boot, 32, total)
struct.pack_into("<I", boot, 36, fat)
struct.pack_into("<I", boot, 44, 2)        # root folder in cluster 2
head = small[reserved * 512:reserved * 512 + 12]
with open(w + "/card.img", "wb") as f:
    f.truncate(total * 512)
    f.write(boot)
    for copy in range(2):
        f.seek((reserved + copy * fat) * 512)
        f.write(head)
print("clusters claimed: %d" % (total - reserved - 2 * fat))
PY
st=0
SNAPMEND_PROGRESS_FD=9 /usr/bin/time -v -o "$work/time" timeout -s TERM "$seconds" \
  "$photo" /d "$work/out" /cmd "$work/card.img" fileopt,everything,enable,search 9>"$work/progress" 2>/dev/null || st=$?
rss=$(awk -F': ' '/Maximum resident/ {print $2}' "$work/time")
read -r done total _ < <(tail -n1 "$work/progress")
echo "2 TiB sparse FAT32 card: peak RSS $((rss / 1024)) MiB over ${seconds} s (exit $st), $((done >> 30)) GiB of $((total >> 30)) GiB scanned"
