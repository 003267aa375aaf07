#!/usr/bin/env bash
# End to end over a pseudo-terminal: vantor and its POSIX serial code against
# vantor-board with a fault on the line. A flipped address bit of the first
# block goes unnoticed by the block protocol (success, flash differs); the
# check after the last block turns it into Err:0308 with the port closed.
# Usage: board_line_fault_test.sh VANTOR VANTOR-BOARD EXAMPLES-DIRECTORY
set -uo pipefail
vantor=$1
board=$2
file=$3/example.mot
work=$(mktemp -d)
board_pid=
trap '[ -n "$board_pid" ] && kill "$board_pid" 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The flash a clean write leaves, and the host bytes before the first block
# (counted from the byte after the erase answer), from the in-process board.
"$vantor" -y -q --board-dump "$work/clean.bin" "$file" sim || fail "clean write to sim"
prefix=$("$vantor" -y -v --no-verify "$file" sim 2>&1 |
  awk '/^フラッシュメモリ消去中/{s=1;next} s==1 && /^< AA/{s=2;next}
       s==2 && /^>/{n+=NF-1} s==2 && /^書き込み中/{print n; exit}')
[ -n "$prefix" ] || fail "no block in the trace"
fault="flip:$((prefix + 4)):2"  # bit 2 of the first block's third address byte

# The same fault on the built-in board.
"$vantor" --yes -q --no-verify --board-line-fault "$fault" "$file" sim --board-dump "$work/sim.bin" ||
  fail "--no-verify --board-line-fault $fault on sim failed"
cmp -s "$work/clean.bin" "$work/sim.bin" && fail "sim: the flash is right although $fault moved a block"
"$vantor" --yes -q --board-line-fault "$fault" "$file" sim 2>"$work/sim.err"
status=$?
[ "$status" -eq 1 ] && grep -qF "Err:0308" "$work/sim.err" ||
  { fail "sim: the checked write with $fault exited $status"; cat "$work/sim.err"; }
# Two faults at once: the one that strikes first decides (a lost data byte: 304).
"$vantor" --yes -q --board-line-fault "drop:$((prefix + 20))" --board-line-fault "$fault" "$file" sim \
  2>"$work/sim2.err"
grep -qF "Err:0304" "$work/sim2.err" || { fail "sim: two faults"; cat "$work/sim2.err"; }
for bad in flip:0:1 flip:5:8 flip:5 drop:x reply-flip:1: swap:1; do
  "$vantor" --board-line-fault "$bad" "$file" sim 2>/dev/null
  [ $? -eq 2 ] || fail "--board-line-fault $bad was accepted"
done
"$vantor" --board-line-fault drop:1 "$file" /dev/null 2>/dev/null
[ $? -eq 2 ] || fail "--board-line-fault with a port other than sim was accepted"

# start_board NAME: vantor-board with the fault, its slave path in $slave.
start_board() {
  "$board" --line-fault "$fault" --dump "$work/$1.bin" >"$work/$1.out" 2>"$work/$1.err" &
  board_pid=$!
  slave=
  for _ in $(seq 100); do
    slave=$(head -n 1 "$work/$1.out" 2>/dev/null)
    [ -n "$slave" ] && return
    sleep 0.05
  done
  fail "vantor-board printed no terminal"
}
stop_board() {
  kill -TERM "$board_pid"
  wait "$board_pid"
  board_pid=
}

start_board unchecked
"$vantor" -y -q --no-verify "$file" "$slave" 2>"$work/unchecked.vantor"
status=$?
stop_board
[ "$status" -eq 0 ] || { fail "--no-verify with $fault exited $status"; cat "$work/unchecked.vantor"; }
cmp -s "$work/clean.bin" "$work/unchecked.bin" && fail "the flash is right although $fault moved a block"

start_board checked
"$vantor" -y -q "$file" "$slave" 2>"$work/checked.vantor"
status=$?
stop_board
[ "$status" -eq 1 ] || fail "the checked write with $fault exited $status"
grep -qF "Err:0308 書き込んだ内容がファイルと一致しません" "$work/checked.vantor" ||
  { fail "no Err:0308:"; cat "$work/checked.vantor"; }
# The faults change bytes on the line, never the flash procedure.
grep -q "flash violation at" "$work/checked.err" && { fail "flash violations:"; cat "$work/checked.err"; }

[ "$failures" -eq 0 ] && echo "line fault checks over the pseudo-terminal passed"
exit $((failures > 0))
