#!/usr/bin/env bash
# The write-control program runs wherever the boot ROM loads it, and the rate
# switch wherever the program's work space lies: linked at several addresses
# their bytes must not change (an absolute reference to one of their own
# labels would). The program must fill exactly the 932 bytes the host sends,
# with its code and data ending before the padding; the rate switch 128.
#   position_independence_test.sh <source tree>
set -euo pipefail
root=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Links object $1 (named $2 in messages) at each of the further addresses and
# requires $3 bytes, the same at every address. Leaves <object>_0x0.elf.
same_everywhere() {
  local object=$1 what=$2 expected=$3 first="" address size
  shift 3
  for address in "$@"; do
    h8300-hms-ld -mh8300s -T "$root/firmware/write_control.ld" -Ttext=$address "$object.o" \
      -o "${object}_$address.elf"
    h8300-hms-objcopy -O binary -j .text "${object}_$address.elf" "${object}_$address.bin"
    size=$(stat -c %s "${object}_$address.bin")
    if [ "$size" -ne "$expected" ]; then
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

# The rate switch, against the program's symbols as firmware/build.sh gives them.
for name in base main_loop poll t_bit; do
  value=$(h8300-hms-nm "$work/p_0x0.elf" | awk -v n="$name" '$3 == n { print $1 }')
  echo "	.equ	$name, 0x$value"
done >"$work/write_control_symbols.inc"
h8300-hms-as -I "$root/firmware" -I "$work" "$root/firmware/rate_switch.s" -o "$work/r.o"
same_everywhere "$work/r" "the rate switch" 128 0x0 0xFFB000 0xFFC400 0xFFED80 0xFFEE00
echo "position-independent, 932 bytes ($used used); rate switch 128 bytes"
