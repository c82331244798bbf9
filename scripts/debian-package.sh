#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 The Tactimo developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Sourced by package.sh and test.sh: Debian's build flags as cmake options,
# and the package of a built tree, checked as Debian's tools check it.

# Debian's compiler and linker flags: fortified functions, stack protector,
# read-only relocations bound at start, and build paths left out. Given as
# cmake options rather than in the environment, so that a build folder
# configured before takes them too.
tactimo_debian_cmake_options() {
  local cppflags cflags cxxflags ldflags
  cppflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CPPFLAGS)
  cflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CFLAGS)
  cxxflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CXXFLAGS)
  ldflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get LDFLAGS)
  TACTIMO_DEBIAN_CMAKE_OPTIONS=(
    -DCMAKE_INSTALL_PREFIX=/usr
    "-DCMAKE_C_FLAGS=$cppflags $cflags"
    "-DCMAKE_CXX_FLAGS=$cppflags $cxxflags"
    "-DCMAKE_EXE_LINKER_FLAGS=$ldflags"
    "-DCMAKE_SHARED_LINKER_FLAGS=$ldflags"
    "-DCMAKE_MODULE_LINKER_FLAGS=$ldflags"
  )
}

# tactimo_make_deb DIR: DIR/tactimo_<version>_<arch>.deb from the built tree
# DIR, its metainfo validated with the desktop entry and icons it names, and
# lintian over it. Fails on any error or warning.
tactimo_make_deb() {
  local dir=$1 deb tree rc=0
  rm -f "$dir"/tactimo_*.deb
  (cd "$dir" && cpack -G DEB >/dev/null) || return 1
  deb=$(echo "$dir"/tactimo_*.deb)
  dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
  echo "== appstreamcli validate-tree: the metainfo with the desktop entry and icons it names"
  tree=$(mktemp -d)
  dpkg-deb -x "$deb" "$tree"
  appstreamcli validate-tree --no-net --strict "$tree" || rc=1
  rm -rf "$tree"
  echo "== lintian"
  lintian --info --fail-on error,warning "$deb" || { echo "lintian found errors or warnings in $deb" >&2; rc=1; }
  [ "$rc" -eq 0 ] && echo "Built $deb"
  return "$rc"
}
