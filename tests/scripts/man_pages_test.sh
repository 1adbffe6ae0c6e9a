#!/usr/bin/env bash
# The manual pages render without a groff warning, and name every option
# that the programs' own --help lists, so a new option cannot go
# undocumented there.
# Usage: man_pages_test.sh BUILD_DIR
set -uo pipefail
bin=$1
man_dir=$bin/packaging/man  # configured from packaging/man/*.in
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

for page in qznotesd.8 qznotes.1; do
  warnings=$(LC_ALL=C.UTF-8 groff -t -man -ww -z "$man_dir/$page" 2>&1)
  [[ -z "$warnings" ]] || fail "$page: groff warns: $warnings"
done

# options PROGRAM [COMMAND...]: the long options its --help texts name.
options() {
  local program=$1 command
  shift
  for command in "" "$@"; do
    # shellcheck disable=SC2086  # an empty command means the program's own help
    "$bin/$program" $command --help 2>&1 | grep -o -- '--[a-z][a-z-]*'
  done | sort -u
}
covers() {
  local page=$1 option text
  shift
  text=$(sed 's/\\-/-/g' "$man_dir/$page")
  local count=0
  for option in "$@"; do
    count=$((count + 1))
    grep -qF -- "$option" <<<"$text" || fail "$page does not name $option"
  done
  [[ $count -gt 5 ]] || fail "only $count options found in the --help of $page's program"
}
mapfile -t daemon_options < <(options qznotesd)
covers qznotesd.8 "${daemon_options[@]}"
mapfile -t client_options < <(options qznotes send settings call test-gateway profiles)
covers qznotes.1 "${client_options[@]}"

if [[ $failures -ne 0 ]]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
