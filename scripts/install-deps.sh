#!/bin/sh
# Installs, from Debian's packages, whatever the build, the tests and the
# fuzz targets need and is not installed yet.
set -e
pkgs="cmake g++ make pkg-config libtiff-dev libjpeg62-turbo-dev libpng-dev zlib1g-dev
libgif-dev libopenjp2-7-dev libgtest-dev libbenchmark-dev
clang libclang-rt-14-dev locales
imagemagick netpbm python3-pil libtiff-tools libopenjp2-tools libjpeg-turbo-progs"
missing=""
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
fi
