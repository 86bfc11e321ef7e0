#!/bin/sh
# Runs a command on a virtual X server of its own, with a small window manager so that windows get
# and lose the focus as on a desktop, and ends both afterwards. The server picks a free display
# itself (-displayfd), so any number of these may run side by side; xvfb-run -a guesses one from
# lock files and, when several start at once, now and then leaves a server behind. Listing a test
# program's tests needs no display.
set -eu
case " $* " in *" --gtest_list_tests"*) exec "$@" ;; esac

# X11 even where a Wayland session leaks in; no accessibility bus to start or leak from; under
# AddressSanitizer, the caches fontconfig keeps to the end of the process are excused.
here=$(cd "$(dirname "$0")" && pwd)
export GDK_BACKEND=x11 NO_AT_BRIDGE=1
export LSAN_OPTIONS="suppressions=$here/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
unset WAYLAND_DISPLAY

work=$(mktemp -d /tmp/ovik-desktop.XXXXXX)
xvfb=""
wm=""
cleanup() {
  for pid in $wm $xvfb; do kill "$pid" 2>/dev/null || true; done
  for pid in $wm $xvfb; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP

# wait_for TEST FILE WHAT PID: until `test TEST FILE` holds, or PID has ended (ten seconds at most).
wait_for() {
  tries=0
  while ! test "$1" "$2"; do
    tries=$((tries + 1))
    if [ "$tries" -gt 200 ] || ! kill -0 "$4" 2>/dev/null; then
      echo "$3 did not start:" >&2
      cat "$work"/*.log >&2 || true
      exit 1
    fi
    sleep 0.05
  done
}

# The server takes every cookie of its authority file whatever display it names; clients look
# theirs up by the display number, known only once the server has chosen it.
cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
xauth -q -f "$work/server-auth" add :0 . "$cookie"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -auth "$work/server-auth" \
  3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
wait_for -s "$work/display" "the virtual X server" "$xvfb"
DISPLAY=":$(tr -d ' \n' <"$work/display")"
XAUTHORITY="$work/auth"
export DISPLAY XAUTHORITY
xauth -q add "$DISPLAY" . "$cookie"

# The window manager says when it manages the screen; windows mapped before that would not get
# the focus. Its own configuration is left as installed, its session management off.
openbox --sm-disable --startup "touch $work/ready-flag" >"$work/wm.log" 2>&1 &
wm=$!
wait_for -e "$work/ready-flag" "the window manager" "$wm"

status=0
"$@" || status=$?
exit "$status"
