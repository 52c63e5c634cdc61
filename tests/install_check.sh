#!/bin/sh
# Installs the build into a scratch prefix and builds a C program against it
# with nothing but pkg-config, as a user of the installed library would.
set -e
build=$1
src=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(ls -d "$prefix"/lib*/pkgconfig | head -n 1)
export PKG_CONFIG_PATH="$libdir"
cc -std=c99 -Wall -Werror "$src" $(pkg-config --cflags --libs tessaly) -o "$prefix/check"
cd "$prefix"  # the program writes its files here
LD_LIBRARY_PATH="$(dirname "$libdir")" ./check
