#!/usr/bin/env bash
# scripts/lib/wine-run against a stand-in for wine that fails to start a
# program a given number of times (status 1, nothing printed), then runs it:
# a failed start is made again, at most three times in all; a program that
# printed something and failed, or succeeded, is run once and its status and
# output pass through.
# Usage: wine_run_test.sh PATH-TO-wine-run
set -uo pipefail
wine_run=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# The stand-in: each call is counted in $work/calls. While fewer than
# FAILED_STARTS calls were made it exits 1 silently; then it prints its
# arguments and exits with PROGRAM_STATUS.
mkdir "$work/bin"
cat >"$work/bin/wine" <<'STUB'
#!/usr/bin/env bash
calls=$(( $(cat "$WORK/calls" 2>/dev/null || echo 0) + 1 ))
echo "$calls" >"$WORK/calls"
[ "$calls" -le "$FAILED_STARTS" ] && exit 1
echo "ran: $*"
exit "$PROGRAM_STATUS"
STUB
chmod +x "$work/bin/wine"

# check FAILED_STARTS PROGRAM_STATUS EXPECTED_STATUS EXPECTED_CALLS EXPECTED_OUTPUT
check() {
  rm -f "$work/calls"
  local out status calls
  out=$(PATH="$work/bin:$PATH" WORK=$work VANTOR_WINE_RETRY_PAUSE=0 FAILED_STARTS=$1 PROGRAM_STATUS=$2 \
        "$wine_run" prog.exe --gtest_list_tests 2>"$work/err")
  status=$?
  calls=$(cat "$work/calls")
  if [ "$status" -ne "$3" ] || [ "$calls" -ne "$4" ] || [ "$out" != "$5" ]; then
    echo "FAIL: $1 failed starts, program status $2: got status $status after $calls calls," \
         "output '$out'; expected $3 after $4, '$5'"
    cat "$work/err"
    failures=$((failures + 1))
  fi
}

check 0 0 0 1 "ran: prog.exe --gtest_list_tests"
check 0 1 1 1 "ran: prog.exe --gtest_list_tests"   # a real failure is not run again
check 0 7 7 1 "ran: prog.exe --gtest_list_tests"
check 1 0 0 2 "ran: prog.exe --gtest_list_tests"
check 2 1 1 3 "ran: prog.exe --gtest_list_tests"
check 3 0 1 3 ""                                     # three failed starts: give up with status 1

if ! grep -q "prog.exe did not start (status 1, no output), attempt 3 of 3" "$work/err"; then
  echo "FAIL: the last failed start is not reported on stderr:"; cat "$work/err"
  failures=$((failures + 1))
fi

[ "$failures" -eq 0 ] && echo "wine-run: all cases passed"
exit $((failures > 0))
