#!/bin/sh
# Recomputes the Installed-Size of each .deb as dpkg-gencontrol does (each file its size in KiB
# rounded up, each folder and link 1 KiB). CPack counts a symbolic link at the size of the file it
# points to, so every library's SONAME link counted the library a second time.
#
#   installed-size.sh PACKAGE.deb...
set -eu
for deb in "$@"; do
  work=$(mktemp -d)
  dpkg-deb -R "$deb" "$work/root"
  size=$(cd "$work/root" && find . -mindepth 1 -path ./DEBIAN -prune -o -printf '%y %s\n' |
    awk '$1 == "f" { total += int(($2 + 1023) / 1024); next } { total += 1 } END { print total + 0 }')
  sed -i "s/^Installed-Size: .*/Installed-Size: $size/" "$work/root/DEBIAN/control"
  dpkg-deb --root-owner-group -b "$work/root" "$deb" >/dev/null
  rm -rf "$work"
done
