#!/usr/bin/env bash
# Compiles the locales that the code-page tests run wine under into a folder of
# the build's own (LOCPATH), so that nothing outside it changes.
# Usage: make_locales.sh DIR LOCALE...   (e.g. ru_RU.UTF-8)
set -euo pipefail
dir=$1
shift
mkdir -p "$dir"
for locale in "$@"; do
  [ -d "$dir/$locale" ] || localedef -i "${locale%%.*}" -f "${locale#*.}" "$dir/$locale"
done
