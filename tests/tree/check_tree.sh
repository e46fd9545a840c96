#!/usr/bin/env bash
# Cheap checks of the tree against its written map and its build lists:
# - every file or folder that docs/architecture.md names in backquotes exists (a path from the
#   top, or a bare file or folder name somewhere in the tree);
# - every .cc file under src/, platform/, tests/, fuzz/ and bench/ is named in the CMakeLists.txt
#   of its folder or of a folder above it;
# - the includes of src/ and platform/ keep the layer rules of docs/architecture.md: each names
#   its header with its folder, and a layer includes only its own headers and those of the layers
#   above it (the tool nothing of the platform's and the reverse, a client library none of the
#   others').
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

# The layer of a source file, or of an included header from its folder on: the two products apart
# (t, p), then the rank in its product's list; a client library is its own folder.
layer() {
  case $1 in
    agentapi/*) echo t1 ;;
    values/*) echo t2 ;;
    cli/*) echo t3 ;;
    agent_ops/*) echo t4 ;;
    orvuctl/*) echo t4 ;;  # a front end beside agent_ops, never including it
    orvu/*|include/orvu/*) echo p1 ;;
    common/*) echo p2 ;;
    mibreader/*) echo p3 ;;
    protocol/*) echo p4 ;;
    libs/*/*) local rest=${1#libs/}; echo "p5${rest%%/*}" ;;
    agent/journal/*) echo p6a ;;
    agent/snmp/agentx_subagent.*|agent/snmp/agentx_answers.*) echo p6d ;;  # above the core
    agent/snmp/*) echo p6b ;;
    agent/core/*) echo p6c ;;
    agent/daemon/*) echo p6d ;;
    *) echo "?" ;;
  esac
}

while IFS= read -r source; do
  own=$(layer "${source#*/}")
  if [[ $own == "?" ]]; then
    echo "$source is in no layer of docs/architecture.md"
    failures=$((failures + 1))
    continue
  fi
  while IFS= read -r header; do
    if [[ $header != */* ]]; then
      echo "$source includes \"$header\" without its folder"
      failures=$((failures + 1))
      continue
    fi
    theirs=$(layer "$header")
    [[ $theirs == "$own" ]] && continue
    # Above means: the same product, a lower rank, and not another client library.
    if [[ $theirs == "?" || ${theirs:0:1} != "${own:0:1}" || ! $theirs < $own ||
          (${theirs:0:2} == p5 && ${own:0:2} == p5) ]]; then
      echo "$source includes $header, which is not in a layer above its own (docs/architecture.md)"
      failures=$((failures + 1))
    fi
  done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$source")
done < <(find src platform -name '*.h' -o -name '*.cc' | sort)

if [[ $failures != 0 ]]; then
  echo "$failures problem(s) in the tree"
  exit 1
fi
echo "tree: the map and the build lists match the files"
