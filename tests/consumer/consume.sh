#!/usr/bin/env bash
# Builds one consumer program against an installed calmgr twice, with
# find_package (the CMake project in PROJECT_DIR) and with pkg-config
# (PROJECT_DIR/PROGRAM.c and the package PKG), and runs both.
# Usage: consume.sh PREFIX PROJECT_DIR PROGRAM PKG WORK_DIR C_FLAGS [CMAKE_ARG...]
set -euo pipefail
prefix="$1" dir="$2" program="$3" pkg="$4" work="$5" cflags="$6"
shift 6

cmake -S "$dir" -B "$work/cmake-$program" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="$cflags" \
      -DCMAKE_EXE_LINKER_FLAGS="$cflags" "$@" >/dev/null
cmake --build "$work/cmake-$program" >/dev/null
"$work/cmake-$program/$program"

pcdir=$(dirname "$(find "$prefix" -name "$pkg.pc" | head -n1)")
libdir=$(dirname "$pcdir")
# --define-prefix: the .pc files name the configured prefix, not this one.
flags=$(PKG_CONFIG_PATH="$pcdir" pkg-config --define-prefix --cflags --libs "$pkg")
# shellcheck disable=SC2086
"${CC:-cc}" -std=c99 -Wall -Wextra -Werror $cflags "$dir/$program.c" -o "$work/$program-pc" $flags \
      -Wl,-rpath,"$libdir"
"$work/$program-pc"
