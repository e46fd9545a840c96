#!/usr/bin/env bash
# Cheap checks of the tree against its written map and its build lists:
# - every file or folder that docs/architecture.md names in backquotes exists (a path from the
#   top, or a bare file or folder name somewhere in the tree);
# - every .cc file under src/, platform/, tests/, fuzz/ and bench/ is named in the CMakeLists.txt
#   of its folder or of a folder above it.
# Usage: check_tree.sh TOP
set -euo pipefail
top=${1:?usage: check_tree.sh TOP}
cd "$top"
failures=0

# Shell words with a slash or a file ending; names of types, functions and constants are skipped.
while IFS= read -r name; do
  [[ -e $name ]] && continue
  base=${name%/}
  if [[ $base != */* ]] &&
     [[ -n $(find src platform tests fuzz bench scripts docs -name "$base" -print -quit) ]]; then
    continue
  fi
  echo "docs/architecture.md names $name, which does not exist"
  failures=$((failures + 1))
done < <(grep -o '`[^`]*`' docs/architecture.md | tr -d '`' |
         grep -E '^[A-Za-z0-9_./-]+(/|\.(h|cc|sh|md|txt))$' | sort -u)

while IFS= read -r source; do
  folder=$(dirname "$source")
  listed=0
  while :; do
    if [[ -f $folder/CMakeLists.txt ]]; then
      relative=${source#"$folder"/}
      if grep -qE "(^|[[:space:]/\"(])$(basename "$source")([[:space:])\"]|$)" "$folder/CMakeLists.txt" ||
         grep -qF "$relative" "$folder/CMakeLists.txt"; then
        listed=1
        break
      fi
    fi
    [[ $folder == . || $folder == */* ]] || break
    folder=$(dirname "$folder")
  done
  if [[ $listed == 0 ]]; then
    echo "$source is in no CMakeLists.txt: it is not built"
    failures=$((failures + 1))
  fi
done < <(find src platform tests fuzz bench -name '*.cc' | sort)

if [[ $failures != 0 ]]; then
  echo "$failures problem(s) in the tree"
  exit 1
fi
echo "tree: the map and the build lists match the files"
