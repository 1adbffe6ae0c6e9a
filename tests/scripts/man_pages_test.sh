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

# covers PAGE PROGRAM [COMMAND...]: PAGE renders cleanly and names each long
# option of the program's --help and of its commands' --help.
covers() {
  local page=$1 program=$2 command option count=0 warnings text
  shift 2
  warnings=$(LC_ALL=C.UTF-8 groff -t -man -ww -z "$man_dir/$page" 2>&1)
  [[ -z "$warnings" ]] || fail "$page: groff warns: $warnings"
  text=$(sed 's/\\-/-/g' "$man_dir/$page")
  # shellcheck disable=SC2086  # an empty command means the program's own help
  for option in $(for command in "" "$@"; do "$bin/$program" $command --help 2>&1; done |
    grep -o -- '--[a-z][a-z-]*' | sort -u); do
    count=$((count + 1))
    grep -qF -- "$option" <<<"$text" || fail "$page does not name $option"
  done
  [[ $count -gt 5 ]] || fail "only $count options found in the --help of $program"
}
# in_synopsis PAGE WORD...: the page's SYNOPSIS names each word.
in_synopsis() {
  local page=$1 word synopsis
  shift
  synopsis=$(sed -n '/^\.SH SYNOPSIS/,/^\.SH /p' "$man_dir/$page" | sed 's/\\-/-/g')
  for word in "$@"; do
    grep -qE -- "(^|[^a-z-])$word([^a-z-]|\$)" <<<"$synopsis" || fail "$page: the SYNOPSIS lacks $word"
  done
}

covers qznotesd.8 qznotesd
covers qznotes.1 qznotes send settings call test-gateway profiles
# The daemon's every option, and the client's every command.
# shellcheck disable=SC2046  # one word an option or command
in_synopsis qznotesd.8 $("$bin/qznotesd" --help | grep -o -- '--[a-z][a-z-]*' | sort -u)
# shellcheck disable=SC2046
in_synopsis qznotes.1 $("$bin/qznotes" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z-]*\).*/\1/p')

[[ $failures -eq 0 ]] || { echo "$failures check(s) failed"; exit 1; }
echo "all checks passed"
