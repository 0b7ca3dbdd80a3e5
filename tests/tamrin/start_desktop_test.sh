#!/usr/bin/env bash
# scripts/start-desktop against stand-in programs: missing, no display, running, failing at once,
# closed at once. The file name holds a space so that the printed command must quote it.
# Usage: start_desktop_test.sh SOURCE_DIR
set -uo pipefail
start="$1/scripts/start-desktop"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TAMRIN_START_SETTLE=0.5 TAMRIN_HOME="$work/home"
file="$work/sample disc.cue"
: >"$file"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
fake() { # fake NAME BODY: a program that records its arguments, then runs BODY
  printf '#!/usr/bin/env bash\nprintf "%%s\\n" "$@" >"%s/%s.args"\n%s\n' "$work" "$1" "$2" >"$work/$1"
  chmod +x "$work/$1"
}
run() { # run NAME [env...]: status into $status, stdout+stderr into $output
  local name=$1
  shift
  output=$(env "$@" "$start" "$work/$name" "$file" "$work/$name.log" 2>&1)
  status=$?
}

# Not built: explains how to build and start, with the file quoted.
run missing DISPLAY=:0
[ "$status" -eq 0 ] || fail "missing program: status $status"
grep -q -- '--target tamrin' <<<"$output" || fail "missing program: no build command in: $output"
grep -qF "$(printf '%q' "$file")" <<<"$output" || fail "missing program: file not quoted in: $output"

# No display: explains, never starts.
fake quiet 'exit 0'
run quiet -u DISPLAY -u WAYLAND_DISPLAY
[ "$status" -eq 0 ] || fail "no display: status $status"
[ -e "$work/quiet.args" ] && fail "no display: the program was started"
grep -q 'No display' <<<"$output" || fail "no display: no explanation in: $output"
grep -qF "TAMRIN_HOME=" <<<"$output" || fail "no display: the command lacks TAMRIN_HOME: $output"

# A display: started detached on the file, still running after the settle time.
fake running 'exec sleep 20'
run running DISPLAY=:0
[ "$status" -eq 0 ] || fail "running: status $status: $output"
pid=$(sed -n 's/.*(process \([0-9]*\)).*/\1/p' <<<"$output")
if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
  kill "$pid"
else
  fail "running: no live process reported: $output"
fi
[ "$(cat "$work/running.args" 2>/dev/null)" = "$file" ] || fail "running: not started on the file"

# Wayland alone counts as a display; a program that fails at once is reported with its messages.
fake broken 'echo "cannot open the display" >&2; exit 3'
run broken -u DISPLAY WAYLAND_DISPLAY=wayland-0
[ "$status" -eq 1 ] || fail "broken: status $status"
grep -q 'status 3' <<<"$output" || fail "broken: exit status not reported: $output"
grep -q 'cannot open the display' <<<"$output" || fail "broken: its messages not shown: $output"

# Closed at once without an error is not a failure.
run quiet DISPLAY=:0
[ "$status" -eq 0 ] || fail "closed at once: status $status"
grep -q 'already been closed' <<<"$output" || fail "closed at once: $output"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "start-desktop: 5 cases passed"
