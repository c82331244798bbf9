#!/usr/bin/env bash
# Builds the Debian package build/package/tactimo_<version>_<arch>.deb from a
# Release build with Debian's own hardening flags, and checks it with lintian.
# Extra arguments go to cmake, e.g. -DTACTIMO_DONATE_URL=https://example.org/donate
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
tactimo_install "${TACTIMO_RUNTIME_PACKAGES[@]}" "${TACTIMO_PACKAGE_PACKAGES[@]}"

dir=build/package
# Debian's compiler and linker flags: fortified functions, stack protector,
# read-only relocations bound at start, and build paths left out.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(dpkg-buildflags --export=sh)"
export CFLAGS="$CPPFLAGS $CFLAGS" CXXFLAGS="$CPPFLAGS $CXXFLAGS"
rm -f "$dir"/tactimo_*.deb
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DTACTIMO_TESTS=OFF -DTACTIMO_BENCH=OFF "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(echo "$dir"/tactimo_*.deb)
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
echo "== appstreamcli validate-tree: the metainfo with the desktop entry and icons it names"
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree"
appstreamcli validate-tree --no-net --strict "$tree"
echo "== lintian"
lintian --info --fail-on error "$deb" || { echo "lintian found errors in $deb" >&2; exit 1; }
echo "Built $deb"
echo "Install it with: sudo apt install ./$deb"
