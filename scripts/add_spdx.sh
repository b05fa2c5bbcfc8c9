#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Puts the licence line "SPDX-License-Identifier: MIT" at the top of every
# source (.cpp, .h), script (.sh, or any file starting with #!) and CMake
# file of the project, as its first comment line; a shebang line stays
# first. Files that carry it already are left alone, so it can be run again
# at any time.
#   scripts/add_spdx.sh           add the line where it is missing
#   scripts/add_spdx.sh --check   only list the files that lack it; exits 1
#                                 when there are any
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
tag='SPDX-License-Identifier: MIT'
mode=add
case "${1:-}" in
  --check) mode=check ;;
  "") ;;
  *)
    echo "usage: add_spdx.sh [--check]" >&2
    exit 2
    ;;
esac

# The tracked files of the kinds above (every file outside build
# directories when this is not a git checkout).
candidates() {
  local files
  if files="$(git -C "$here" ls-files 2>/dev/null)" && [ -n "$files" ]; then
    printf '%s\n' "$files"
  else
    (cd "$here" && find . \( -path './build*' -o -path ./.git \) -prune -o -type f -print |
      sed 's|^\./||')
  fi | while IFS= read -r f; do
    [ -f "$here/$f" ] || continue
    case "$f" in
      *.cpp | *.h) echo "cpp $f" ;;
      *.sh | CMakeLists.txt | */CMakeLists.txt | *.cmake) echo "hash $f" ;;
      *) if [ "$(head -c2 "$here/$f" | tr -d '\0')" = '#!' ]; then echo "hash $f"; fi ;;
    esac
  done
}

missing=0
while read -r style f; do
  path="$here/$f"
  # The line counts when it is among the first three: after a shebang and
  # an editor's mode line at most.
  if head -n3 "$path" | grep -qF "$tag"; then continue; fi
  missing=$((missing + 1))
  if [ "$mode" = check ]; then
    echo "$f"
    continue
  fi
  if [ "$style" = cpp ]; then line="// $tag"; else line="# $tag"; fi
  tmp="$(mktemp "$path.spdx.XXXXXX")"
  if [ "$(head -c2 "$path")" = '#!' ]; then
    { head -n1 "$path"; echo "$line"; tail -n +2 "$path"; } >"$tmp"
  else
    { echo "$line"; cat "$path"; } >"$tmp"
  fi
  # Written back in place, so the file keeps its mode.
  cat "$tmp" >"$path"
  rm -f "$tmp"
  echo "added: $f"
done < <(candidates)

if [ "$mode" = check ] && [ "$missing" -ne 0 ]; then exit 1; fi
exit 0
