# A private virtual X display, for scripts/test and scripts/demo (sourced).
#
# xvfb_start GEOMETRY LOG [FIRST [LAST]]
#   Starts Xvfb with one screen of GEOMETRY (WxHxDEPTH) on the first free
#   display number from FIRST to LAST (default 90 to 120), its output in LOG,
#   waits until it accepts connections and exports DISPLAY. Returns 1 when no
#   server came up.
# xvfb_stop
#   Stops that server (TERM, then KILL after 5 s); callers run it from their
#   EXIT trap, after the clients that need the display have gone.

xvfb_pid=""

xvfb_start() {
  local geometry=$1 log=$2 first=${3:-90} last=${4:-120} ready n
  ready=$(mktemp "${TMPDIR:-/tmp}/pixmoor-xvfb-XXXXXX")
  for n in $(seq "$first" "$last"); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    : >"$ready"
    # -noreset: by default the server resets whenever its last client leaves,
    # and refuses connections for a moment while it does; a viewer whose Qt
    # connects just then (after the viewer's own display check, or beside
    # another test) is ended by Qt. -displayfd: the server writes its number
    # there once it accepts connections. Its own session keeps a Ctrl-C meant
    # for the caller from taking the display away before the clients stop.
    setsid Xvfb ":$n" -screen 0 "$geometry" -nolisten tcp -noreset -displayfd 3 \
      3>"$ready" >"$log" 2>&1 </dev/null &
    xvfb_pid=$!
    for _ in $(seq 100); do
      [ -s "$ready" ] || ! kill -0 "$xvfb_pid" 2>/dev/null && break
      sleep 0.1
    done
    if [ -s "$ready" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
      rm -f "$ready"
      export DISPLAY=":$n"
      return 0
    fi
    xvfb_stop
  done
  rm -f "$ready"
  return 1
}

xvfb_stop() {
  [ -n "$xvfb_pid" ] || return 0
  kill -TERM "$xvfb_pid" 2>/dev/null || true
  for _ in $(seq 50); do
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
}
