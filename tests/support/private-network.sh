#!/bin/sh

# SPDX-FileCopyrightText: 2026 The Tactimo developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Runs a command in a network namespace of its own whose only interface is
# loopback, with multicast routed to it: Link's peers in it find each other,
# and nothing they send leaves it. Needs root, or user namespaces (unshare -r).
# Exits 77 (skipped) when no namespace can be made.
#   private-network.sh COMMAND [ARGS...]
[ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARGS...]" >&2; exit 2; }
setup='ip link set lo up && ip link set lo multicast on && ip route add 224.0.0.0/4 dev lo'
if [ "$(id -u)" -eq 0 ]; then as=""; else as="-r"; fi
if ! unshare $as -n sh -c "$setup" 2>/dev/null; then
  echo "SKIPPED: no private network namespace here (unshare $as -n, ip)" >&2
  exit 77
fi
exec unshare $as -n sh -c "$setup && exec \"\$@\"" sh "$@"
