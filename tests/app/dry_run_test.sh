#!/usr/bin/env bash
# End to end: vantor --dry-run on good and bad files, checking the exit
# status, stdout and the message on stderr.
# Usage: dry_run_test.sh VANTOR EXAMPLES-DIRECTORY
set -uo pipefail
vantor=$1
examples=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# expect STATUS STDERR-TEXT STDOUT-TEXT ARGS...
expect() {
  local status=$1 err=$2 out=$3
  shift 3
  "$vantor" "$@" >"$work/out" 2>"$work/err"
  local got=$?
  if [ "$got" -ne "$status" ]; then
    echo "FAIL: vantor $* exited $got, expected $status"; cat "$work/err"; failures=$((failures + 1))
  fi
  if [ -n "$err" ] && ! grep -qF -- "$err" "$work/err"; then
    echo "FAIL: vantor $*: stderr lacks '$err':"; cat "$work/err"; failures=$((failures + 1))
  fi
  if [ -n "$out" ] && ! grep -qF -- "$out" "$work/out"; then
    echo "FAIL: vantor $*: stdout lacks '$out':"; cat "$work/out"; failures=$((failures + 1))
  fi
}

printf 'S00600004844521B\r\nS1130080000102030405060708090A0B0C0D0E0F64\r\nS9030000FC\r\n' >"$work/good.mot"
printf 'S\003\006\000\000\000\200\252\000\nS\007\n' >"$work/good.QPF"
printf 'S1130000000102030405060708090A0B0C0D0E0F74\n' >"$work/noend.mot"
printf '\nS9030000FC\n' >"$work/blank.mot"
printf 'S5030000FC\n' >"$work/count.mot"
printf 'S2080400000102030400\nS9030000FC\n' >"$work/high.mot"
printf 'S\007\r\n' >"$work/crlf.qpf"
printf 'S\003\006\000\004\000\000\001\000\nS\007\n' >"$work/high.qpf"
cp "$work/good.mot" "$work/good.txt"

expect 0 "" "h'00000080 - h'000000FF" --dry-run "$work/good.mot"
expect 0 "" "continuation: 1" --dry-run "$work/good.mot"
expect 0 "" "with address: 0, continuation: 1" --dry-run "$work/good.QPF"
# good.mot's data record has a wrong checksum: a warning, or 106 with --strict.
expect 0 "警告: チェックサムが違うレコードが1件あります(最初は2行目)" "h'00000080" --dry-run "$work/good.mot"
expect 1 "Err:0106 チェックサムが違うレコードがあります" "" --strict --dry-run "$work/good.mot"
expect 0 "" "non-blank 128-byte blocks: 9" --strict --dry-run "$examples/example.mot"
if "$vantor" --dry-run "$examples/example.mot" 2>&1 >/dev/null | grep -q "警告"; then
  echo "FAIL: the example file warns of wrong checksums"; failures=$((failures + 1))
fi
expect 1 "Err:0100 レコードがありません" "" --dry-run "$work/noend.mot"
expect 1 "Err:0101 レコードが異常です" "" --dry-run "$work/blank.mot"
expect 1 "Err:0101 レコードが異常です" "" --dry-run "$work/crlf.qpf"
expect 1 "Err:0102 レコードタイプが異常です" "" --dry-run "$work/count.mot"
expect 1 "Err:0103 ファイルが見つかりません" "" --dry-run "$work/absent.mot"
expect 1 "Err:0104 ロードデータがバッファサイズを越えました" "" --dry-run "$work/high.mot"
expect 1 "Err:0104 ロードデータがバッファサイズを越えました" "" --dry-run "$work/high.qpf"
expect 1 "Err:0105 拡張子が *.mot, *.qpf 以外です" "" --dry-run "$work/good.txt"
expect 2 "usage:" "" --dry-run
expect 2 "unknown option" "" --frobnicate "$work/good.mot"
# An empty FILE is an empty file field, in a write as in a dry run: the port
# after it is never taken for the file.
expect 1 "Err:0030 ファイルが選択されていません" "" "" COM1
expect 1 "Err:0030 ファイルが選択されていません" "" --dry-run ""
# The virtual board's clock outside its range is refused before anything runs.
expect 2 "--board-clock must be between 2 and 20 MHz (2000000 to 20000000 Hz)" "" \
  --board-clock 25000000 "$work/good.mot" sim
expect 0 "" "usage:" --help
expect 0 "" "vantor 2.3.0" --version

# The two example files hold the same image: the same plan.
"$vantor" --dry-run "$examples/example.mot" | tail -n +2 >"$work/plan.mot"
"$vantor" --dry-run "$examples/example.qpf" | tail -n +2 >"$work/plan.qpf"
if ! grep -q "non-blank 128-byte blocks: 9" "$work/plan.mot" || ! cmp -s "$work/plan.mot" "$work/plan.qpf"; then
  echo "FAIL: the example files give different plans"; diff "$work/plan.mot" "$work/plan.qpf"
  failures=$((failures + 1))
fi

[ "$failures" -eq 0 ] && echo "all dry-run checks passed"
exit $((failures > 0))
