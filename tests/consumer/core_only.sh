#!/usr/bin/env bash
# Configures calmgr as on a machine with none of its optional packages
# (every find_package of one is disabled), checks that each optional part
# says it is off and why and that a part asked for by name stops the
# configuration instead, builds and installs the core library into a
# scratch prefix, checks that nothing else was installed, and builds a
# core-only program against the installed package with find_package and
# with pkg-config, both at the header's version.
# Usage: core_only.sh SOURCE_DIR WORK_DIR VERSION [C_COMPILER CXX_COMPILER]
set -euo pipefail
src="$1" work="$2" version="$3" cc="${4:-cc}" cxx="${5:-c++}"
here="$(cd "$(dirname "$0")" && pwd)"
# The build directory is kept between runs (configured afresh each time);
# the installed tree and the consumers are made anew.
rm -rf "$work/prefix" "$work/consumer"
mkdir -p "$work"
prefix="$work/prefix"

disabled=()
for package in nlohmann_json CLI11 TIFF GTest benchmark; do
  disabled+=("-DCMAKE_DISABLE_FIND_PACKAGE_${package}=TRUE")
done
cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER="$cc" \
      -DCMAKE_CXX_COMPILER="$cxx" "${disabled[@]}" >"$work/configure.log"
for part in "calmgr_io" "the calmgr tool" "the tests" "the benchmarks"; do
  if ! grep -q "calmgr: not building $part[^:]*: .*not found" "$work/configure.log"; then
    echo "no status line saying why $part is off:" >&2
    cat "$work/configure.log" >&2
    exit 1
  fi
done
# Asked for explicitly, a part whose packages are missing is an error.
rm -rf "$work/asked"
if cmake -S "$src" -B "$work/asked" -G Ninja -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
      "${disabled[@]}" -DCALMGR_BUILD_IO=ON >"$work/asked.log" 2>&1; then
  echo "CALMGR_BUILD_IO=ON configured without nlohmann_json" >&2
  exit 1
fi
if ! grep -q "CALMGR_BUILD_IO is ON but" "$work/asked.log"; then
  echo "CALMGR_BUILD_IO=ON without nlohmann_json failed without saying why:" >&2
  cat "$work/asked.log" >&2
  exit 1
fi

cmake --build "$work/build" -j 2 >"$work/build.log" || { tail -40 "$work/build.log" >&2; exit 1; }
cmake --install "$work/build" --prefix "$prefix" >/dev/null

extra=$(find "$prefix" -name 'libcalmgr_io*' -o -name 'calmgr-io.pc' -o -path '*/bin/*' -type f)
if [ -n "$extra" ]; then
  echo "installed beyond the core library:" >&2
  echo "$extra" >&2
  exit 1
fi

pc_version=$(PKG_CONFIG_PATH="$(dirname "$(find "$prefix" -name calmgr.pc)")" pkg-config --modversion calmgr)
if [ "$pc_version" != "$version" ]; then
  echo "calmgr.pc says version $pc_version, the header $version" >&2
  exit 1
fi
CC="$cc" "$here/consume.sh" "$prefix" "$here/core" core_consumer calmgr "$work/consumer" "" \
    -DCMAKE_C_COMPILER="$cc" -DCALMGR_EXPECTED_VERSION="$version"
