#!/usr/bin/env bash
# Checks that the Windows program and its release zip can be rebuilt byte for
# byte: builds both twice from the sources of the current commit (git archive
# HEAD), in two scratch folders of different names, one after the other, with
# the package target of the windows-i686 preset (tests off). Prints the SHA-256
# of the .exe and of the zip, and fails when the two builds differ.
# SOURCE_DATE_EPOCH, if set, is honoured as by the package target.
# Usage: tools/check_reproducible.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install_deps.sh windows
if ! git diff --quiet HEAD; then
  echo "check_reproducible: uncommitted changes are not part of the check" >&2
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
trees=("$scratch/first" "$scratch/second-build-tree/vornhold-extract")
for tree in "${trees[@]}"; do
  mkdir -p "$tree"
  git archive HEAD | tar -x -C "$tree"
  echo "check_reproducible: building in $tree" >&2
  if ! (cd "$tree" &&
        cmake --preset windows-i686 -DVORNHOLD_BUILD_TESTS=OFF &&
        cmake --build --preset windows-i686 --target package) >"$tree.log" 2>&1; then
    cat "$tree.log" >&2
    exit 1
  fi
done

out=("${trees[0]}/build/windows-i686" "${trees[1]}/build/windows-i686")
zip=$(cd "${out[0]}" && echo vornhold-extract-*-win32.zip)
differ=0
for file in vornhold-extract.exe "$zip"; do
  first=$(sha256sum "${out[0]}/$file" | cut -d' ' -f1)
  second=$(sha256sum "${out[1]}/$file" | cut -d' ' -f1)
  if [ "$first" = "$second" ]; then
    echo "$first  $file"
  else
    echo "check_reproducible: $file differs: $first in the first build, $second in the second" >&2
    differ=1
  fi
done
exit "$differ"
