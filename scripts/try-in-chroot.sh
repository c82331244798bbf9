#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 The Tactimo developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Tries Tactimo as a new user would, in throw-away Debian 12 roots under
# build/roots (made once with debootstrap, about 300 MB; needs root and
# Debian's package archive). Too slow for the test command; run it by hand.
#
#   scripts/try-in-chroot.sh package [DEB]   installs the package with apt and
#       starts the window from its menu entry under Xvfb; writes a screenshot
#       to build/roots/installed.png
#   scripts/try-in-chroot.sh commands        runs scripts/test.sh as a user
#       with sudo (timed, with the download size), then scripts/start.sh as a
#       user without sudo, on a clone of this repository's HEAD
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
roots=$repo/build/roots
mirror=http://deb.debian.org/debian

[ "$(id -u)" -eq 0 ] || { echo "Run this as root: it makes chroots." >&2; exit 1; }
# Every mount below lives in a mount namespace of this script's own: it goes
# away with the script and can never cover the machine's /dev or /dev/shm.
if [ -z "${TACTIMO_CHROOT_NS:-}" ]; then
  exec unshare -m --propagation private env TACTIMO_CHROOT_NS=1 bash "$0" "$@"
fi
source scripts/deps.sh
tactimo_install debootstrap

mkdir -p "$roots"
if [ ! -f "$roots/bookworm.tar" ]; then
  rm -rf "$roots/base"
  debootstrap bookworm "$roots/base" "$mirror"
  tar -C "$roots/base" -cpf "$roots/bookworm.tar" .
  rm -rf "$roots/base"
fi

# fresh_root NAME: sets root to a new root made from the debootstrap tarball,
# with the suites a Debian 12 installation has and the kernel file systems.
fresh_root() {
  root=$roots/$1
  rm -rf "$root"
  mkdir -p "$root"
  tar -C "$root" -xpf "$roots/bookworm.tar"
  printf 'deb %s %s main\n' "$mirror" bookworm "$mirror" bookworm-updates \
    http://deb.debian.org/debian-security bookworm-security >"$root/etc/apt/sources.list"
  cp /etc/resolv.conf /etc/hosts "$root/etc/"
  mount -t proc proc "$root/proc"
  mount --rbind /dev "$root/dev"
  mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
  mount -t sysfs sys "$root/sys"
}

# as_root COMMAND-LINE: runs it in the current root as root.
as_root() {
  chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 bash -c "$1"
}

# as_user USER COMMAND-LINE: runs it in the current root as USER in a login shell,
# so that only what a user's session sets is set.
as_user() {
  chroot "$root" /usr/bin/env -i TERM=dumb su - "$1" -c "$2"
}

try_package() {
  local deb=${1:-$(echo build/package/tactimo_*.deb)}
  [ -f "$deb" ] || { echo "No package: build one with scripts/package.sh" >&2; exit 1; }
  fresh_root installed
  local name
  name=$(basename "$deb")
  cp "$deb" "$root/tmp/"
  echo "== apt install ./$name (with its recommendations, as apt does by default)"
  as_root "apt-get update -qq && cd /tmp && DEBIAN_FRONTEND=noninteractive apt-get install -y ./$name" |
    grep -E '^(Need to get|After this operation|Setting up tactimo)'
  as_root "dpkg -L tactimo | grep -E 'bin/|\.desktop|metainfo|man1|scalable'"
  echo "== man tactimo"
  as_root "DEBIAN_FRONTEND=noninteractive apt-get install -y -qq man-db >/dev/null && MANWIDTH=80 man tactimo 2>&1 | head -n 8"

  echo "== the menu entry, launched by gio under Xvfb as an ordinary user, following jack_midi_clock"
  as_root "echo 'jackd2 jackd/tweak_rt_limits boolean false' | debconf-set-selections
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      xvfb xauth libglib2.0-bin x11-apps imagemagick procps jackd2 jack-midi-clock >/dev/null"
  as_root "useradd -m -s /bin/bash musician"
  as_user musician "export DISPLAY=:7
    Xvfb :7 -screen 0 420x640x24 >/dev/null 2>&1 &
    jackd --no-realtime -d dummy >/dev/null 2>&1 &
    sleep 2
    jack_midi_clock -b 120 -B >/dev/null 2>&1 &
    gio launch /usr/share/applications/tactimo.desktop >/tmp/tactimo.log 2>&1
    sleep 3
    echo play | jack_transport >/dev/null
    sleep 4
    pgrep -a -x tactimo || { echo 'tactimo is not running'; cat /tmp/tactimo.log; }
    xwd -silent -name Tactimo | convert xwd:- png:/tmp/installed.png
    pkill -x tactimo; kill %1 %2 %3"
  cp "$root/tmp/installed.png" "$roots/installed.png"
  echo "Screenshot: $roots/installed.png"
}

try_commands() {
  fresh_root commands
  git clone -q "$repo" "$root/opt/tactimo"
  as_root "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq sudo >/dev/null"
  as_root "useradd -m -s /bin/bash -G sudo dev && echo 'dev ALL=(ALL) NOPASSWD: ALL' >/etc/sudoers.d/dev && chown -R dev: /opt/tactimo"
  as_root "useradd -m -s /bin/bash guest && cp -r /opt/tactimo /home/guest/tactimo && chown -R guest: /home/guest/tactimo"
  as_root "apt-get clean"

  echo "== scripts/test.sh as a user with sudo (first run)"
  local start=$SECONDS rc=0
  as_user dev "cd /opt/tactimo && scripts/test.sh </dev/null" >"$roots/commands-test.log" 2>&1 || rc=$?
  local took=$((SECONDS - start))
  echo "exit status $rc after $((took / 60)) min $((took % 60)) s; log: $roots/commands-test.log"
  grep -E '^(Installing|\(tests share)|Total:)' "$roots/commands-test.log" || true
  echo "downloaded: $(du -sh "$root/var/cache/apt/archives" | cut -f1) of packages"

  echo "== scripts/start.sh as a user without sudo, on a machine without it"
  as_root "SUDO_FORCE_REMOVE=yes DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq sudo >/dev/null; apt-get remove -y -qq ninja-build >/dev/null"
  as_user guest "cd ~/tactimo && scripts/start.sh </dev/null" 2>&1 | head -n 5 || true
}

case ${1:-} in
  package) try_package "${2:-}" ;;
  commands) try_commands ;;
  *)
    sed -n '2,11p' "$0" >&2
    exit 2
    ;;
esac
