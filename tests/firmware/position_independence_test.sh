#!/usr/bin/env bash
# The write-control program runs wherever the boot ROM loads it, the units it
# runs with 0xCB (the rate switch, the block stream's loader) wherever the
# program's work space lies, and the block stream wherever the loader puts
# it: linked at several addresses their bytes must not change (an absolute
# reference to one of their own labels would). The block stream reaches its
# RAM as offsets from its own address, so its RAM stays where it is linked.
# The program must fill exactly the 932 bytes the host sends, with its code
# and data ending before the padding; the units 128.
#   position_independence_test.sh <source tree>
set -euo pipefail
root=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Links object $1 (named $2 in messages) at each of the further addresses and
# requires $3 bytes (any number when empty), the same at every address.
# LINK_SCRIPT and LINK_OPTIONS may change how. Leaves <object>_0x0.elf.
same_everywhere() {
  local object=$1 what=$2 expected=$3 first="" address size
  shift 3
  for address in "$@"; do
    # shellcheck disable=SC2086
    h8300-hms-ld -mh8300s -T "${LINK_SCRIPT:-$root/firmware/write_control.ld}" \
      ${LINK_OPTIONS:-} -Ttext=$address "$object.o" -o "${object}_$address.elf"
    h8300-hms-objcopy -O binary -j .text "${object}_$address.elf" "${object}_$address.bin"
    size=$(stat -c %s "${object}_$address.bin")
    if [ -n "$expected" ] && [ "$size" -ne "$expected" ]; then
      echo "linked at $address $what is $size bytes, not $expected" >&2
      exit 1
    fi
    if [ -z "$first" ]; then
      first=${object}_$address.bin
    elif ! cmp "$first" "${object}_$address.bin"; then
      echo "the bytes of $what change when it is linked at $address" >&2
      exit 1
    fi
  done
}

h8300-hms-as -I "$root/firmware" "$root/firmware/write_control.s" -o "$work/p.o"
same_everywhere "$work/p" "the program" 932 0x0 0xFFB000 0xFFC402 0xFFD7F0

# The last label before the padding (the used part) ends inside the image.
last=$(h8300-hms-nm -n "$work/p_0x0.elf" | awk '$3 == "target_id" { print $1 }')
if [ -z "$last" ]; then
  echo "no label target_id in the program" >&2
  exit 1
fi
used=$(( 0x$last + 7 ))
if [ "$used" -gt 932 ]; then
  echo "the program's code and data end at $used, beyond 932 bytes" >&2
  exit 1
fi

# The others, against the program's symbols as firmware/build.sh gives them.
for name in $(grep -v '^#' "$root/firmware/program_symbols.txt"); do
  value=$(h8300-hms-nm "$work/p_0x0.elf" | awk -v n="$name" '$3 == n { print $1 }')
  if [ -z "$value" ]; then
    echo "no label $name in the program" >&2
    exit 1
  fi
  echo "	.equ	$name, 0x$value"
done >"$work/write_control_symbols.inc"
h8300-hms-as -I "$root/firmware" -I "$work" "$root/firmware/rate_switch.s" -o "$work/r.o"
same_everywhere "$work/r" "the rate switch" 128 0x0 0xFFB000 0xFFC400 0xFFED80 0xFFEE00

h8300-hms-as -I "$root/firmware" -I "$work" "$root/firmware/block_stream.s" -o "$work/s.o"
LINK_SCRIPT=$root/firmware/block_stream.ld LINK_OPTIONS=-Tbss=0x800000 \
  same_everywhere "$work/s" "the block stream" "" 0x0 0xFFB400 0xFFC700
h8300-hms-ld -mh8300s -T "$root/firmware/block_stream.ld" "$work/s.o" -o "$work/s.elf"
h8300-hms-objcopy -O binary -j .text "$work/s.elf" "$work/s.bin"
{
  echo "	.equ	STREAM_CODE_SIZE, $(stat -c %s "$work/s.bin")"
  echo "	.equ	STREAM_RAM_SIZE, 0x$(h8300-hms-nm "$work/s.elf" | awk '$3 == "ram_end" { print $1 }')"
} >"$work/block_stream_symbols.inc"
h8300-hms-as -I "$root/firmware" -I "$work" "$root/firmware/block_stream_loader.s" -o "$work/l.o"
same_everywhere "$work/l" "the block stream's loader" 128 0x0 0xFFB000 0xFFED80 0xFFEE00
echo "position-independent, 932 bytes ($used used); the units 128 bytes; the block stream"
