#!/bin/sh

# SPDX-FileCopyrightText: 2026 The Tactimo developers
# SPDX-License-Identifier: GPL-3.0-or-later

# check_man_page.sh MAN PAGE: fails on any groff warning as lintian renders PAGE, or on an empty page.
man=$1 page=$2
warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 "$man" --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || { printf '%s\n' "$warnings"; exit 1; }
[ -n "$("$man" -l -Tutf8 "$page" 2>/dev/null)" ] || { echo "$page renders empty"; exit 1; }
