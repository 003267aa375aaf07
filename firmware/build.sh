#!/usr/bin/env bash
# Assembles the write-control program, makes its clock parameter table from
# the assembler's symbols and regenerates the embedded data the writer
# carries (link/embedded_data.cpp). The three outputs are committed, so that
# building the writer needs no cross toolchain.
#
#   firmware/build.sh           rewrites firmware/write_control.bin,
#                               firmware/clock_table.bin, link/embedded_data.cpp
#   firmware/build.sh --check   builds them in a scratch directory and fails
#                               when a committed one differs
#
# Needs binutils-h8300-hms, python3 and g++.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
fw=$root/firmware
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

case "${1:-}" in
  "") check=0 ;;
  --check) check=1 ;;
  *) echo "usage: firmware/build.sh [--check]" >&2; exit 2 ;;
esac

h8300-hms-as -I "$fw" "$fw/write_control.s" -o "$work/write_control.o"
h8300-hms-ld -mh8300s -T "$fw/write_control.ld" "$work/write_control.o" -o "$work/write_control.elf"
h8300-hms-objcopy -O binary -j .text "$work/write_control.elf" "$work/write_control.bin"
h8300-hms-nm "$work/write_control.elf" >"$work/write_control.sym"

size=$(stat -c %s "$work/write_control.bin")
if [ "$size" -ne 932 ]; then
  echo "write_control.bin is $size bytes, not 932" >&2
  exit 1
fi

python3 "$fw/tools/make_clock_table.py" "$fw/clock_table.txt" "$work/write_control.sym" \
  "$work/clock_table.bin"

g++ -std=c++20 -O1 -I"$root" "$fw/tools/make_embedded_data.cpp" "$root/link/descrambler.cpp" \
  -o "$work/make_embedded_data"
"$work/make_embedded_data" "$work/clock_table.bin" "$work/write_control.bin" \
  "$work/embedded_data.cpp"

outputs=("$work/write_control.bin:$fw/write_control.bin"
         "$work/clock_table.bin:$fw/clock_table.bin"
         "$work/embedded_data.cpp:$root/link/embedded_data.cpp")
status=0
for pair in "${outputs[@]}"; do
  made=${pair%%:*}
  committed=${pair#*:}
  if [ "$check" -eq 1 ]; then
    if ! cmp -s "$made" "$committed"; then
      echo "${committed#"$root"/} is not what firmware/build.sh makes; run it and commit" >&2
      status=1
    fi
  else
    cp "$made" "$committed"
  fi
done
exit $status
