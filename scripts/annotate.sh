#!/usr/bin/env bash

# SPDX-FileCopyrightText: 2026 The Tactimo developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Gives the project's SPDX header, in the comment style of its type, to each
# file that `reuse lint` finds without copyright or licence, or to the files
# named. A file that cannot carry a header (an image, .clang-format) is named
# instead: list it in .reuse/dep5. Ends with `reuse lint`'s verdict.
set -euo pipefail
cd "$(dirname "$0")/.."

# prepend FILE OPEN CLOSE: both tags as comment lines at the top (after an
# XML declaration), for types that reuse cannot comment in place. The tags are
# spelt in two parts so that reuse does not take them for this script's own.
prepend() {
  local f=$1 open=$2 close=$3 spdx=SPDX where=1i
  grep -q "$spdx-License-Identifier:" "$f" && return
  head -n 1 "$f" | grep -q '^<?xml' && where=1a
  sed -i "$where $open $spdx-FileCopyrightText: 2026 The Tactimo developers$close\\n$open $spdx-License-Identifier: GPL-3.0-or-later$close" "$f"
  echo "Added header to $f"
}

# All in a function, read whole before it runs: this script may annotate itself.
main() {
  local files
  if [ $# -gt 0 ]; then
    files=("$@")
  else
    mapfile -t files < <(reuse lint 2>/dev/null | sed -n '/^# MISSING COPYRIGHT AND LICENSING/,/^# /s/^\* //p')
  fi

  local auto=() c=() python=() html=() metainfo=() f
  for f in "${files[@]}"; do
    case "$f" in
      *.metainfo.xml.in) metainfo+=("$f") ;; # under the metadata's own licence
      *.[1-8].in) prepend "$f" '.\\"' '' ;;  # roff
      *.svg) prepend "$f" '<!--' ' -->' ;; # reuse would put it in a file beside
      *.h.in | *.cpp.in) c+=("$f") ;;
      *.xml.in) html+=("$f") ;;
      *.desktop | *.supp | .ci/*) python+=("$f") ;;
      *.cpp | *.cc | *.h | *.hpp | *.c | *.qml | *.cmake | CMakeLists.txt | */CMakeLists.txt | *.sh | *.py | *.md | *.yml | *.yaml | .gitignore) auto+=("$f") ;;
      *) echo "no header for $f: list it in .reuse/dep5" ;;
    esac
  done

  local header=(--copyright "The Tactimo developers" --year 2026)
  [ ${#auto[@]} -eq 0 ] || reuse annotate "${header[@]}" --license GPL-3.0-or-later "${auto[@]}"
  [ ${#c[@]} -eq 0 ] || reuse annotate "${header[@]}" --license GPL-3.0-or-later --style c "${c[@]}"
  [ ${#python[@]} -eq 0 ] || reuse annotate "${header[@]}" --license GPL-3.0-or-later --style python "${python[@]}"
  [ ${#html[@]} -eq 0 ] || reuse annotate "${header[@]}" --license GPL-3.0-or-later --style html "${html[@]}"
  [ ${#metainfo[@]} -eq 0 ] || reuse annotate "${header[@]}" --license CC0-1.0 --style html "${metainfo[@]}"
  reuse lint | tail -n 1
}

main "$@"; exit # on one line: bash has read it before main changes this file
