#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Run as root on Debian 12. Safe to run again.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libgtest-dev libbenchmark-dev
  # engine
  zlib1g-dev liblzma-dev
  # front-end
  qt6-base-dev qt6-image-formats-plugins libpoppler-qt6-dev libblkid-dev libstb-dev libturbojpeg0-dev libjpeg62-turbo-dev
  fonts-dejavu-core fonts-liberation2
  # test tools: disk images, sample files, display
  libfuse3-dev fuse3 gddrescue dosfstools exfatprogs exfat-fuse ntfs-3g e2fsprogs btrfs-progs mtools fdisk dmsetup mdadm util-linux imagemagick ffmpeg ghostscript zip unzip
  xvfb xauth
  # package checks: desktop entry and AppStream metainfo validators
  desktop-file-utils appstream
  # benchmarks
  foremost hyperfine time bc e2fsprogs
)

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: run as root (apt-get needs it)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${packages[@]}"
