#!/bin/bash
# Every picture a page of the guide shows exists, says in its alt text what it shows, and
# is one that scripts/pictures makes again; and every picture in docs/ is shown somewhere.
# Usage: check_pictures.sh SOURCE_DIR
set -u
cd "$1" || exit 1
faults=0
fault() { echo "$*" >&2; faults=$((faults + 1)); }
shown=()
for page in README.md docs/*.md; do
  while IFS= read -r image; do
    alt=${image#'!['} alt=${alt%%'](*'} file=${image##*'('} file=${file%')'}
    path=$(dirname "$page")/$file
    shown+=("$(realpath -m "$path")")
    [[ -f $path ]] || fault "$page: $file: no such picture"
    ((${#alt} >= 20)) || fault "$page: $file: the alt text \"$alt\" does not say what is shown"
    grep -qF "\$work/$(basename "$file")" scripts/pictures ||
      fault "$page: $file: scripts/pictures does not make it"
  done < <(grep -o '!\[[^]]*\]([^)]*)' "$page")
done
for picture in docs/*.png; do
  [[ " ${shown[*]} " == *" $(realpath "$picture") "* ]] || fault "$picture: no page shows it"
done
exit $((faults > 0))
