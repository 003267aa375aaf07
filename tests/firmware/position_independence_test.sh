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

h8300-hms-as -I "$root/firmware" "$root/firmware/write_control.s" -o "$work/p.o"
first=""
for address in 0x0 0xFFB000 0xFFC402 0xFFD7F0; do
  h8300-hms-ld -mh8300s -T "$root/firmware/write_control.ld" -Ttext=$address "$work/p.o" \
    -o "$work/p_$address.elf"
  h8300-hms-objcopy -O binary -j .text "$work/p_$address.elf" "$work/p_$address.bin"
  size=$(stat -c %s "$work/p_$address.bin")
  if [ "$size" -ne 932 ]; then
    echo "linked at $address the program is $size bytes, not 932" >&2
    exit 1
  fi
  if [ -z "$first" ]; then
    first=$work/p_$address.bin
  elif ! cmp "$first" "$work/p_$address.bin"; then
    echo "the program's bytes change when it is linked at $address" >&2
    exit 1
  fi
done

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
first=""
for address in 0x0 0xFFB000 0xFFC400 0xFFED80 0xFFEE00; do
  h8300-hms-ld -mh8300s -T "$root/firmware/write_control.ld" -Ttext=$address "$work/r.o" \
    -o "$work/r_$address.elf"
  h8300-hms-objcopy -O binary -j .text "$work/r_$address.elf" "$work/r_$address.bin"
  size=$(stat -c %s "$work/r_$address.bin")
  if [ "$size" -ne 128 ]; then
    echo "linked at $address the rate switch is $size bytes, not 128" >&2
    exit 1
  fi
  if [ -z "$first" ]; then
    first=$work/r_$address.bin
  elif ! cmp "$first" "$work/r_$address.bin"; then
    echo "the rate switch's bytes change when it is linked at $address" >&2
    exit 1
  fi
done
echo "position-independent, 932 bytes ($used used); rate switch 128 bytes"
