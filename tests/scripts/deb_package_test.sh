#!/usr/bin/env bash
# The Debian package: builds it with scripts/package, checks what it holds,
# installs it into a scratch root with dpkg (the maintainer scripts honour
# DPKG_ROOT, so this machine is left alone), runs the installed daemon and
# client on a private bus against the installed program
# folder, reinstalls it over changed settings and a folder an older version
# left to root, purges it, and lints it.
# Usage: deb_package_test.sh SOURCE_DIR
set -uo pipefail
source_dir=$1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() {  # check DESCRIPTION COMMAND...: the command succeeds
  local what=$1
  shift
  "$@" >/dev/null 2>&1 || fail "$what"
}

scratch=$(mktemp -d /tmp/qznotes-deb-test.XXXXXX)
pids=()
finish() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$scratch"
}
trap finish EXIT

deb=$("$source_dir/scripts/package" | tail -n 1)
if [[ ! -f "$deb" ]]; then
  echo "FAIL: scripts/package built no package"
  exit 1
fi
version=$(sed -n 's/^project(qznotes VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
[[ "$(basename "$deb")" == "qznotes_${version}_$(dpkg --print-architecture).deb" ]] ||
  fail "package file name $(basename "$deb"), expected qznotes_${version}_<arch>.deb"

# --- What the package holds beyond what installing and running it below
# uses, and nothing of the build.
contents=$(dpkg-deb -c "$deb" | awk '{ print $6 ($7 == "->" ? " -> " $8 : "") }')
for path in ./usr/share/dbus-1/system-services/org.qznotes.QzNotes.service \
  ./usr/share/dbus-1/system.d/org.qznotes.QzNotes.conf ./usr/share/man/man1/qznotes.1.gz \
  ./usr/share/man/man8/qznotesd.8.gz ./usr/share/doc/qznotes/copyright \
  ./usr/share/doc/qznotes/changelog.gz ./usr/lib/tmpfiles.d/qznotes.conf \
  "./etc/qznotes -> /var/lib/qznotes"; do
  grep -qxF -- "$path" <<<"$contents" || fail "the package lacks $path"
done
! grep -E 'qznotes_tests|_bench|-sim|/usr/local|CMakeFiles' <<<"$contents" ||
  fail "the package holds build or test files"

# --- Installing into a scratch root runs the maintainer scripts; they touch
# nothing outside it.
users_before=$(getent passwd qznotes)
root=$scratch/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status"
# Its dependencies are this machine's, not the scratch root's: forced.
dpkg_in_root=(dpkg --root="$root" --force-script-chrootless --force-depends)
[[ $(id -u) -eq 0 ]] || dpkg_in_root+=(--force-not-root)
"${dpkg_in_root[@]}" -i "$deb" >"$scratch/dpkg.out" 2>&1 ||
  fail "dpkg -i into the scratch root failed: $(cat "$scratch/dpkg.out")"
check "the system user qznotes exists, home /var/lib/qznotes, no login" \
  grep -qE '^qznotes:x:[0-9]+:[0-9]+:[^:]*:/var/lib/qznotes:/usr/sbin/nologin$' "$root/etc/passwd"
check "the group qznotes exists" grep -qE '^qznotes:x:[0-9]+:' "$root/etc/group"
[[ "$(getent passwd qznotes)" == "$users_before" ]] || fail "installing changed this machine's users"
# The configured files name the daemon by its installed path.
check "the unit runs /usr/bin/qznotesd on the system bus in /var/lib/qznotes" \
  grep -qx 'ExecStart=/usr/bin/qznotesd --system --folder /var/lib/qznotes --shutdown-grace 240' \
  "$root/usr/lib/systemd/system/qznotesd.service"
check "session activation names /usr/bin/qznotesd" \
  grep -qx 'Exec=/usr/bin/qznotesd' "$root/usr/share/dbus-1/services/org.qznotes.QzNotes.service"
unit=$root/usr/lib/systemd/system/qznotesd.service
for line in User=qznotes Group=qznotes SupplementaryGroups=dialout; do
  check "the unit has $line" grep -qx "$line" "$unit"
done
check "system activation runs the daemon as qznotes too" \
  grep -qx 'User=qznotes' "$root/usr/share/dbus-1/system-services/org.qznotes.QzNotes.service"
if exposure=$(systemd-analyze security --offline=yes "$unit" 2>&1 | sed -n 's/.*exposure level.*: \([0-9.]*\) .*/\1/p') &&
  [[ -n "$exposure" ]]; then
  awk -v e="$exposure" 'BEGIN { exit !(e <= 2.0) }' || fail "the unit's exposure is $exposure, above 2.0"
else
  fail "systemd-analyze security could not rate the unit"
fi
! readelf -S "$root/usr/bin/qznotesd" | grep -qF .debug_info ||
  fail "the packaged daemon carries debug information (not stripped)"
for ini in QzNotes.ini QzPage.ini QzSNPP.ini QzSMS.ini; do
  check "the program folder holds the sample $ini" \
    cmp -s "$root/usr/share/qznotes/$ini" "$root/var/lib/qznotes/$ini"
  [[ $(stat -c %a "$root/var/lib/qznotes/$ini") == 640 ]] || fail "$ini is open to others"
done
[[ $(stat -c %a "$root/var/lib/qznotes") == 750 ]] ||
  fail "the program folder is $(stat -c %a "$root/var/lib/qznotes"), not 750"
# The daemon's user: the scratch root's, which this machine may not know.
ids=$(awk -F: '$1 == "qznotes" { print $3 ":" $4 }' "$root/etc/passwd")
owned_by_daemon() {  # the folder and all in it belong to qznotes
  [[ $(id -u) -ne 0 ]] && return 0
  [[ -z $(find "$root/var/lib/qznotes" ! \( -uid "${ids%:*}" -gid "${ids#*:}" \) -print -quit) ]]
}
owned_by_daemon || fail "the program folder is not all qznotes's: $(ls -lan "$root/var/lib/qznotes")"

# The installed programs serve the installed program folder.
bus_out=$(dbus-daemon --session --fork --print-address=1 --print-pid=1 --nopidfile) ||
  fail "no private bus"
address=$(sed -n 1p <<<"$bus_out")
pids+=("$(sed -n 2p <<<"$bus_out")")
"$root/usr/bin/qznotesd" --address "$address" --folder "$root/var/lib/qznotes" --linger forever \
  2>"$scratch/qznotesd.err" &
pids+=($!)
gdbus wait --address "$address" --timeout 60 org.qznotes.QzNotes ||
  fail "the installed qznotesd did not take its name: $(cat "$scratch/qznotesd.err")"
answer=$("$root/usr/bin/qznotes" --address "$address" settings set Default Index=1 2>&1)
[[ "$answer" == true ]] || fail "settings set Default Index=1 was not written: $answer"
# An older version's daemon ran as root: the reinstall hands its folder over.
if [[ $(id -u) -eq 0 ]]; then
  chown -R 0:0 "$root/var/lib/qznotes"
  chmod 2750 "$root/var/lib/qznotes"
fi
"${dpkg_in_root[@]}" -i "$deb" >/dev/null 2>&1 || fail "reinstalling failed"
check "a reinstall keeps the changed QzNotes.ini" grep -qx 'Index=1' "$root/var/lib/qznotes/QzNotes.ini"
owned_by_daemon || fail "a reinstall left root files in the folder: $(ls -lan "$root/var/lib/qznotes")"
[[ $(stat -c %a "$root/var/lib/qznotes") == 750 ]] ||
  fail "after a reinstall the program folder is $(stat -c %a "$root/var/lib/qznotes"), not 750"

# Purging removes the programs and the program folder.
"${dpkg_in_root[@]}" --purge qznotes >/dev/null 2>&1 || fail "dpkg --purge failed"
for gone in usr/bin/qznotesd var/lib/qznotes etc/qznotes; do
  [[ ! -e "$root/$gone" && ! -L "$root/$gone" ]] || fail "purge left /$gone"
done

# scripts/setup installs lintian; no error and no warning passes.
lintian --fail-on error,warning "$deb" || fail "lintian reports errors or warnings"
[[ $failures -eq 0 ]] || { echo "$failures check(s) failed"; exit 1; }
echo "all checks passed"
