#!/usr/bin/env bash
# The SDK as a product, from a built release folder: installs it into a
# temporary prefix; builds the example package (examples/package/) outside
# the tree against that install, with CMake and, for an engine host, with
# pkg-config; runs the example's diagram with the installed tool and the
# installed I/O package and compares its output with the expected CSV; then
# builds the Debian package with CPack and checks its contents and
# dependencies with dpkg-deb (nothing is installed into the machine).
# Usage: scripts/check_install.sh [BUILD_FOLDER]   (default: build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build=$(cd "${1:-build/release}" && pwd)
example=$source_dir/examples/package

work=$(mktemp -d "${TMPDIR:-/tmp}/velquor-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

fail() {
  echo "check_install: $*" >&2
  exit 1
}

echo "--- install into a temporary prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/velquor lib/libvelquor.so.4 lib/libvelquor.so \
  lib/velquor/packages/velquor_sorting_multiplexer.pck lib/velquor/packages/velquor_io.pck \
  include/velquor/daxo_component.h include/velquor/daxo_kernel.h \
  include/velquor/daxo_sorted_start_reading_component.h include/velquor/engine.h \
  include/velquor/pcap_stream/pcap_data.h lib/cmake/VelquorSDK/VelquorSDKConfig.cmake \
  lib/cmake/VelquorSDK/VelquorSDKConfigVersion.cmake lib/pkgconfig/velquor.pc \
  share/man/man1/velquor.1; do
  [ -e "$prefix/$file" ] || fail "the install lacks $file"
done
# The installed tool lists the installed packages and no others (not the
# build tree's, whatever its path).
listed=$("$prefix/bin/velquor" inspect | awk '/\.pck$/ { print $2 }')
[ -n "$listed" ] || fail "the installed tool lists no package"
for path in $listed; do
  case $path in "$prefix"/lib/velquor/packages/*) ;; *) fail "the installed tool lists $path" ;; esac
done

echo "--- build the example package outside the tree"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S "$example" -B "$work/example" "${generator[@]}" "${launcher[@]}" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/example" >/dev/null
package=$work/example/packages/scale_offset.pck
sh "$source_dir/tests/sdk/check_pck_exports.sh" "$package"

echo "--- run it in a diagram with the installed tool and I/O package"
mkdir "$work/run"
cp "$example/scale_offset.vq" "$example/rows.csv" "$work/run/"
(cd "$work/run" && VELQUOR_PACKAGE_PATH="$work/example/packages" "$prefix/bin/velquor" run scale_offset.vq)
cmp "$work/run/scaled.csv" "$example/expected.csv" || fail "scaled.csv differs from examples/package/expected.csv"

echo "--- engine hosts: CMake target velquor::engine, pkg-config velquor"
"$work/example/list_models" "$package" | grep -qx "scale_offset ScaleOffset 1.0.0" ||
  fail "list_models (CMake) does not list ScaleOffset"
# shellcheck disable=SC2046  # the flags are words
c++ -std=c++20 "$example/list_models.cpp" -o "$work/list_models_pc" -Wl,-rpath,"$prefix/lib" \
  $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs velquor)
"$work/list_models_pc" "$package" | grep -qx "scale_offset ScaleOffset 1.0.0" ||
  fail "list_models (pkg-config) does not list ScaleOffset"

echo "--- Debian package"
rm -f "$build"/velquor_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/velquor_*.deb)
contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for file in ./usr/bin/velquor ./usr/lib/libvelquor.so.4 \
  ./usr/lib/velquor/packages/velquor_sorting_multiplexer.pck \
  ./usr/lib/velquor/packages/velquor_io.pck ./usr/include/velquor/daxo_component.h \
  ./usr/include/velquor/engine.h ./usr/lib/cmake/VelquorSDK/VelquorSDKConfig.cmake \
  ./usr/lib/cmake/VelquorSDK/VelquorPackage.cmake ./usr/lib/pkgconfig/velquor.pc \
  ./usr/share/man/man1/velquor.1; do
  grep -qxF "$file" <<<"$contents" || fail "$(basename "$deb") lacks $file"
done
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libpcap0.8 libpcre3; do
  grep -q "$library" <<<"$depends" || fail "$(basename "$deb") does not depend on $library: $depends"
done
echo "check_install: $(basename "$deb"), $(stat -c %s "$deb") bytes; depends on $depends"
