#!/usr/bin/env bash
# Scans the disk that holds the running system, from the window, in a virtual
# machine: the guest's root file system is on /dev/vda, the output folder on
# a loop disk in the guest's memory. Prints the system disk's write counters
# for the same span idle and scanning (the window test's own figures).
#
# Builds a Debian 12 guest with debootstrap (cached in $SNAPMEND_VM_DIR,
# default BUILD_DIR/vm: never a shared folder, as this runs as root), shares
# the build folder with it read-only over 9p, and runs the window test there under software
# emulation. Needs root, debootstrap and qemu-system-x86 (installed here when
# missing), and the Debian mirror.
# Usage: tests/vm/system-disk.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
vm=${SNAPMEND_VM_DIR:-$build/vm}
test_bin=$build/tests/mainwindow/scan_lifecycle_test
skip() { echo "system-disk: SKIPPED: $*"; exit 0; }
[ -x "$test_bin" ] || { echo "system-disk: build $test_bin first" >&2; exit 1; }
[ "$(id -u)" = 0 ] || skip "making the guest's disk needs root"
command -v qemu-system-x86_64 >/dev/null && command -v debootstrap >/dev/null ||
  apt-get install -y qemu-system-x86 debootstrap >/dev/null || skip "qemu-system-x86 and debootstrap cannot be installed"

# What the window, the engine and the test load, as Debian packages.
runtime_packages() {
  for b in "$test_bin" "$build/engine/kestrova/photo" "$build/snapmend"; do ldd "$b"; done |
    awk '/=>/ {print $3}' | sort -u | xargs -r -n1 readlink -f | xargs -r dpkg -S 2>/dev/null |
    cut -d: -f1 | sort -u | paste -sd,
}

mkdir -p "$vm"
img=$vm/root.img
mnt=$(mktemp -d)
trap 'umount -R "$mnt" 2>/dev/null || true; rmdir "$mnt"' EXIT
if [ ! -s "$vm/ready" ]; then
  rm -f "$img" && truncate -s 6G "$img" && mkfs.ext4 -q -F "$img"
  mount -o loop "$img" "$mnt" || skip "no loop device for the guest's disk"
  debootstrap --variant=minbase \
    --include=linux-image-amd64,initramfs-tools,kmod,util-linux,mount,e2fsprogs,dosfstools,procps,"$(runtime_packages)" \
    bookworm "$mnt" http://deb.debian.org/debian >"$vm/debootstrap.log" ||
    skip "debootstrap failed (no Debian mirror?), see $vm/debootstrap.log"
  cp "$mnt"/boot/vmlinuz-* "$vm/vmlinuz" && cp "$mnt"/boot/initrd.img-* "$vm/initrd.img"
  echo ok >"$vm/ready"
else
  mount -o loop "$img" "$mnt"
fi
# PID 1 of the guest: mounts what the test needs in memory, runs it, powers off.
cat >"$mnt/sbin/snapmend-vm-init" <<'INIT'
#!/bin/sh
for m in "proc /proc" "sysfs /sys" "devtmpfs /dev" "tmpfs /tmp" "tmpfs /run"; do
  set -- $m; mountpoint -q "$2" || mount -t "$1" "$1" "$2"
done
modprobe loop; modprobe 9pnet_virtio; modprobe 9p
build=$(sed -n 's/.*snapmend.build=\([^ ]*\).*/\1/p' /proc/cmdline)
mkdir -p "$build" && mount -t 9p -o trans=virtio,version=9p2000.L,ro build "$build"
echo "== guest: root $(findmnt -no SOURCE /), $(nproc) cpus, $(lsblk -dno SIZE "$(findmnt -no SOURCE /)")"
cd /tmp && HOME=/tmp QT_QPA_PLATFORM=offscreen GTEST_COLOR=no SNAPMEND_BUILD_DIR="$build" \
  "$build/tests/mainwindow/scan_lifecycle_test" --gtest_filter='DiskScan.TheSystemDisk*'
echo "== guest: test exit $?"
sync; echo o >/proc/sysrq-trigger; sleep 30
INIT
chmod 755 "$mnt/sbin/snapmend-vm-init"
umount "$mnt"

timeout 1800 qemu-system-x86_64 -m 3G -smp 2 -nographic -no-reboot \
  -kernel "$vm/vmlinuz" -initrd "$vm/initrd.img" \
  -append "root=/dev/vda rw console=ttyS0 quiet panic=-1 init=/sbin/snapmend-vm-init snapmend.build=$build" \
  -drive file="$img",if=virtio,format=raw \
  -virtfs local,path="$build",mount_tag=build,security_model=none,readonly=on |
  tee "$vm/last-run.log" | grep -aE '(== guest|\[ +(RUN|OK|FAILED|SKIPPED) |system disk|.*Failure)' || true
grep -aq '== guest: test exit' "$vm/last-run.log" || skip "the guest did not run the test, see $vm/last-run.log"
grep -aq '== guest: test exit 0' "$vm/last-run.log"
