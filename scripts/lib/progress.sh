# Sourced by scripts/test, scripts/bench and scripts/setup.
# quiet_watch LABEL: copies standard input to standard output line by line;
# when nothing comes for 25 s it says that LABEL is still running, so a long
# compile, install or test never leaves a silent terminal. Use it at the end
# of a pipe (set -o pipefail keeps the status of the command before it).
quiet_watch() {
  local label=$1 line rest='' start=$SECONDS status
  while true; do
    if IFS= read -r -t 25 line; then
      printf '%s%s\n' "$rest" "$line"
      rest=''
    else
      status=$?
      if ((status > 128)); then
        rest+=$line  # a timed-out read keeps the part of a line it got
        printf '%s: still running (%d s)\n' "$label" $((SECONDS - start))
      else
        [[ -z "$rest$line" ]] || printf '%s%s\n' "$rest" "$line"
        return 0
      fi
    fi
  done
}
