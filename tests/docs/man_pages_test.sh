#!/usr/bin/env bash
# The manual pages: each renders with groff without a single warning, and
# each names every option its program's own help text lists.
# Usage: man_pages_test.sh MAN-DIRECTORY VANTOR VANTOR-BOARD H8RUN
set -uo pipefail
man=$1
declare -A program=([vantor]=$2 [vantor-board]=$3 [h8run]=$4)
failures=0
command -v groff >/dev/null || { echo "FAIL: groff is not installed"; exit 1; }

for page in vantor vantor-board h8run; do
  warnings=$(groff -ww -z -man "$man/$page.1" 2>&1)
  if [ -n "$warnings" ]; then
    echo "FAIL: $page(1) renders with warnings:"; echo "$warnings"; failures=$((failures + 1))
  fi
  # The rendered text, with groff's hyphen escapes resolved.
  text=$(groff -man -Tascii -P-cbou "$man/$page.1" 2>/dev/null)
  options=$("${program[$page]}" --help 2>&1 | grep -oE -- '--[a-z][a-z-]*' | sort -u)
  [ -n "$options" ] || { echo "FAIL: $page --help lists no options"; failures=$((failures + 1)); }
  for option in $options; do
    if ! grep -qE -- "$option([^a-z-]|\$)" <<<"$text"; then
      echo "FAIL: $page(1) does not describe $option"; failures=$((failures + 1))
    fi
  done
done

[ "$failures" -eq 0 ] && echo "all manual pages render cleanly and name every option"
exit $((failures > 0))
