#!/usr/bin/env bash
# Installs the build into a scratch prefix, then builds the consumer of
# calmgr and calmgr_io against it twice: with find_package(calmgr) and with
# pkg-config.
# Usage: run.sh BUILD_DIR WORK_DIR [C_FLAGS]
set -euo pipefail
build="$1" work="$2" cflags="${3:-}"
here="$(cd "$(dirname "$0")" && pwd)"
rm -rf "$work"
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
"$here/consume.sh" "$prefix" "$here" consumer calmgr-io "$work" "$cflags"
