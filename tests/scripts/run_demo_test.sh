#!/usr/bin/env bash
# End to end test of the quick start's delivery path: scripts/run with the
# programs already built in BUILD_DIR, on a private session bus, against the
# loopback SNPP simulator and SMTP sink it starts itself. Checks what the
# demo shows, that its exit status is the delivering client's, and that
# nothing it started outlives it.
# Usage: run_demo_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
source_dir=$1
build_dir=$2
failures=0
fail() { echo "FAIL [$case_name]: $*"; failures=$((failures + 1)); }

# expect TEXT: the demo's output holds this line fragment (fixed string).
expect() { grep -qF -- "$1" <<<"$output" || fail "output lacks: $1"; }
expect_line() { grep -qxF -- "$1" <<<"$output" || fail "output lacks the line: $1"; }
refuse() { ! grep -qF -- "$1" <<<"$output" || fail "output has: $1"; }

run_case() {
  case_name=$1 expected_status=$2
  shift 2
  local status=0
  # An empty DBUS_SESSION_BUS_ADDRESS makes scripts/run start a private bus.
  output=$(cd /tmp && DBUS_SESSION_BUS_ADDRESS="" QZ_RUN_BIN="$build_dir" \
    "$source_dir/scripts/run" "$@" 2>&1) || status=$?
  echo "----- scripts/run $* (exit $status)"
  echo "$output"
  [[ $status -eq $expected_status ]] || fail "exit status $status, expected $expected_status"
  expect "run: qznotes exited 1 (expected 1: this one is not counted)"
  expect "550 5.1.1 <gone@example.org>: Recipient address rejected"
  expect "Mail Status:"
  expect "run: done; the delivering request's client exited $expected_status"
  stopped_everything
}

# What the demo shows of a request that reached the server.
expect_demo_shown() {
  expect "answer:   Notes Server: Asynch mode    test id: run-demo"
  expect "from qznotes@example.org"
  expect "to ops@example.org"
  expect "Subject: Disk /var on db1 is 95% full"
  expect "$(printf 'recv\tPAGE "5551234"')"
  expect "$(printf 'recv\tMESSAGE "Disk /var on db1 is 95%% full"')"
  expect "$(printf 'sent\t250 Message Sent OK')"
}

# Everything the demo started is gone once it has returned.
stopped_everything() {
  local scratch
  scratch=$(grep -o '/tmp/qznotes-run\.[A-Za-z0-9]*' <<<"$output" | head -n 1)
  if [[ -z "$scratch" ]]; then
    fail "no scratch folder named"
  else
    [[ ! -e "$scratch" ]] || fail "scratch folder $scratch left behind"
    local p
    for p in /proc/[0-9]*; do
      if tr "\\0" " " 2>/dev/null <"$p/cmdline" | grep -qF "$scratch"; then
        fail "process ${p#/proc/} still runs: $(tr '\0' ' ' <"$p/cmdline")"
      fi
    done
  fi
}

run_case delivered 0
expect_demo_shown
expect_line "QzNotes: Message Sent"
refuse "no mail arrived"
refuse "no page arrived"

# A recipient the sink refuses makes the delivering request undeliverable:
# the demo then exits 1, as its client did, and the log holds both entries.
run_case undeliverable 1 -e gone@example.org
expect_demo_shown
expect "run: qznotes exited 1 (0: Message Sent, 1: undeliverable, 2: usage or bus error)"
[[ $(grep -c '^  | 550 5.1.1 <gone@example.org>' <<<"$output") -eq 2 ]] ||
  fail "the log should hold two refusals of gone@example.org"

# A usage error of the client is a failure of the demo too.
run_case usage 2 --no-such-option
expect "run: qznotes exited 2"
expect "(no mail arrived)"

if [[ $failures -ne 0 ]]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
