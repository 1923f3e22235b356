#!/usr/bin/env bash
# A 32-bit Windows program run through scripts/wine-run on a machine that does
# not run 32-bit programs (made so on purpose here): nothing runs, one line
# says why, and the exit status is 77, which ctest reports as skipped. On a
# machine that does run them, the program runs and its status passes through.
# usage: wine_skip_test.sh PNGCOMMENT.EXE
set -u
run=$(dirname "$0")/../scripts/wine-run
exe=$1
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
failed=0
expect() {  # LABEL CONDITION...
  local label=$1
  shift
  if ! "$@"; then
    echo "FAIL: $label (status $status, stdout '$(cat "$out")', stderr '$(cat "$err")')"
    failed=1
  fi
}

# Files rather than pipes: a wineserver started by the program would hold a
# pipe open after it ends.
PNGCOMMENT_REFUSE_32BIT=1 "$run" win32 "$exe" --version >"$out" 2>"$err"
status=$?
expect "refused: skipped" test "$status" -eq 77
expect "refused: nothing ran" test ! -s "$out"
expect "refused: one line with the reason" test "$(wc -l <"$err")" -eq 1
expect "refused: the reason" grep -q '^skipped: this machine does not run 32-bit programs (Exec format error)' "$err"

if "$(dirname "$0")/../scripts/probe-32bit" >/dev/null; then
  "$run" win32 "$exe" --version >"$out" 2>"$err"
  status=$?
  expect "runs: the program's status" test "$status" -eq 0
  expect "runs: the program's output" grep -q pngcomment "$out"
  "$run" win32 "$exe" no-such-command >"$out" 2>"$err"
  status=$?
  expect "runs: a failure passes through" test "$status" -eq 2
fi
exit $failed
