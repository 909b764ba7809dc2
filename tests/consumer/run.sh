#!/usr/bin/env bash
# Installs the build into a scratch prefix, then builds the consumer
# against it twice: with find_package(calmgr) and with pkg-config.
# Usage: run.sh BUILD_DIR WORK_DIR [C_FLAGS]
set -euo pipefail
build="$1" work="$2" cflags="${3:-}"
here="$(cd "$(dirname "$0")" && pwd)"
rm -rf "$work"
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

cmake -S "$here" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="$cflags" \
      -DCMAKE_EXE_LINKER_FLAGS="$cflags" >/dev/null
cmake --build "$work/cmake" >/dev/null
"$work/cmake/consumer"

pcdir=$(dirname "$(find "$prefix" -name calmgr-io.pc | head -n1)")
libdir=$(dirname "$pcdir")
# --define-prefix: the .pc files name the configured prefix, not this one.
flags=$(PKG_CONFIG_PATH="$pcdir" pkg-config --define-prefix --cflags --libs calmgr-io)
# shellcheck disable=SC2086
cc -std=c99 -Wall -Wextra -Werror $cflags "$here/consumer.c" -o "$work/consumer-pc" $flags -Wl,-rpath,"$libdir"
"$work/consumer-pc"
