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
# expect TEXT...: the demo's output holds each line fragment (fixed strings).
expect() {
  local text
  for text in "$@"; do grep -qF -- "$text" <<<"$output" || fail "output lacks: $text"; done
}

run_case() {
  case_name=$1 expected_status=$2
  shift 2
  local status=0 scratch p
  # An empty DBUS_SESSION_BUS_ADDRESS makes scripts/run start a private bus.
  output=$(cd /tmp && DBUS_SESSION_BUS_ADDRESS="" QZ_RUN_BIN="$build_dir" \
    "$source_dir/scripts/run" "$@" 2>&1) || status=$?
  echo "----- scripts/run $* (exit $status)"
  echo "$output"
  [[ $status -eq $expected_status ]] || fail "exit status $status, expected $expected_status"
  expect "run: qznotes exited 1 (expected 1: this one is not counted)" \
    "550 5.1.1 <gone@example.org>: Recipient address rejected" "Mail Status:" \
    "run: done; the delivering request's client exited $expected_status"
  # Everything the demo started is gone once it has returned.
  scratch=$(grep -o '/tmp/qznotes-run\.[A-Za-z0-9]*' <<<"$output" | head -n 1)
  [[ -n "$scratch" ]] || fail "no scratch folder named"
  [[ -z "$scratch" || ! -e "$scratch" ]] || fail "scratch folder $scratch left behind"
  for p in /proc/[0-9]*; do
    if [[ -n "$scratch" ]] && tr "\\0" " " 2>/dev/null <"$p/cmdline" | grep -qF "$scratch"; then
      fail "process ${p#/proc/} still runs: $(tr '\0' ' ' <"$p/cmdline")"
    fi
  done
}

# What the demo shows of a request that reached the server.
shown=("answer:   Notes Server: Asynch mode    test id: run-demo" "to ops@example.org"
  "Subject: Disk /var on db1 is 95% full" "$(printf 'recv\tPAGE "5551234"')"
  "$(printf 'recv\tMESSAGE "Disk /var on db1 is 95%% full"')" "$(printf 'sent\t250 Message Sent OK')")

run_case delivered 0
expect "${shown[@]}"
grep -qxF "QzNotes: Message Sent" <<<"$output" || fail "no line QzNotes: Message Sent"
! grep -qE "no (mail|page) arrived" <<<"$output" || fail "the mail or the page did not arrive"

# A recipient the sink refuses makes the delivering request undeliverable:
# the demo then exits 1, as its client did, and the log holds both entries.
run_case undeliverable 1 -e gone@example.org
expect "${shown[@]}" "run: qznotes exited 1 (0: Message Sent, 1: undeliverable, 2: usage or bus error)"
[[ $(grep -c '^  | 550 5.1.1 <gone@example.org>' <<<"$output") -eq 2 ]] ||
  fail "the log should hold two refusals of gone@example.org"

[[ $failures -eq 0 ]] || { echo "$failures check(s) failed"; exit 1; }
echo "all checks passed"
